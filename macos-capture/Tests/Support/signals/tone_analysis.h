// Analysis of a captured test tone: its frequency and level in each channel, whether every
// sample is finite and within ±0.95, and whether its phase runs on without a break. A frame lost
// or played twice shows as a phase step of one frame's worth; a pop or an altered frame shows as
// a local departure from the tone with no step.
#pragma once

#include "sample_bounds.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tovanel::signals {

struct ToneFault {
    enum class Kind {
        Discontinuity, // the phase steps: frames lost (frames > 0) or repeated (frames < 0)
        Glitch,        // samples off the tone with no phase step: a pop, an altered frame
        Dropout,       // three or more silent frames inside the tone
    };
    Kind kind;
    std::uint64_t position; // frame offset in the recording
    // Discontinuity: frames skipped (negative: repeated), known modulo one period of the tone.
    // Dropout: silent frames.
    std::int64_t frames = 0;
    double magnitude = 0; // Glitch: largest departure from the tone; Discontinuity: step in radians
    unsigned channels = 0; // bit 0 left, bit 1 right
};

struct ToneChannelReport {
    bool found = false; // a steady tone was there to analyse
    double frequencyHz = 0;
    double levelDbfs = -HUGE_VAL; // the fitted sine's peak
    double rmsDbfs = -HUGE_VAL;   // referenced to a full-scale sine, so a sine reads as its level
    double peakDbfs = -HUGE_VAL;  // largest sample of the analysed part
};

struct ToneReport {
    std::uint64_t frames = 0;
    std::uint64_t leadingSilence = 0;  // frames before the tone starts
    std::uint64_t trailingSilence = 0; // frames after it ends
    std::uint64_t analysedFrames = 0;  // the tone without its first and last edgeFrames
    std::uint64_t edgeFrames = 0;
    std::array<ToneChannelReport, 2> channels;
    SampleBoundsReport bounds; // over the whole recording
    std::uint64_t discontinuities = 0;
    std::uint64_t glitches = 0;
    std::uint64_t dropouts = 0;
    std::uint64_t faultCount = 0;
    std::vector<ToneFault> faults; // the first kMaxListedFaults, in recording order

    static constexpr std::size_t kMaxListedFaults = 16;

    bool found() const { return channels[0].found && channels[1].found; }
    bool continuous() const { return discontinuities == 0 && glitches == 0 && dropouts == 0; }
};

struct ToneAnalysisOptions {
    // Frames left out after the tone starts and before it ends (its onset and its cut-off are not
    // faults); 0 chooses two periods of the tone, at least 64 frames.
    std::uint64_t edgeFrames = 0;
    // Departures from the tone smaller than this fraction of its amplitude are not glitches (the
    // noise floor of the recording raises it when it is higher).
    double glitchThreshold = 1e-4;
};

// Analyses interleaved stereo samples. The whole recording is held in memory: meant for seconds
// to minutes of audio. Frame-exact detection needs a tone of a few hundred hertz or more; a step
// of a whole number of periods cannot be seen in a tone at all (the numbering signal sees it).
ToneReport analyseTone(std::span<const float> samples, const ToneAnalysisOptions& options = {});

} // namespace tovanel::signals
