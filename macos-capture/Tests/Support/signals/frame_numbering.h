// The self-numbering signal: every frame carries its own 32-bit frame index, the low 16 bits in
// the left sample and the high 16 bits in the right one. A 16-bit code c is the sample
// (2c - 65535) / 2^17: an odd multiple of 2^-17, so it is exact in binary32, never zero (silence
// is never a code) and within ±0.5 (the ±0.95 clamp never touches it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tovanel::signals {

// Codes lie 2^-16 apart; a tolerance must stay below half of that to decode unambiguously.
inline constexpr double kNumberingStep = 1.0 / 65536.0;
inline constexpr double kLargestNumberingTolerance = kNumberingStep / 2 * 0.999;

float numberingSample(std::uint16_t code);
// The code a sample carries when it lies within `tolerance` of one, otherwise nothing.
std::optional<std::uint16_t> numberingCode(float sample, double tolerance = 0);

struct NumberedFrame {
    float left;
    float right;
};
NumberedFrame numberedFrame(std::uint32_t index);
// The index a frame carries when both samples decode, otherwise nothing.
std::optional<std::uint32_t> frameIndex(float left, float right, double tolerance = 0);

class NumberedSignalGenerator {
  public:
    explicit NumberedSignalGenerator(std::uint32_t startIndex = 0) : next_(startIndex) {}
    // The next `frames` frames, interleaved stereo; the index wraps after 2^32 frames.
    std::vector<float> next(std::size_t frames);
    std::uint32_t nextIndex() const { return next_; }

  private:
    std::uint32_t next_;
};

} // namespace tovanel::signals
