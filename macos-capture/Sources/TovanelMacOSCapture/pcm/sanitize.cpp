// The sanitising pass, written for the vectoriser: a bit test for non-finite values and a clamp,
// as lane masks with no branch per sample.
#include "pcm/sanitize.h"

#include <cstring>

namespace tovanel {

namespace {

// Works on the bits as a signed integer. For IEEE 754 values the magnitude bits order exactly as
// the magnitudes do, so "beyond the bound" and "not finite" are integer comparisons of the
// magnitude, and every comparison fits the signed compare that vector units have.
inline std::int32_t sanitizedSample(std::int32_t bits) {
    constexpr std::int32_t kMagnitudeMask = 0x7FFFFFFF;
    constexpr std::int32_t kBoundMagnitude = kUpperSampleBoundBits; // 0.95
    constexpr std::int32_t kInfinityMagnitude = 0x7F800000;         // exponent all ones
    static_assert((kLowerSampleBoundBits & 0x7FFFFFFF) == kUpperSampleBoundBits);

    const std::int32_t magnitude = bits & kMagnitudeMask;
    const std::int32_t beyondBound = -static_cast<std::int32_t>(magnitude > kBoundMagnitude);
    const std::int32_t finite = -static_cast<std::int32_t>(magnitude < kInfinityMagnitude);
    const std::int32_t boundOfSameSign = (bits & ~kMagnitudeMask) | kBoundMagnitude;
    return ((bits & ~beyondBound) | (boundOfSameSign & beyondBound)) & finite;
}

} // namespace

ByteBlock sanitizedInterleavedFloatPCM(std::span<const std::uint8_t> block) {
    const std::size_t samples = block.size() / 4; // a trailing partial sample is dropped
    ByteBlock result = ByteBlock::forOverwrite(samples * 4);
    const std::uint8_t* in = block.data();
    std::uint8_t* out = result.data();
    for (std::size_t i = 0; i < samples; ++i) {
        std::int32_t bits;
        std::memcpy(&bits, in + 4 * i, 4); // no alignment assumed
        bits = sanitizedSample(bits);
        std::memcpy(out + 4 * i, &bits, 4);
    }
    return result;
}

} // namespace tovanel
