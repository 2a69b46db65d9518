// Encoding and decoding of the self-numbering signal.
#include "frame_numbering.h"

#include <cmath>

namespace tovanel::signals {
namespace {
constexpr double kScale = 131072.0; // 2^17
} // namespace

float numberingSample(std::uint16_t code) {
    return static_cast<float>((2.0 * code - 65535.0) / kScale);
}

std::optional<std::uint16_t> numberingCode(float sample, double tolerance) {
    if (!std::isfinite(sample)) {
        return std::nullopt;
    }
    const double code = std::nearbyint((static_cast<double>(sample) * kScale + 65535.0) / 2.0);
    if (code < 0 || code > 65535) {
        return std::nullopt;
    }
    const auto exact = static_cast<std::uint16_t>(code);
    if (std::fabs(static_cast<double>(sample) - numberingSample(exact)) > tolerance) {
        return std::nullopt;
    }
    return exact;
}

NumberedFrame numberedFrame(std::uint32_t index) {
    return {numberingSample(static_cast<std::uint16_t>(index & 0xFFFF)),
            numberingSample(static_cast<std::uint16_t>(index >> 16))};
}

std::optional<std::uint32_t> frameIndex(float left, float right, double tolerance) {
    const auto low = numberingCode(left, tolerance);
    const auto high = numberingCode(right, tolerance);
    if (!low || !high) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*high) << 16 | *low;
}

std::vector<float> NumberedSignalGenerator::next(std::size_t frames) {
    std::vector<float> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i, ++next_) {
        const NumberedFrame frame = numberedFrame(next_);
        samples[i * 2] = frame.left;
        samples[i * 2 + 1] = frame.right;
    }
    return samples;
}

} // namespace tovanel::signals
