// Simulated audio hardware.
#include "sim/audio_hardware.h"

#include "platform/audio_types.h"

#include <algorithm>
#include <cstring>

namespace tovanel::sim {

using namespace platform;

AudioObjectID SimAudioHardware::add(Device device) {
    const AudioObjectID id = next_++;
    devices[id] = std::move(device);
    deviceList.push_back(id);
    return id;
}

int SimAudioHardware::callCount(Call call, std::uint32_t selector) const {
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const auto& record) {
        return std::get<0>(record) == call && std::get<1>(std::get<1>(record)) == selector;
    }));
}

std::optional<OSStatus> SimAudioHardware::enter(Call call, AudioObjectID object,
                                                const AudioObjectPropertyAddress& address) {
    calls.emplace_back(call, Key{object, address.mSelector, address.mScope}, address.mElement);
    for (const std::uint32_t scope : {address.mScope, 0u}) {
        if (const auto found = faults.find({call, {object, address.mSelector, scope}});
            found != faults.end()) {
            return found->second;
        }
    }
    return std::nullopt;
}

std::vector<std::uint8_t> bufferListBytes(const std::vector<std::uint32_t>& channels) {
    std::vector<std::uint8_t> bytes(audioBufferListSize(channels.size()));
    const auto count = static_cast<std::uint32_t>(channels.size());
    std::memcpy(bytes.data(), &count, sizeof count);
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const AudioBuffer record{channels[i], 0, nullptr};
        std::memcpy(bytes.data() + kAudioBufferListHeaderSize + i * sizeof record, &record,
                    sizeof record);
    }
    return bytes;
}

std::optional<SimAudioHardware::Raw>
SimAudioHardware::valueOf(AudioObjectID object, const AudioObjectPropertyAddress& address) const {
    if (const auto found = raw.find({object, address.mSelector, address.mScope});
        found != raw.end()) {
        return found->second;
    }
    const auto asBytes = [](const auto& value) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(&value);
        return Raw{{first, first + sizeof value}, std::nullopt};
    };
    if (object == kAudioObjectSystemObject) {
        if (address.mSelector == kAudioHardwarePropertyDevices) {
            const auto* first = reinterpret_cast<const std::uint8_t*>(deviceList.data());
            return Raw{{first, first + deviceList.size() * sizeof(AudioObjectID)}, std::nullopt};
        }
        if (const auto found = defaults.find(address.mSelector); found != defaults.end()) {
            return asBytes(found->second);
        }
        return std::nullopt;
    }
    const auto device = devices.find(object);
    if (device == devices.end() || address.mSelector != kAudioDevicePropertyStreamConfiguration) {
        return std::nullopt;
    }
    return Raw{bufferListBytes(address.mScope == kAudioObjectPropertyScopeInput
                                   ? device->second.inputs
                                   : device->second.outputs),
               std::nullopt};
}

OSStatus SimAudioHardware::getPropertyDataSize(AudioObjectID object,
                                               const AudioObjectPropertyAddress& address,
                                               std::uint32_t& outDataSize) {
    if (const auto status = enter(Call::size, object, address)) {
        return *status;
    }
    const auto value = valueOf(object, address);
    if (!value) {
        return kUnknownProperty;
    }
    outDataSize = value->size.value_or(static_cast<std::uint32_t>(value->bytes.size()));
    return 0;
}

OSStatus SimAudioHardware::getPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           std::uint32_t& ioDataSize, void* outData) {
    if (const auto status = enter(Call::data, object, address)) {
        return *status;
    }
    const auto value = valueOf(object, address);
    if (!value) {
        return kUnknownProperty;
    }
    ioDataSize = std::min(ioDataSize, static_cast<std::uint32_t>(value->bytes.size()));
    std::memcpy(outData, value->bytes.data(), ioDataSize);
    return 0;
}

OSStatus SimAudioHardware::getStringPropertyData(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::string& outValue) {
    if (const auto status = enter(Call::string, object, address)) {
        return *status;
    }
    const auto device = devices.find(object);
    if (device == devices.end()) {
        return kUnknownProperty;
    }
    const auto& value = address.mSelector == kAudioObjectPropertyName ? device->second.name
                                                                      : device->second.uid;
    if (!value || (address.mSelector != kAudioObjectPropertyName &&
                   address.mSelector != kAudioDevicePropertyDeviceUID)) {
        return kUnknownProperty;
    }
    outValue = *value;
    return 0;
}

bool SimAudioHardware::hasProperty(AudioObjectID object,
                                   const AudioObjectPropertyAddress& address) {
    if (enter(Call::has, object, address)) {
        return false;
    }
    const auto device = devices.find(object);
    return device != devices.end() && address.mSelector == kAudioDevicePropertyVolumeScalar &&
           address.mScope == kAudioObjectPropertyScopeOutput &&
           device->second.volume.count(address.mElement) > 0;
}

OSStatus SimAudioHardware::isPropertySettable(AudioObjectID object,
                                              const AudioObjectPropertyAddress& address,
                                              bool& outIsSettable) {
    if (const auto status = enter(Call::settable, object, address)) {
        return *status;
    }
    const auto device = devices.find(object);
    if (device == devices.end() || address.mSelector != kAudioDevicePropertyVolumeScalar ||
        device->second.volume.count(address.mElement) == 0) {
        return kUnknownProperty;
    }
    outIsSettable = device->second.volume.at(address.mElement);
    return 0;
}

OSStatus SimAudioHardware::setPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           std::uint32_t dataSize, const void* data) {
    if (const auto status = enter(Call::set, object, address)) {
        return *status;
    }
    AudioObjectID device = 0;
    if (object != kAudioObjectSystemObject || dataSize != sizeof device) {
        return kUnknownProperty;
    }
    std::memcpy(&device, data, sizeof device);
    writes.emplace_back(address.mSelector, device);
    defaults[address.mSelector] = device;
    return 0;
}

} // namespace tovanel::sim
