// Simulated audio hardware: devices and default-device settings behind the five property calls.
// Any call on any property can fail, any value be replaced by raw bytes; every write is recorded.
#pragma once

#include "platform/audio_hardware.h"
#include "platform/audio_types.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

namespace tovanel::sim {

using namespace platform;

// The bytes of an audio buffer list whose records carry these channel counts.
inline std::vector<std::uint8_t> bufferListBytes(const std::vector<std::uint32_t>& channels) {
    AudioBufferListStorage list(audioBufferListSize(channels.size()));
    list.get()->mNumberBuffers = static_cast<std::uint32_t>(channels.size());
    for (std::size_t i = 0; i < channels.size(); ++i) {
        audioBuffers(*list.get(), channels.size())[i] = {channels[i], 0, nullptr};
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(list.get());
    return {bytes, bytes + list.byteSize()};
}

class SimAudioHardware : public AudioHardware {
  public:
    enum class Call { size, data, string, has, settable, set };
    struct Device {
        std::optional<std::string> name; // none: reading it fails
        std::optional<std::string> uid;
        std::vector<std::uint32_t> inputs;    // channels per stream-configuration record
        std::vector<std::uint32_t> outputs;   // channels per stream-configuration record
        std::map<std::uint32_t, bool> volume; // output volume elements: settable or not
    };
    // A value as bytes: `size` is what the size query answers, `bytes` what is delivered.
    struct Raw {
        std::vector<std::uint8_t> bytes;
        std::optional<std::uint32_t> size;
    };
    using Key = std::tuple<AudioObjectID, std::uint32_t, std::uint32_t>; // object, selector, scope

    std::map<AudioObjectID, Device> devices;
    std::vector<AudioObjectID> deviceList;            // what "dev#" reports
    std::map<std::uint32_t, AudioObjectID> defaults;  // "dOut", "sOut", "dIn " of the system
    std::map<std::tuple<Call, Key>, OSStatus> faults; // scope 0 stands for every scope
    std::map<Key, Raw> raw;
    std::vector<std::pair<std::uint32_t, AudioObjectID>> writes; // selector, device

    // Adds a device to the end of the system's device list; identifiers start at 100.
    AudioObjectID add(Device device) {
        const auto id = static_cast<AudioObjectID>(100 + devices.size());
        devices[id] = std::move(device);
        deviceList.push_back(id);
        return id;
    }
    void fail(Call call, AudioObjectID object, std::uint32_t selector, OSStatus status,
              std::uint32_t scope = 0) {
        faults[{call, {object, selector, scope}}] = status;
    }

    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& size) override {
        const auto value = valueOf(Call::size, object, address);
        size = value ? value->size.value_or(std::uint32_t(value->bytes.size())) : size;
        return status_;
    }
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t& size, void* data) override {
        if (const auto value = valueOf(Call::data, object, address)) {
            size = std::min(size, static_cast<std::uint32_t>(value->bytes.size()));
            std::memcpy(data, value->bytes.data(), size);
        }
        return status_;
    }
    OSStatus getStringPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::string& value) override {
        const Device* device = deviceFor(Call::string, object, address);
        const auto& text =
            address.mSelector == kAudioObjectPropertyName ? device->name : device->uid;
        value = text.value_or(value);
        return text || status_ != 0 ? status_ : kUnknownProperty;
    }
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override {
        return volumeOf(Call::has, object, address).has_value();
    }
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                bool& settable) override {
        settable = volumeOf(Call::settable, object, address).value_or(settable);
        return status_;
    }
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t size, const void* data) override {
        if (const auto status = enter(Call::set, object, address)) {
            return *status;
        }
        AudioObjectID device = 0;
        if (object != kAudioObjectSystemObject || size != sizeof device) {
            return kUnknownProperty;
        }
        std::memcpy(&device, data, sizeof device);
        writes.emplace_back(address.mSelector, device);
        defaults[address.mSelector] = device;
        return 0;
    }

  private:
    static constexpr OSStatus kUnknownProperty = fourCharCode("who?");

    // The injected status for the call, if any.
    std::optional<OSStatus> enter(Call call, AudioObjectID object,
                                  const AudioObjectPropertyAddress& address) {
        for (const std::uint32_t scope : {address.mScope, 0u}) {
            if (const auto found = faults.find({call, {object, address.mSelector, scope}});
                found != faults.end()) {
                return found->second;
            }
        }
        return std::nullopt;
    }
    // The device a call reaches, or one without values when the call fails (status_ says why).
    const Device* deviceFor(Call call, AudioObjectID object,
                            const AudioObjectPropertyAddress& address) {
        static const Device none;
        const auto injected = enter(call, object, address);
        const auto found = devices.find(object);
        status_ = injected.value_or(found == devices.end() ? kUnknownProperty : 0);
        return status_ != 0 ? &none : &found->second;
    }
    std::optional<bool> volumeOf(Call call, AudioObjectID object,
                                 const AudioObjectPropertyAddress& address) {
        const Device* device = deviceFor(call, object, address);
        const auto element = device->volume.find(address.mElement);
        if (address.mSelector == kAudioDevicePropertyVolumeScalar &&
            element != device->volume.end()) {
            return element->second;
        }
        status_ = status_ != 0 ? status_ : kUnknownProperty;
        return std::nullopt;
    }
    // The property's value, or none with status_ saying why.
    std::optional<Raw> valueOf(Call call, AudioObjectID object,
                               const AudioObjectPropertyAddress& address) {
        status_ = enter(call, object, address).value_or(0);
        const auto asRaw = [](const auto* first, std::size_t count) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(first);
            return Raw{{bytes, bytes + count * sizeof *first}, std::nullopt};
        };
        std::optional<Raw> value;
        const auto set = defaults.find(address.mSelector);
        const auto device = devices.find(object);
        if (const auto found = raw.find({object, address.mSelector, address.mScope});
            found != raw.end()) {
            value = found->second;
        } else if (object == kAudioObjectSystemObject &&
                   address.mSelector == kAudioHardwarePropertyDevices) {
            value = asRaw(deviceList.data(), deviceList.size());
        } else if (object == kAudioObjectSystemObject && set != defaults.end()) {
            value = asRaw(&set->second, 1);
        } else if (device != devices.end() &&
                   address.mSelector == kAudioDevicePropertyStreamConfiguration) {
            value = Raw{bufferListBytes(address.mScope == kAudioObjectPropertyScopeInput
                                            ? device->second.inputs
                                            : device->second.outputs),
                        std::nullopt};
        }
        status_ = status_ != 0 || value ? status_ : kUnknownProperty;
        return status_ == 0 ? value : std::nullopt;
    }

    OSStatus status_ = 0; // of the last value looked up; calls come from one thread
};

} // namespace tovanel::sim
