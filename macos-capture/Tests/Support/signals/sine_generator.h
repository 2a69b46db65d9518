// A test tone: a sine of given frequency and peak level, the same in both channels, numbered by
// absolute frame so that consecutive pieces join without a phase step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tovanel::signals {

class SineGenerator {
  public:
    // `levelDbfs` is the peak level (0 dBFS is a peak of 1.0) and must keep the peak within the
    // stream's ±0.95; `frequencyHz` must lie strictly between 0 and half the rate. The first frame
    // produced is frame `startFrame` of the endless tone. Throws std::invalid_argument otherwise.
    SineGenerator(double frequencyHz, double levelDbfs, std::uint64_t startFrame = 0);

    // The next `frames` frames, interleaved stereo.
    std::vector<float> next(std::size_t frames);

    double amplitude() const { return amplitude_; }
    std::uint64_t nextFrame() const { return frame_; }

  private:
    double frequencyHz_;
    double amplitude_;
    std::uint64_t frame_;
};

// Peak amplitude of a level in dBFS, and back.
double amplitudeOfDbfs(double dbfs);
double dbfsOfAmplitude(double amplitude);

} // namespace tovanel::signals
