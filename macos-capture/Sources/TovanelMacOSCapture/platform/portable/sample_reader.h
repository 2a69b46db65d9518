// Reading the samples of a PCM buffer, whatever their type and layout, into planar 32-bit
// floats: integers scaled by their full-scale power of two (int16 / 32768, 24-bit / 8388608,
// int32 / 2147483648), 32-bit floats copied bit for bit (NaN payloads, infinities, -0.0 and
// subnormals included), 64-bit floats rounded to the nearest 32-bit value.
#pragma once

#include "platform/portable/pcm_buffer.h"

#include <cstddef>
#include <vector>

namespace tovanel::platform::portable {

// Reads frames firstFrame .. firstFrame + frameCount - 1 of `source`, which its caller keeps
// within the buffer's capacity. Destination c receives source channel min(c, channels - 1), so
// mono fills every destination and channels beyond the destinations are left out.
void readPlanarFloat(const PortablePCMBuffer& source, std::size_t firstFrame,
                     std::size_t frameCount, const std::vector<float*>& destinations);

} // namespace tovanel::platform::portable
