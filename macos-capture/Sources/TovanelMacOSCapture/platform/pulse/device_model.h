// How the server's sinks and sources look as audio hardware objects: a sink with its monitor is
// one device with output and input channels, a source that is no monitor is an input-only
// device; names are descriptions, UIDs are server names; the default sink answers both default
// output properties, and a sink chosen as default input means its monitor. Pure translation of
// a snapshot of the server, with no libpulse in it, so it is tested without a server.
#pragma once

#include "platform/audio_hardware.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tovanel::platform::pulse {

struct SinkSnapshot {
    std::string name;
    std::string description;
    std::uint32_t channels = 0;
    std::string monitorSource; // the name of its monitor source
    std::uint32_t monitorChannels = 0;
};

struct SourceSnapshot {
    std::string name;
    std::string description;
    std::uint32_t channels = 0;
    bool isMonitor = false;
};

struct ServerSnapshot {
    std::vector<SinkSnapshot> sinks;     // in the server's order
    std::vector<SourceSnapshot> sources; // in the server's order
    std::string defaultSink;
    std::string defaultSource;
    std::string serverName; // as the server calls itself, for messages
};

// The default source by its own name, when the server names one it lists.
std::optional<std::string> defaultSourceName(const ServerSnapshot& snapshot);

// A default-device write as the server understands it.
struct DefaultWrite {
    enum class Target { sink, source };
    Target target = Target::sink;
    std::string name;
};

// Gives every device a stable identifier for the life of the process, never 0 or 1: the same
// server name always maps to the same identifier, whatever the server's indexes do.
class DeviceIdentifiers {
  public:
    enum class Kind { sink, source };
    struct Device {
        Kind kind;
        std::string name;
    };

    AudioObjectID idFor(Kind kind, const std::string& name);
    std::optional<Device> deviceFor(AudioObjectID id) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::pair<Kind, std::string>, AudioObjectID> ids_;
    std::map<AudioObjectID, Device> devices_;
    AudioObjectID next_ = 100;
};

// Answers the property calls from a snapshot. Statuses are CoreAudio's: 'who?' for a property
// the object does not have, '!obj' for an unknown object.
class DeviceModel {
  public:
    static constexpr OSStatus kUnknownProperty = static_cast<OSStatus>(fourCharCode("who?"));
    static constexpr OSStatus kBadObject = static_cast<OSStatus>(fourCharCode("!obj"));
    static constexpr OSStatus kBadPropertySize = static_cast<OSStatus>(fourCharCode("!siz"));

    DeviceModel(const ServerSnapshot& snapshot, DeviceIdentifiers& identifiers);

    // The value of a byte-valued property.
    OSStatus value(AudioObjectID object, const AudioObjectPropertyAddress& address,
                   std::vector<std::uint8_t>& bytes) const;
    OSStatus stringValue(AudioObjectID object, const AudioObjectPropertyAddress& address,
                         std::string& value) const;
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) const;
    OSStatus isSettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                        bool& settable) const;
    // What setting `address` of the system object to `data` means on the server.
    OSStatus planWrite(AudioObjectID object, const AudioObjectPropertyAddress& address,
                       std::uint32_t dataSize, const void* data, DefaultWrite& write) const;

  private:
    const SinkSnapshot* sinkFor(AudioObjectID id) const;
    const SourceSnapshot* sourceFor(AudioObjectID id) const;
    std::optional<AudioObjectID> defaultInputDevice() const;

    const ServerSnapshot& snapshot_;
    DeviceIdentifiers& identifiers_;
};

} // namespace tovanel::platform::pulse
