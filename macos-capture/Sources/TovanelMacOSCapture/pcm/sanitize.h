// The last step before any PCM leaves the program: every sample made finite and clamped.
#pragma once

#include "pcm/byte_block.h"

#include <cstdint>
#include <span>

namespace tovanel {

// The stream's sample bounds, -0.95 and +0.95 as binary32.
inline constexpr std::uint32_t kLowerSampleBoundBits = 0xBF733333;
inline constexpr std::uint32_t kUpperSampleBoundBits = 0x3F733333;

// Reads `block` as packed binary32 samples in host order (any alignment) and returns a new block
// of the same samples with every infinity and NaN replaced by +0.0 and every other value clamped
// to the bounds. A trailing 1 to 3 bytes are dropped. Finite values within the bounds pass bit
// for bit (-0.0 and subnormals included), so applying it twice changes nothing.
ByteBlock sanitizedInterleavedFloatPCM(std::span<const std::uint8_t> block);

// The same for a block the caller gives up: sanitised in its own memory and returned, with no
// second block made.
ByteBlock sanitizedInterleavedFloatPCM(ByteBlock&& block);

} // namespace tovanel
