// Stateless queries on the audio hardware, built only on the five property calls, so every
// backend shares them. A platform failure never raises or logs: it becomes none or false.
#pragma once

#include "platform/audio_hardware.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovanel {

using platform::AudioObjectID;

std::optional<std::string> audioDeviceName(AudioObjectID device);
std::optional<std::string> audioDeviceUID(AudioObjectID device);
// `scope` is kAudioObjectPropertyScopeInput or kAudioObjectPropertyScopeOutput.
bool audioDeviceHasChannels(AudioObjectID device, std::uint32_t scope);
// True when the output volume is settable on element 0, 1 or 2 (higher elements are not probed).
bool audioDeviceSupportsOutputVolume(AudioObjectID device);
// The devices in the system's order. Entries the system announced but did not deliver stay 0.
std::optional<std::vector<AudioObjectID>> audioDeviceIDs();
std::optional<AudioObjectID> defaultOutputDevice();
// Writes a default-device property of the system object; its status is not examined.
void setSystemDefaultDevice(std::uint32_t selector, AudioObjectID device);

} // namespace tovanel
