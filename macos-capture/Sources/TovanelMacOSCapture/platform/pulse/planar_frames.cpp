// Interleaved 32-bit frames split into one run of samples per channel.
#include "platform/pulse/planar_frames.h"

#include "platform/vector_clones.h"

#include <pulse/sample.h>

#include <algorithm>
#include <cstring>

#ifdef TOVANEL_VECTOR_WIDTHS
#include <immintrin.h>
#endif

namespace tovanel::platform::pulse {

namespace {

static_assert(PlanarFrames::kMaxChannels == PA_CHANNELS_MAX);

// Samples are moved as 32-bit words, bytes and not float values, so no NaN payload can change.
// Two channels, the usual case, have a loop of their own with a fixed stride that the vectoriser
// turns into a few shuffles per vector. Always inlined into one function per vector width, each
// compiled for its own.
[[gnu::always_inline]] inline void splitStereo(const std::uint8_t* frames, std::size_t count,
                                               std::uint8_t* left, std::uint8_t* right) {
#pragma GCC unroll 2 // two rounds of shuffles per loop: its own count and jump weigh less
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t leftWord;
        std::uint32_t rightWord;
        std::memcpy(&leftWord, frames + 8 * i, 4);
        std::memcpy(&rightWord, frames + 8 * i + 4, 4);
        std::memcpy(left + 4 * i, &leftWord, 4);
        std::memcpy(right + 4 * i, &rightWord, 4);
    }
}

#ifdef TOVANEL_VECTOR_WIDTHS
TOVANEL_TARGET_AVX512 void splitStereoAvx512(const std::uint8_t* frames, std::size_t count,
                                             std::uint8_t* left, std::uint8_t* right) {
    splitStereo(frames, count, left, right);
}

// Eight frames in four shuffles, where the vectoriser makes six, two of them with the loads: each
// four frames' left samples gathered into the low half and their right ones into the high half,
// then the halves of the two gathered vectors paired. Moved as bits (a float shuffle never
// changes a value).
TOVANEL_TARGET_AVX2 inline void splitEightAvx2(const std::uint8_t* frames, std::uint8_t* left,
                                               std::uint8_t* right) {
    const __m256i leftsThenRights = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256 first = _mm256_permutevar8x32_ps(
        _mm256_loadu_ps(reinterpret_cast<const float*>(frames)), leftsThenRights);
    const __m256 second = _mm256_permutevar8x32_ps(
        _mm256_loadu_ps(reinterpret_cast<const float*>(frames + 32)), leftsThenRights);
    _mm256_storeu_ps(reinterpret_cast<float*>(left), _mm256_permute2f128_ps(first, second, 0x20));
    _mm256_storeu_ps(reinterpret_cast<float*>(right), _mm256_permute2f128_ps(first, second, 0x31));
}

// Thirty-two frames a round (the loop's own count and jump weigh less), then eight; the last few
// frames of a run of eight or more as the run's last eight, written over what is already there
// with the same words, and a shorter run through the loop the other widths use.
TOVANEL_TARGET_AVX2 void splitStereoAvx2(const std::uint8_t* frames, std::size_t count,
                                         std::uint8_t* left, std::uint8_t* right) {
    if (count < 8) {
        splitStereo(frames, count, left, right);
        return;
    }
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        for (std::size_t j = i; j < i + 32; j += 8) {
            splitEightAvx2(frames + 8 * j, left + 4 * j, right + 4 * j);
        }
    }
    for (; i + 8 <= count; i += 8) {
        splitEightAvx2(frames + 8 * i, left + 4 * i, right + 4 * i);
    }
    if (i < count) {
        i = count - 8;
        splitEightAvx2(frames + 8 * i, left + 4 * i, right + 4 * i);
    }
}
#endif

void splitStereoBaseline(const std::uint8_t* frames, std::size_t count, std::uint8_t* left,
                         std::uint8_t* right) {
    splitStereo(frames, count, left, right);
}

// The widest version of the two-channel split the CPU runs.
decltype(StereoSplitter::run) widestStereoSplitter() {
    for (const StereoSplitter& version : stereoSplitters()) {
        if (version.runsHere) {
            return version.run;
        }
    }
    return stereoSplitters().back().run; // the baseline, which runs everywhere
}

} // namespace

std::span<const StereoSplitter> stereoSplitters() {
    static const auto versions = std::to_array<StereoSplitter>({
#ifdef TOVANEL_VECTOR_WIDTHS
        {"avx512", cpuRunsAvx512(), &splitStereoAvx512},
        {"avx2", cpuRunsAvx2(), &splitStereoAvx2},
#endif
        {"baseline", true, &splitStereoBaseline},
    });
    return versions;
}

PlanarFrames::PlanarFrames(std::uint32_t channels)
    : channels_(std::clamp<std::uint32_t>(channels, 1, kMaxChannels)),
      stereo_(channels_ == 2 ? widestStereoSplitter() : nullptr),
      frameBytes_(4 * std::size_t{channels_}) {}

void PlanarFrames::splitRuns(const std::uint8_t* frames, std::size_t count, std::uint8_t* runs,
                             std::size_t runDistance, std::size_t first) {
    if (stereo_ != nullptr) {
        stereo_(frames, count, runs + 4 * first, runs + runDistance + 4 * first);
        return;
    }
    const std::size_t frameBytes = 4 * std::size_t{channels_};
    for (std::uint32_t c = 0; c < channels_; ++c) {
        std::uint8_t* run = runs + c * runDistance + 4 * first;
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(run + 4 * i, frames + i * frameBytes + 4 * c, 4);
        }
    }
}

void PlanarFrames::splitAny(const std::uint8_t* data, std::size_t bytes, std::uint8_t* runs,
                            std::size_t runDistance) {
    if (wholeFrames(bytes) == 0) {
        std::memcpy(waiting_.data() + waitingBytes_, data, bytes); // still not a whole frame
        waitingBytes_ += bytes;
        return;
    }
    std::size_t written = 0;
    if (waitingBytes_ > 0) {
        const std::size_t rest = std::min(frameBytes_ - waitingBytes_, bytes);
        std::memcpy(waiting_.data() + waitingBytes_, data, rest);
        data += rest;
        bytes -= rest;
        splitRuns(waiting_.data(), 1, runs, runDistance, 0);
        waitingBytes_ = 0;
        written = 1;
    }
    const std::size_t frames = bytes / frameBytes_;
    splitRuns(data, frames, runs, runDistance, written);
    waitingBytes_ = bytes - frames * frameBytes_;
    if (waitingBytes_ > 0) { // rare: the server cuts chunks between frames only when it must
        std::memcpy(waiting_.data(), data + frames * frameBytes_, waitingBytes_);
    }
}

} // namespace tovanel::platform::pulse
