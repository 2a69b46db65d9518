// The statuses the converter off Apple reports in its errors, with the values AudioToolbox's
// converter and CoreAudio give the same failures.
#pragma once

#include "platform/status_codes.h"

namespace tovanel::platform::portable {

// A buffer in a format other than the converter's ('fmt?').
inline constexpr OSStatus kAudioConverterErr_FormatNotSupported =
    static_cast<OSStatus>(fourCharCode("fmt?"));
// The resampler failed ('what').
inline constexpr OSStatus kAudioConverterErr_UnspecifiedError =
    static_cast<OSStatus>(fourCharCode("what"));
// The input block broke its contract: data announced without a buffer, or an unknown status.
inline constexpr OSStatus kAudio_ParamError = -50;
// Memory for held-back frames could not be had.
inline constexpr OSStatus kAudio_MemFullError = -108;

} // namespace tovanel::platform::portable
