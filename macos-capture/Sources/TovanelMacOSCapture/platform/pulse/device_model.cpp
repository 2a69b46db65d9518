// The server's sinks and sources as audio hardware objects.
#include "platform/pulse/device_model.h"

#include "platform/audio_types.h"

#include <cstring>

namespace tovanel::platform::pulse {

namespace {

std::vector<std::uint8_t> bytesOf(const void* data, std::size_t size) {
    const auto* first = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(first, first + size);
}

// A stream configuration: one buffer with all the channels, or no buffer at all.
std::vector<std::uint8_t> bufferList(std::uint32_t channels) {
    const std::size_t records = channels > 0 ? 1 : 0;
    std::vector<std::uint8_t> bytes(audioBufferListSize(records), 0);
    const auto count = static_cast<std::uint32_t>(records);
    std::memcpy(bytes.data(), &count, sizeof count);
    if (records > 0) {
        const AudioBuffer buffer{channels, 0, nullptr};
        std::memcpy(bytes.data() + kAudioBufferListHeaderSize, &buffer, sizeof buffer);
    }
    return bytes;
}

bool isGlobalMain(const AudioObjectPropertyAddress& address) {
    return address.mScope == kAudioObjectPropertyScopeGlobal &&
           address.mElement == kAudioObjectPropertyElementMain;
}

} // namespace

std::optional<std::string> defaultSourceName(const ServerSnapshot& snapshot) {
    for (const auto& source : snapshot.sources) {
        if (source.name == snapshot.defaultSource) {
            return source.name;
        }
    }
    return std::nullopt;
}

AudioObjectID DeviceIdentifiers::idFor(Kind kind, const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto [found, added] = ids_.try_emplace({kind, name}, next_);
    if (added) {
        devices_[next_] = Device{kind, name};
        ++next_;
    }
    return found->second;
}

std::optional<DeviceIdentifiers::Device> DeviceIdentifiers::deviceFor(AudioObjectID id) const {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(id);
    return found == devices_.end() ? std::nullopt : std::optional(found->second);
}

DeviceModel::DeviceModel(const ServerSnapshot& snapshot, DeviceIdentifiers& identifiers)
    : snapshot_(snapshot), identifiers_(identifiers) {}

const SinkSnapshot* DeviceModel::sinkFor(AudioObjectID id) const {
    const auto device = identifiers_.deviceFor(id);
    if (!device || device->kind != DeviceIdentifiers::Kind::sink) {
        return nullptr;
    }
    for (const auto& sink : snapshot_.sinks) {
        if (sink.name == device->name) {
            return &sink;
        }
    }
    return nullptr;
}

const SourceSnapshot* DeviceModel::sourceFor(AudioObjectID id) const {
    const auto device = identifiers_.deviceFor(id);
    if (!device || device->kind != DeviceIdentifiers::Kind::source) {
        return nullptr;
    }
    for (const auto& source : snapshot_.sources) {
        if (source.name == device->name && !source.isMonitor) {
            return &source;
        }
    }
    return nullptr;
}

std::optional<AudioObjectID> DeviceModel::defaultInputDevice() const {
    for (const auto& sink : snapshot_.sinks) {
        if (sink.monitorSource == snapshot_.defaultSource) {
            return identifiers_.idFor(DeviceIdentifiers::Kind::sink, sink.name);
        }
    }
    for (const auto& source : snapshot_.sources) {
        if (source.name == snapshot_.defaultSource && !source.isMonitor) {
            return identifiers_.idFor(DeviceIdentifiers::Kind::source, source.name);
        }
    }
    return std::nullopt;
}

OSStatus DeviceModel::value(AudioObjectID object, const AudioObjectPropertyAddress& address,
                            std::vector<std::uint8_t>& bytes) const {
    if (object == kAudioObjectSystemObject) {
        if (!isGlobalMain(address)) {
            return kUnknownProperty;
        }
        if (address.mSelector == kAudioHardwarePropertyDevices) {
            std::vector<AudioObjectID> devices;
            for (const auto& sink : snapshot_.sinks) {
                devices.push_back(identifiers_.idFor(DeviceIdentifiers::Kind::sink, sink.name));
            }
            for (const auto& source : snapshot_.sources) {
                if (!source.isMonitor) {
                    devices.push_back(
                        identifiers_.idFor(DeviceIdentifiers::Kind::source, source.name));
                }
            }
            bytes = bytesOf(devices.data(), devices.size() * sizeof(AudioObjectID));
            return 0;
        }
        std::optional<AudioObjectID> device;
        if (address.mSelector == kAudioHardwarePropertyDefaultOutputDevice ||
            address.mSelector == kAudioHardwarePropertyDefaultSystemOutputDevice) {
            for (const auto& sink : snapshot_.sinks) {
                if (sink.name == snapshot_.defaultSink) {
                    device = identifiers_.idFor(DeviceIdentifiers::Kind::sink, sink.name);
                }
            }
        } else if (address.mSelector == kAudioHardwarePropertyDefaultInputDevice) {
            device = defaultInputDevice();
        } else {
            return kUnknownProperty;
        }
        const AudioObjectID id = device.value_or(kAudioObjectUnknown);
        bytes = bytesOf(&id, sizeof id);
        return 0;
    }
    if (address.mSelector != kAudioDevicePropertyStreamConfiguration ||
        address.mElement != kAudioObjectPropertyElementMain) {
        return kUnknownProperty;
    }
    const bool input = address.mScope == kAudioObjectPropertyScopeInput;
    const bool output = address.mScope == kAudioObjectPropertyScopeOutput;
    if (!input && !output) {
        return kUnknownProperty;
    }
    if (const SinkSnapshot* sink = sinkFor(object)) {
        bytes = bufferList(input ? sink->monitorChannels : sink->channels);
        return 0;
    }
    if (const SourceSnapshot* source = sourceFor(object)) {
        bytes = bufferList(input ? source->channels : 0);
        return 0;
    }
    return kBadObject;
}

OSStatus DeviceModel::stringValue(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                  std::string& value) const {
    const bool name = address.mSelector == kAudioObjectPropertyName;
    const bool uid = address.mSelector == kAudioDevicePropertyDeviceUID;
    if ((!name && !uid) || !isGlobalMain(address)) {
        return kUnknownProperty;
    }
    if (const SinkSnapshot* sink = sinkFor(object)) {
        value = name ? sink->description : sink->name;
        return 0;
    }
    if (const SourceSnapshot* source = sourceFor(object)) {
        value = name ? source->description : source->name;
        return 0;
    }
    return kBadObject;
}

bool DeviceModel::hasProperty(AudioObjectID object,
                              const AudioObjectPropertyAddress& address) const {
    // Every sink has a volume the server lets clients set: on the whole sink (main element)
    // and on each of its channels.
    const SinkSnapshot* sink = sinkFor(object);
    return sink != nullptr && address.mSelector == kAudioDevicePropertyVolumeScalar &&
           address.mScope == kAudioObjectPropertyScopeOutput && address.mElement <= sink->channels;
}

OSStatus DeviceModel::isSettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 bool& settable) const {
    if (sinkFor(object) == nullptr && sourceFor(object) == nullptr) {
        return kBadObject;
    }
    if (!hasProperty(object, address)) {
        return kUnknownProperty;
    }
    settable = true;
    return 0;
}

OSStatus DeviceModel::planWrite(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                std::uint32_t dataSize, const void* data,
                                DefaultWrite& write) const {
    if (object != kAudioObjectSystemObject || !isGlobalMain(address)) {
        return object == kAudioObjectSystemObject ? kUnknownProperty : kBadObject;
    }
    const bool output = address.mSelector == kAudioHardwarePropertyDefaultOutputDevice ||
                        address.mSelector == kAudioHardwarePropertyDefaultSystemOutputDevice;
    const bool input = address.mSelector == kAudioHardwarePropertyDefaultInputDevice;
    if (!output && !input) {
        return kUnknownProperty;
    }
    if (dataSize != sizeof(AudioObjectID) || data == nullptr) {
        return kBadPropertySize;
    }
    AudioObjectID device = kAudioObjectUnknown;
    std::memcpy(&device, data, sizeof device);
    if (const SinkSnapshot* sink = sinkFor(device)) {
        write = output ? DefaultWrite{DefaultWrite::Target::sink, sink->name}
                       : DefaultWrite{DefaultWrite::Target::source, sink->monitorSource};
        return 0;
    }
    if (const SourceSnapshot* source = sourceFor(device); source != nullptr && input) {
        write = DefaultWrite{DefaultWrite::Target::source, source->name};
        return 0;
    }
    return kBadObject;
}

} // namespace tovanel::platform::pulse
