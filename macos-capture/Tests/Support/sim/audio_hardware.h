// Simulated audio hardware: a table of devices and default-device settings behind the five
// property calls. Any call on any property can be made to fail, any value replaced by raw
// bytes, and every call and write is recorded.
#pragma once

#include "platform/audio_hardware.h"

#include <map>
#include <optional>
#include <tuple>
#include <vector>

namespace tovanel::sim {

using platform::AudioObjectID;
using platform::OSStatus;

class SimAudioHardware : public platform::AudioHardware {
  public:
    enum class Call { size, data, string, has, settable, set };
    struct Device {
        std::optional<std::string> name; // none: reading it fails
        std::optional<std::string> uid;
        std::vector<std::uint32_t> inputs;  // channels per stream-configuration record
        std::vector<std::uint32_t> outputs; // channels per stream-configuration record
        std::map<std::uint32_t, bool> volume; // output volume elements: settable or not
    };
    // A value given as bytes: `size` is what the size query answers, `bytes` what is delivered.
    struct Raw {
        std::vector<std::uint8_t> bytes;
        std::optional<std::uint32_t> size;
    };
    using Key = std::tuple<AudioObjectID, std::uint32_t, std::uint32_t>; // object, selector, scope

    static constexpr OSStatus kUnknownProperty = platform::fourCharCode("who?");

    // Adds a device to the end of the system's device list; identifiers start at 100.
    AudioObjectID add(Device device);

    std::map<AudioObjectID, Device> devices;
    std::vector<AudioObjectID> deviceList;            // what "dev#" reports
    std::map<std::uint32_t, AudioObjectID> defaults;  // "dOut", "sOut", "dIn " on the system
    std::map<std::tuple<Call, Key>, OSStatus> faults; // scope 0 stands for every scope
    std::map<Key, Raw> raw;
    std::vector<std::pair<std::uint32_t, AudioObjectID>> writes; // selector, device
    std::vector<std::tuple<Call, Key, std::uint32_t>> calls;     // with the element

    void fail(Call call, AudioObjectID object, std::uint32_t selector, OSStatus status,
              std::uint32_t scope = 0) {
        faults[{call, {object, selector, scope}}] = status;
    }
    int callCount(Call call, std::uint32_t selector) const;

    OSStatus getPropertyDataSize(AudioObjectID object,
                                 const platform::AudioObjectPropertyAddress& address,
                                 std::uint32_t& outDataSize) override;
    OSStatus getPropertyData(AudioObjectID object,
                             const platform::AudioObjectPropertyAddress& address,
                             std::uint32_t& ioDataSize, void* outData) override;
    OSStatus getStringPropertyData(AudioObjectID object,
                                   const platform::AudioObjectPropertyAddress& address,
                                   std::string& outValue) override;
    bool hasProperty(AudioObjectID object,
                     const platform::AudioObjectPropertyAddress& address) override;
    OSStatus isPropertySettable(AudioObjectID object,
                                const platform::AudioObjectPropertyAddress& address,
                                bool& outIsSettable) override;
    OSStatus setPropertyData(AudioObjectID object,
                             const platform::AudioObjectPropertyAddress& address,
                             std::uint32_t dataSize, const void* data) override;

  private:
    // Records the call; the injected status for it, if any.
    std::optional<OSStatus> enter(Call call, AudioObjectID object,
                                  const platform::AudioObjectPropertyAddress& address);
    std::optional<Raw> valueOf(AudioObjectID object,
                               const platform::AudioObjectPropertyAddress& address) const;
    AudioObjectID next_ = 100;
};

// The bytes of an audio buffer list whose records carry these channel counts.
std::vector<std::uint8_t> bufferListBytes(const std::vector<std::uint32_t>& channels);

} // namespace tovanel::sim
