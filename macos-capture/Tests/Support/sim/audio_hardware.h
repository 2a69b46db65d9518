// Simulated audio hardware: an in-memory table of devices and system properties behind the five
// property calls, where any call can be made to fail or to deliver short, and every call and
// write is recorded.
#pragma once

#include "platform/audio_hardware.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace tovanel::sim {

using platform::AudioObjectID;
using platform::AudioObjectPropertyAddress;
using platform::OSStatus;

class SimAudioHardware : public platform::AudioHardware {
  public:
    enum class Call {
        getPropertyDataSize,
        getPropertyData,
        getStringPropertyData,
        hasProperty,
        isPropertySettable,
        setPropertyData,
    };
    struct CallRecord {
        Call call;
        AudioObjectID object;
        AudioObjectPropertyAddress address;
    };
    // A setPropertyData call on the system object: which default, set to which device.
    struct Write {
        std::uint32_t selector;
        AudioObjectID device;
        friend bool operator==(const Write&, const Write&) = default;
    };
    struct VolumeElement {
        bool settable = true;
        OSStatus settableStatus = 0; // status of isPropertySettable
    };
    struct Device {
        std::optional<std::string> name;                     // none: reading it fails
        std::optional<std::string> uid;                      // none: reading it fails
        std::vector<std::uint32_t> inputBuffers;             // channel count per buffer record
        std::vector<std::uint32_t> outputBuffers;            // channel count per buffer record
        std::map<std::uint32_t, VolumeElement> outputVolume; // elements that have a volume
    };

    // Statuses the simulation answers with, as CoreAudio would.
    static constexpr OSStatus kUnknownProperty =
        static_cast<OSStatus>(platform::fourCharCode("who?"));
    static constexpr OSStatus kBadObject = static_cast<OSStatus>(platform::fourCharCode("!obj"));

    // Adds a device at the end of the device list; identifiers start at 100, never 0 or 1.
    AudioObjectID addDevice(Device device);
    // Replaces the device list the system object reports (order, gaps, unknown identifiers).
    void setDeviceList(std::vector<AudioObjectID> devices);
    // Sets a default-device property ("dOut", "sOut", "dIn ") without recording a write.
    void setDefault(std::uint32_t selector, AudioObjectID device);
    AudioObjectID defaultDevice(std::uint32_t selector) const;
    // Makes the size and data calls for this property deliver exactly `bytes`.
    void setRawValue(AudioObjectID object, const AudioObjectPropertyAddress& address,
                     std::vector<std::uint8_t> bytes);
    // Makes `call` on this property answer `status` (hasProperty answers false).
    void failCall(Call call, AudioObjectID object, const AudioObjectPropertyAddress& address,
                  OSStatus status);
    // Makes getPropertyData on this property deliver at most `bytes` bytes.
    void deliverAtMost(AudioObjectID object, const AudioObjectPropertyAddress& address,
                       std::uint32_t bytes);

    std::vector<CallRecord> calls() const;
    std::vector<Write> writes() const;
    // True when some recorded call touched this property.
    bool wasCalled(Call call, AudioObjectID object, std::uint32_t selector) const;

    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& outDataSize) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t& ioDataSize, void* outData) override;
    OSStatus getStringPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::string& outValue) override;
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override;
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                bool& outIsSettable) override;
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t dataSize, const void* data) override;

    // The bytes of a stream-configuration buffer list with these channel counts.
    static std::vector<std::uint8_t> bufferList(const std::vector<std::uint32_t>& channels);

  private:
    using Key = std::tuple<AudioObjectID, std::uint32_t, std::uint32_t, std::uint32_t>;
    static Key keyOf(AudioObjectID object, const AudioObjectPropertyAddress& address);
    std::optional<OSStatus> injectedFailure(Call call, AudioObjectID object,
                                            const AudioObjectPropertyAddress& address) const;
    // The value of a byte-valued property, or the status that reading it gives.
    OSStatus valueOf(AudioObjectID object, const AudioObjectPropertyAddress& address,
                     std::vector<std::uint8_t>& value) const;
    void record(Call call, AudioObjectID object, const AudioObjectPropertyAddress& address);

    mutable std::mutex mutex_;
    std::map<AudioObjectID, Device> devices_;
    std::vector<AudioObjectID> deviceList_;
    std::map<std::uint32_t, AudioObjectID> defaults_;
    std::map<Key, std::vector<std::uint8_t>> rawValues_;
    std::map<std::tuple<Call, Key>, OSStatus> failures_;
    std::map<Key, std::uint32_t> deliveryLimits_;
    std::vector<CallRecord> calls_;
    std::vector<Write> writes_;
    AudioObjectID nextDevice_ = 100;
};

} // namespace tovanel::sim
