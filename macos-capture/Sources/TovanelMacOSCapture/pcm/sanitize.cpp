// The sanitising pass, written for the vectoriser: a clamp and a test for non-finite values on
// the bits, with no branch per sample, built for the widest vector unit the CPU has. The same
// pass over two planar channels writes them interleaved; its AVX2 version is spelled out in the
// unit's own instructions, fewer than the vectoriser makes of the loop.
#include "pcm/sanitize.h"

#include "platform/vector_clones.h"

#include <array>
#include <cstring>

#ifdef TOVANEL_VECTOR_WIDTHS
#include <immintrin.h>
#endif

namespace tovanel {

namespace {

// Works on the bits as a signed integer. For IEEE 754 values the magnitude bits order exactly as
// the magnitudes do, so clamping is the smaller of two magnitudes and "not finite" an integer
// comparison, each one instruction on a vector unit (signed minimum and compare), with the sign
// put back after.
inline std::int32_t sanitizedSample(std::int32_t bits) {
    constexpr std::int32_t kMagnitudeMask = 0x7FFFFFFF;
    constexpr std::int32_t kBoundMagnitude = kUpperSampleBoundBits; // 0.95
    constexpr std::int32_t kInfinityMagnitude = 0x7F800000;         // exponent all ones
    static_assert((kLowerSampleBoundBits & 0x7FFFFFFF) == kUpperSampleBoundBits);

    const std::int32_t magnitude = bits & kMagnitudeMask;
    const std::int32_t clamped = magnitude < kBoundMagnitude ? magnitude : kBoundMagnitude;
    const std::int32_t finite = -static_cast<std::int32_t>(magnitude < kInfinityMagnitude);
    return ((bits ^ magnitude) | clamped) & finite; // the sign, the clamped magnitude; 0 if not
}

// `samples` binary32 values from `in` to `out`.
TOVANEL_VECTOR_CLONES void sanitizeCopy(const std::uint8_t* in, std::uint8_t* out,
                                        std::size_t samples) {
#pragma GCC unroll 4 // four vectors per round: the loop's own count and jump weigh less
    for (std::size_t i = 0; i < samples; ++i) {
        std::int32_t bits;
        std::memcpy(&bits, in + 4 * i, 4); // no alignment assumed
        bits = sanitizedSample(bits);
        std::memcpy(out + 4 * i, &bits, 4);
    }
}

// The same in place: one pointer to read and write through, so the vectoriser need not guard
// against the two overlapping.
TOVANEL_VECTOR_CLONES void sanitizeInPlace(std::uint8_t* bytes, std::size_t samples) {
#pragma GCC unroll 4
    for (std::size_t i = 0; i < samples; ++i) {
        std::int32_t bits;
        std::memcpy(&bits, bytes + 4 * i, 4);
        bits = sanitizedSample(bits);
        std::memcpy(bytes + 4 * i, &bits, 4);
    }
}

// Frame i of `out` takes sample i of `left`, then of `right`, each sanitised. Planar channels let
// the vectoriser turn the loop into a few shuffles per vector beside the sanitising itself, so
// the frames are read and written once instead of twice. Always inlined into one function per
// vector width, each compiled for its own.
[[gnu::always_inline]] inline void sanitizeInterleave(const float* left, const float* right,
                                                      std::size_t frames, std::uint8_t* out) {
#pragma GCC unroll 2 // two rounds per loop: its own count and jump weigh less
    for (std::size_t i = 0; i < frames; ++i) {
        std::int32_t leftBits;
        std::int32_t rightBits;
        std::memcpy(&leftBits, left + i, 4); // the bits: no float value, no NaN quieted
        std::memcpy(&rightBits, right + i, 4);
        leftBits = sanitizedSample(leftBits);
        rightBits = sanitizedSample(rightBits);
        std::memcpy(out + 8 * i, &leftBits, 4);
        std::memcpy(out + 8 * i + 4, &rightBits, 4);
    }
}

#ifdef TOVANEL_VECTOR_WIDTHS
TOVANEL_TARGET_AVX512 void sanitizeInterleaveAvx512(const float* left, const float* right,
                                                    std::size_t frames, std::uint8_t* out) {
    sanitizeInterleave(left, right, frames, out);
}

// Eight samples at once, the rule in five instructions where the vectoriser makes six: positive
// values order by magnitude as signed integers and negative ones (sign bit set) as unsigned
// integers, so a signed minimum with the upper bound clamps the positive values and keeps the
// negative ones (below any positive), and an unsigned minimum with the lower bound then clamps
// the negative ones and keeps the positive ones (below 0x80000000). Values whose exponent is all
// ones are masked to 0.
TOVANEL_TARGET_AVX2 inline __m256i sanitizedSamplesAvx2(__m256i bits) {
    const __m256i magnitude = _mm256_and_si256(bits, _mm256_set1_epi32(0x7FFFFFFF));
    const __m256i notFinite = _mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x7F7FFFFF));
    const __m256i belowUpper =
        _mm256_min_epi32(bits, _mm256_set1_epi32(static_cast<int>(kUpperSampleBoundBits)));
    const __m256i clamped =
        _mm256_min_epu32(belowUpper, _mm256_set1_epi32(static_cast<int>(kLowerSampleBoundBits)));
    return _mm256_andnot_si256(notFinite, clamped);
}

// Eight frames: the two channels sanitised, paired within each 128-bit half, and the halves put
// in order.
TOVANEL_TARGET_AVX2 inline void sanitizeInterleaveEightAvx2(const float* left, const float* right,
                                                            std::uint8_t* out) {
    // Read as bits: no NaN quieted.
    const __m256i l =
        sanitizedSamplesAvx2(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(left)));
    const __m256i r =
        sanitizedSamplesAvx2(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(right)));
    const __m256i low = _mm256_unpacklo_epi32(l, r);  // frames 0, 1 | 4, 5
    const __m256i high = _mm256_unpackhi_epi32(l, r); // frames 2, 3 | 6, 7
    auto* to = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(to, _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(to + 1, _mm256_permute2x128_si256(low, high, 0x31));
}

// Thirty-two frames a round (the loop's own count and jump weigh less), then eight; the last few
// frames of eight or more as the last eight, written over what is already there with the same
// bytes, and fewer frames through the loop the other widths use.
TOVANEL_TARGET_AVX2 void sanitizeInterleaveAvx2(const float* left, const float* right,
                                                std::size_t frames, std::uint8_t* out) {
    if (frames < 8) {
        sanitizeInterleave(left, right, frames, out);
        return;
    }
    std::size_t i = 0;
    for (; i + 32 <= frames; i += 32) {
        for (std::size_t j = i; j < i + 32; j += 8) {
            sanitizeInterleaveEightAvx2(left + j, right + j, out + 8 * j);
        }
    }
    for (; i + 8 <= frames; i += 8) {
        sanitizeInterleaveEightAvx2(left + i, right + i, out + 8 * i);
    }
    if (i < frames) {
        i = frames - 8;
        sanitizeInterleaveEightAvx2(left + i, right + i, out + 8 * i);
    }
}
#endif

void sanitizeInterleaveBaseline(const float* left, const float* right, std::size_t frames,
                                std::uint8_t* out) {
    sanitizeInterleave(left, right, frames, out);
}

} // namespace

std::span<const StereoSanitizer> stereoSanitizers() {
    static const auto versions = std::to_array<StereoSanitizer>({
#ifdef TOVANEL_VECTOR_WIDTHS
        {"avx512", platform::cpuRunsAvx512(), &sanitizeInterleaveAvx512},
        {"avx2", platform::cpuRunsAvx2(), &sanitizeInterleaveAvx2},
#endif
        {"baseline", true, &sanitizeInterleaveBaseline},
    });
    return versions;
}

ByteBlock sanitizedInterleavedFloatPCM(std::span<const std::uint8_t> block) {
    const std::size_t samples = block.size() / 4; // a trailing partial sample is dropped
    ByteBlock result = ByteBlock::forOverwrite(samples * 4);
    sanitizeCopy(block.data(), result.data(), samples);
    return result;
}

ByteBlock sanitizedInterleavedFloatPCM(ByteBlock&& block) {
    if (block.size() % 4 != 0) {
        return sanitizedInterleavedFloatPCM(block.bytes()); // the partial sample must go
    }
    ByteBlock owned = std::move(block);
    sanitizeInPlace(owned.data(), owned.size() / 4);
    return owned;
}

} // namespace tovanel
