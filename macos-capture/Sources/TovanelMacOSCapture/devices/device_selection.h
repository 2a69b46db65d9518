// Which device is the virtual system-audio device and which is the physical output, decided
// from names, channel layouts and volume controls; and moving the default output back to a
// physical device.
#pragma once

#include "platform/audio_hardware.h"

#include <optional>
#include <string>
#include <string_view>

namespace tovanel {

// True when the lower-cased name contains one of virtualInputKeywords.
bool isVirtualDeviceName(std::string_view name);

// The first device, in the system's order, with a virtual name and both input and output
// channels.
std::optional<platform::AudioObjectID> findVirtualSystemAudioDevice();

// The first non-virtual output device with a settable volume, else the first non-virtual output
// device.
std::optional<platform::AudioObjectID> findPhysicalOutputDevice();

// Moves the default output and default system output to the physical output device when the
// default output is virtual or has no settable volume. Returns the new output's name, or none
// when nothing was changed.
std::optional<std::string> restorePhysicalOutputIfNeeded();

} // namespace tovanel
