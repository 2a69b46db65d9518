// The test tone, computed from the absolute frame index so pieces join exactly.
#include "sine_generator.h"

#include "stream_format.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tovanel::signals {

double amplitudeOfDbfs(double dbfs) {
    return std::pow(10.0, dbfs / 20.0);
}

double dbfsOfAmplitude(double amplitude) {
    return amplitude > 0 ? 20.0 * std::log10(amplitude) : -HUGE_VAL;
}

SineGenerator::SineGenerator(double frequencyHz, double levelDbfs, std::uint64_t startFrame)
    : frequencyHz_(frequencyHz), amplitude_(amplitudeOfDbfs(levelDbfs)), frame_(startFrame) {
    if (!(frequencyHz > 0 && frequencyHz < kSampleRate / 2.0)) {
        throw std::invalid_argument("tone frequency must lie between 0 and 24000 Hz");
    }
    if (!(amplitude_ <= kSampleBound)) {
        throw std::invalid_argument(
            "tone level must keep the peak within ±0.95 (at most -0.45 dBFS)");
    }
}

std::vector<float> SineGenerator::next(std::size_t frames) {
    std::vector<float> samples(frames * kChannels);
    for (std::size_t i = 0; i < frames; ++i, ++frame_) {
        // The cycle position is reduced before it is scaled, so the phase stays exact however far
        // into the tone the frame lies.
        const double cycles = std::fmod(frequencyHz_ * static_cast<double>(frame_), kSampleRate);
        const auto value = static_cast<float>(
            amplitude_ * std::sin(2.0 * std::numbers::pi * cycles / kSampleRate));
        samples[i * 2] = value;
        samples[i * 2 + 1] = value;
    }
    return samples;
}

} // namespace tovanel::signals
