// The sanitiser on any bytes at any alignment: both forms agree, every sample comes out finite
// and within the bounds, finite samples inside the bounds pass bit for bit, and a second pass
// changes nothing.
#include "pcm/sanitize.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovanel;
    const ByteBlock copied = sanitizedInterleavedFloatPCM(std::span(data, size));
    const ByteBlock inPlace = sanitizedInterleavedFloatPCM(ByteBlock(std::span(data, size)));
    if (copied.size() != size / 4 * 4 || !(copied == inPlace) ||
        !(sanitizedInterleavedFloatPCM(copied.bytes()) == copied)) {
        std::abort();
    }
    const float low = std::bit_cast<float>(kLowerSampleBoundBits);
    const float high = std::bit_cast<float>(kUpperSampleBoundBits);
    for (std::size_t i = 0; i < copied.size(); i += 4) {
        float in;
        float out;
        std::memcpy(&in, data + i, 4);
        std::memcpy(&out, copied.data() + i, 4);
        const bool passes = std::isfinite(in) && in >= low && in <= high;
        if (!std::isfinite(out) || out < low || out > high ||
            (passes && std::memcmp(&in, &out, 4) != 0)) {
            std::abort();
        }
    }
    return 0;
}
