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

// `samples` binary32 values from `in` to `out`. The in-place form reads and writes through one
// pointer, so the vectoriser need not guard against the two overlapping.
template <bool kInPlace>
void sanitizeSamples(const std::uint8_t* in, std::uint8_t* out, std::size_t samples) {
    const std::uint8_t* source = kInPlace ? out : in;
    for (std::size_t i = 0; i < samples; ++i) {
        std::int32_t bits;
        std::memcpy(&bits, source + 4 * i, 4); // no alignment assumed
        bits = sanitizedSample(bits);
        std::memcpy(out + 4 * i, &bits, 4);
    }
}

} // namespace

ByteBlock sanitizedInterleavedFloatPCM(std::span<const std::uint8_t> block) {
    const std::size_t samples = block.size() / 4; // a trailing partial sample is dropped
    ByteBlock result = ByteBlock::forOverwrite(samples * 4);
    sanitizeSamples<false>(block.data(), result.data(), samples);
    return result;
}

ByteBlock sanitizedInterleavedFloatPCM(ByteBlock&& block) {
    if (block.size() % 4 != 0) {
        return sanitizedInterleavedFloatPCM(block.bytes()); // the partial sample must go
    }
    ByteBlock owned = std::move(block);
    sanitizeSamples<true>(nullptr, owned.data(), owned.size() / 4);
    return owned;
}

} // namespace tovanel
