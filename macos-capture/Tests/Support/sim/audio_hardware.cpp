// Simulated audio hardware.
#include "sim/audio_hardware.h"

#include "platform/audio_types.h"

#include <algorithm>
#include <cstring>

namespace tovanel::sim {

using namespace platform;

AudioObjectID SimAudioHardware::addDevice(Device device) {
    std::lock_guard lock(mutex_);
    const AudioObjectID id = nextDevice_++;
    devices_[id] = std::move(device);
    deviceList_.push_back(id);
    return id;
}

void SimAudioHardware::setDeviceList(std::vector<AudioObjectID> devices) {
    std::lock_guard lock(mutex_);
    deviceList_ = std::move(devices);
}

void SimAudioHardware::setDefault(std::uint32_t selector, AudioObjectID device) {
    std::lock_guard lock(mutex_);
    defaults_[selector] = device;
}

AudioObjectID SimAudioHardware::defaultDevice(std::uint32_t selector) const {
    std::lock_guard lock(mutex_);
    const auto found = defaults_.find(selector);
    return found == defaults_.end() ? kAudioObjectUnknown : found->second;
}

void SimAudioHardware::setRawValue(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    rawValues_[keyOf(object, address)] = std::move(bytes);
}

void SimAudioHardware::failCall(Call call, AudioObjectID object,
                                const AudioObjectPropertyAddress& address, OSStatus status) {
    std::lock_guard lock(mutex_);
    failures_[{call, keyOf(object, address)}] = status;
}

void SimAudioHardware::deliverAtMost(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address,
                                     std::uint32_t bytes) {
    std::lock_guard lock(mutex_);
    deliveryLimits_[keyOf(object, address)] = bytes;
}

std::vector<SimAudioHardware::CallRecord> SimAudioHardware::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<SimAudioHardware::Write> SimAudioHardware::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

bool SimAudioHardware::wasCalled(Call call, AudioObjectID object, std::uint32_t selector) const {
    std::lock_guard lock(mutex_);
    return std::any_of(calls_.begin(), calls_.end(), [&](const CallRecord& record) {
        return record.call == call && record.object == object &&
               record.address.mSelector == selector;
    });
}

std::vector<std::uint8_t> SimAudioHardware::bufferList(const std::vector<std::uint32_t>& channels) {
    std::vector<std::uint8_t> bytes(kAudioBufferListHeaderSize +
                                    std::max<std::size_t>(channels.size(), 1) *
                                        sizeof(AudioBuffer));
    const auto count = static_cast<std::uint32_t>(channels.size());
    std::memcpy(bytes.data(), &count, sizeof count);
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const AudioBuffer record{channels[i], 0, nullptr};
        std::memcpy(bytes.data() + kAudioBufferListHeaderSize + i * sizeof record, &record,
                    sizeof record);
    }
    return bytes;
}

SimAudioHardware::Key SimAudioHardware::keyOf(AudioObjectID object,
                                              const AudioObjectPropertyAddress& address) {
    return {object, address.mSelector, address.mScope, address.mElement};
}

std::optional<OSStatus>
SimAudioHardware::injectedFailure(Call call, AudioObjectID object,
                                  const AudioObjectPropertyAddress& address) const {
    const auto found = failures_.find({call, keyOf(object, address)});
    return found == failures_.end() ? std::nullopt : std::optional(found->second);
}

void SimAudioHardware::record(Call call, AudioObjectID object,
                              const AudioObjectPropertyAddress& address) {
    calls_.push_back({call, object, address});
}

OSStatus SimAudioHardware::valueOf(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::vector<std::uint8_t>& value) const {
    if (const auto raw = rawValues_.find(keyOf(object, address)); raw != rawValues_.end()) {
        value = raw->second;
        return 0;
    }
    const auto asBytes = [&](const auto& data, std::size_t size) {
        value.resize(size);
        if (size > 0) {
            std::memcpy(value.data(), data, size);
        }
        return 0;
    };
    if (object == kAudioObjectSystemObject) {
        if (address.mSelector == kAudioHardwarePropertyDevices) {
            return asBytes(deviceList_.data(), deviceList_.size() * sizeof(AudioObjectID));
        }
        if (const auto found = defaults_.find(address.mSelector); found != defaults_.end()) {
            return asBytes(&found->second, sizeof found->second);
        }
        return kUnknownProperty;
    }
    const auto device = devices_.find(object);
    if (device == devices_.end()) {
        return kBadObject;
    }
    if (address.mSelector == kAudioDevicePropertyStreamConfiguration &&
        address.mElement == kAudioObjectPropertyElementMain) {
        if (address.mScope == kAudioObjectPropertyScopeInput) {
            value = bufferList(device->second.inputBuffers);
            return 0;
        }
        if (address.mScope == kAudioObjectPropertyScopeOutput) {
            value = bufferList(device->second.outputBuffers);
            return 0;
        }
    }
    return kUnknownProperty;
}

OSStatus SimAudioHardware::getPropertyDataSize(AudioObjectID object,
                                               const AudioObjectPropertyAddress& address,
                                               std::uint32_t& outDataSize) {
    std::lock_guard lock(mutex_);
    record(Call::getPropertyDataSize, object, address);
    if (const auto failure = injectedFailure(Call::getPropertyDataSize, object, address)) {
        return *failure;
    }
    std::vector<std::uint8_t> value;
    const OSStatus status = valueOf(object, address, value);
    if (status == 0) {
        outDataSize = static_cast<std::uint32_t>(value.size());
    }
    return status;
}

OSStatus SimAudioHardware::getPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           std::uint32_t& ioDataSize, void* outData) {
    std::lock_guard lock(mutex_);
    record(Call::getPropertyData, object, address);
    if (const auto failure = injectedFailure(Call::getPropertyData, object, address)) {
        return *failure;
    }
    std::vector<std::uint8_t> value;
    const OSStatus status = valueOf(object, address, value);
    if (status != 0) {
        return status;
    }
    std::uint32_t delivered = std::min<std::uint32_t>(ioDataSize, value.size());
    if (const auto limit = deliveryLimits_.find(keyOf(object, address));
        limit != deliveryLimits_.end()) {
        delivered = std::min(delivered, limit->second);
    }
    if (delivered > 0) {
        std::memcpy(outData, value.data(), delivered);
    }
    ioDataSize = delivered;
    return 0;
}

OSStatus SimAudioHardware::getStringPropertyData(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::string& outValue) {
    std::lock_guard lock(mutex_);
    record(Call::getStringPropertyData, object, address);
    if (const auto failure = injectedFailure(Call::getStringPropertyData, object, address)) {
        return *failure;
    }
    const auto device = devices_.find(object);
    if (device == devices_.end()) {
        return kBadObject;
    }
    const std::optional<std::string>* value = nullptr;
    if (address.mSelector == kAudioObjectPropertyName) {
        value = &device->second.name;
    } else if (address.mSelector == kAudioDevicePropertyDeviceUID) {
        value = &device->second.uid;
    }
    if (value == nullptr || !value->has_value()) {
        return kUnknownProperty;
    }
    outValue = **value;
    return 0;
}

bool SimAudioHardware::hasProperty(AudioObjectID object,
                                   const AudioObjectPropertyAddress& address) {
    std::lock_guard lock(mutex_);
    record(Call::hasProperty, object, address);
    if (injectedFailure(Call::hasProperty, object, address)) {
        return false;
    }
    const auto device = devices_.find(object);
    return device != devices_.end() && address.mSelector == kAudioDevicePropertyVolumeScalar &&
           address.mScope == kAudioObjectPropertyScopeOutput &&
           device->second.outputVolume.count(address.mElement) > 0;
}

OSStatus SimAudioHardware::isPropertySettable(AudioObjectID object,
                                              const AudioObjectPropertyAddress& address,
                                              bool& outIsSettable) {
    std::lock_guard lock(mutex_);
    record(Call::isPropertySettable, object, address);
    if (const auto failure = injectedFailure(Call::isPropertySettable, object, address)) {
        return *failure;
    }
    const auto device = devices_.find(object);
    if (device == devices_.end()) {
        return kBadObject;
    }
    if (address.mSelector != kAudioDevicePropertyVolumeScalar ||
        address.mScope != kAudioObjectPropertyScopeOutput) {
        return kUnknownProperty;
    }
    const auto element = device->second.outputVolume.find(address.mElement);
    if (element == device->second.outputVolume.end()) {
        return kUnknownProperty;
    }
    if (element->second.settableStatus == 0) {
        outIsSettable = element->second.settable;
    }
    return element->second.settableStatus;
}

OSStatus SimAudioHardware::setPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           std::uint32_t dataSize, const void* data) {
    std::lock_guard lock(mutex_);
    record(Call::setPropertyData, object, address);
    AudioObjectID device = kAudioObjectUnknown;
    if (dataSize == sizeof device) {
        std::memcpy(&device, data, sizeof device);
    }
    if (object == kAudioObjectSystemObject) {
        writes_.push_back({address.mSelector, device});
    }
    if (const auto failure = injectedFailure(Call::setPropertyData, object, address)) {
        return *failure;
    }
    const bool isDefault = address.mSelector == kAudioHardwarePropertyDefaultOutputDevice ||
                           address.mSelector == kAudioHardwarePropertyDefaultSystemOutputDevice ||
                           address.mSelector == kAudioHardwarePropertyDefaultInputDevice;
    if (object != kAudioObjectSystemObject || !isDefault || dataSize != sizeof device) {
        return kUnknownProperty;
    }
    defaults_[address.mSelector] = device;
    return 0;
}

} // namespace tovanel::sim
