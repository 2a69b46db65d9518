// Virtual and physical device selection.
#include "devices/device_selection.h"

#include "devices/audio_device_queries.h"
#include "launcher/virtual_input_keywords.h"
#include "platform/platform.h"

namespace tovanel {

namespace {

using namespace platform;

// A device the physical-output search may consider: readable name, not virtual, has outputs.
bool isPhysicalOutputCandidate(AudioObjectID device) {
    const auto name = audioDeviceName(device);
    return name && !isVirtualDeviceName(*name) &&
           audioDeviceHasChannels(device, kAudioObjectPropertyScopeOutput);
}

} // namespace

bool isVirtualDeviceName(std::string_view name) {
    const std::string lowered = current().text.lowercased(name);
    for (std::string_view keyword : virtualInputKeywords) {
        if (lowered.find(keyword) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::optional<AudioObjectID> findVirtualSystemAudioDevice() {
    const auto devices = audioDeviceIDs();
    if (!devices) {
        return std::nullopt;
    }
    for (AudioObjectID device : *devices) {
        const auto name = audioDeviceName(device);
        if (!name || !isVirtualDeviceName(*name)) {
            continue;
        }
        if (!audioDeviceHasChannels(device, kAudioObjectPropertyScopeInput) ||
            !audioDeviceHasChannels(device, kAudioObjectPropertyScopeOutput)) {
            continue;
        }
        return device;
    }
    return std::nullopt;
}

std::optional<AudioObjectID> findPhysicalOutputDevice() {
    const auto devices = audioDeviceIDs();
    if (!devices) {
        return std::nullopt;
    }
    for (AudioObjectID device : *devices) {
        if (isPhysicalOutputCandidate(device) && audioDeviceSupportsOutputVolume(device)) {
            return device;
        }
    }
    for (AudioObjectID device : *devices) {
        if (isPhysicalOutputCandidate(device)) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<std::string> restorePhysicalOutputIfNeeded() {
    const auto currentOutput = defaultOutputDevice();
    if (!currentOutput) {
        return std::nullopt;
    }
    const auto currentName = audioDeviceName(*currentOutput);
    if (!currentName) {
        return std::nullopt;
    }
    if (!isVirtualDeviceName(*currentName) && audioDeviceSupportsOutputVolume(*currentOutput)) {
        return std::nullopt;
    }
    const auto target = findPhysicalOutputDevice();
    if (!target) {
        return std::nullopt;
    }
    const auto targetName = audioDeviceName(*target);
    if (!targetName) {
        return std::nullopt;
    }
    setSystemDefaultDevice(kAudioHardwarePropertyDefaultOutputDevice, *target);
    setSystemDefaultDevice(kAudioHardwarePropertyDefaultSystemOutputDevice, *target);
    return targetName;
}

} // namespace tovanel
