// Device queries on the five property calls.
#include "devices/audio_device_queries.h"

#include "devices/audio_buffer_list.h"
#include "platform/platform.h"

namespace tovanel {

namespace {

using namespace platform;

AudioHardware& hardware() {
    return current().audioHardware;
}

// No real device list or stream configuration comes near this; a larger size is a faulty
// answer, and allocating it would be the fault's to decide.
constexpr std::uint32_t kLargestPropertySize = 1u << 20;

AudioObjectPropertyAddress globalAddress(std::uint32_t selector) {
    return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

std::optional<std::string> stringProperty(AudioObjectID device, std::uint32_t selector) {
    std::string value;
    if (hardware().getStringPropertyData(device, globalAddress(selector), value) != 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<std::string> audioDeviceName(AudioObjectID device) {
    return stringProperty(device, kAudioObjectPropertyName);
}

std::optional<std::string> audioDeviceUID(AudioObjectID device) {
    return stringProperty(device, kAudioDevicePropertyDeviceUID);
}

bool audioDeviceHasChannels(AudioObjectID device, std::uint32_t scope) {
    const AudioObjectPropertyAddress address{kAudioDevicePropertyStreamConfiguration, scope,
                                             kAudioObjectPropertyElementMain};
    std::uint32_t size = 0;
    if (hardware().getPropertyDataSize(device, address, size) != 0 || size == 0 ||
        size > kLargestPropertySize) {
        return false;
    }
    std::vector<std::uint8_t> block(size);
    std::uint32_t delivered = size;
    if (hardware().getPropertyData(device, address, delivered, block.data()) != 0) {
        return false;
    }
    // Only what was delivered is read, and never past the block.
    return bufferListHasChannels(std::span(block).first(std::min(delivered, size)));
}

bool audioDeviceSupportsOutputVolume(AudioObjectID device) {
    for (std::uint32_t element : {0u, 1u, 2u}) {
        const AudioObjectPropertyAddress address{kAudioDevicePropertyVolumeScalar,
                                                 kAudioObjectPropertyScopeOutput, element};
        if (!hardware().hasProperty(device, address)) {
            continue;
        }
        bool settable = false;
        if (hardware().isPropertySettable(device, address, settable) == 0 && settable) {
            return true;
        }
    }
    return false;
}

std::optional<std::vector<AudioObjectID>> audioDeviceIDs() {
    const auto address = globalAddress(kAudioHardwarePropertyDevices);
    std::uint32_t size = 0;
    if (hardware().getPropertyDataSize(kAudioObjectSystemObject, address, size) != 0 ||
        size < sizeof(AudioObjectID) || size > kLargestPropertySize) {
        return std::nullopt;
    }
    std::vector<AudioObjectID> devices(size / sizeof(AudioObjectID), kAudioObjectUnknown);
    std::uint32_t ioSize = static_cast<std::uint32_t>(devices.size() * sizeof(AudioObjectID));
    if (hardware().getPropertyData(kAudioObjectSystemObject, address, ioSize, devices.data()) !=
        0) {
        return std::nullopt;
    }
    return devices;
}

std::optional<AudioObjectID> defaultOutputDevice() {
    AudioObjectID device = kAudioObjectUnknown;
    std::uint32_t size = sizeof device;
    if (hardware().getPropertyData(kAudioObjectSystemObject,
                                   globalAddress(kAudioHardwarePropertyDefaultOutputDevice), size,
                                   &device) != 0 ||
        device == kAudioObjectUnknown) {
        return std::nullopt;
    }
    return device;
}

void setSystemDefaultDevice(std::uint32_t selector, AudioObjectID device) {
    (void)hardware().setPropertyData(kAudioObjectSystemObject, globalAddress(selector),
                                     sizeof device, &device);
}

} // namespace tovanel
