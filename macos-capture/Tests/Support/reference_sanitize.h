// The sanitising rule written the plain way, one value at a time: what the vectorised kernel is
// checked against by the unit tests and the fuzzer; and the mix of bit patterns both feed it.
#pragma once

#include "pcm/sanitize.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

namespace tovanel::test {

inline std::uint32_t referenceSanitized(std::uint32_t bits) {
    const float x = std::bit_cast<float>(bits);
    if (std::isnan(x) || std::isinf(x)) {
        return 0;
    }
    if (x < std::bit_cast<float>(kLowerSampleBoundBits)) {
        return kLowerSampleBoundBits;
    }
    if (x > std::bit_cast<float>(kUpperSampleBoundBits)) {
        return kUpperSampleBoundBits;
    }
    return bits;
}

// Values from every class of bit pattern: NaN, infinities, zeros, subnormals, normals inside
// and outside the bounds, the bounds and their neighbours, and arbitrary bits.
inline std::uint32_t randomPatternFromEveryClass(std::mt19937& random) {
    std::uniform_int_distribution<std::uint32_t> any;
    const std::uint32_t sign = any(random) & 0x80000000u;
    const std::uint32_t mantissa = any(random) & 0x007FFFFFu;
    switch (any(random) % 8) {
    case 0:
        return sign | 0x7F800000u | (mantissa | 1u); // NaN
    case 1:
        return sign | 0x7F800000u; // infinity
    case 2:
        return sign | mantissa; // zero or subnormal
    case 3:
        return std::bit_cast<std::uint32_t>(
            std::uniform_real_distribution<float>(-0.95f, 0.95f)(random));
    case 4:
        return sign | ((any(random) % 254 + 1) << 23) | mantissa; // any normal
    case 5:
        return (sign ? kLowerSampleBoundBits : kUpperSampleBoundBits) +
               static_cast<std::uint32_t>(any(random) % 5) - 2u;
    default:
        return any(random);
    }
}

} // namespace tovanel::test
