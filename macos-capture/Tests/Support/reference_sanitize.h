// The sanitising rule written the plain way, one value at a time: what the vectorised kernel is
// checked against by the unit tests and the fuzzer.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "pcm/sanitize.h"

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

} // namespace tovanel::test
