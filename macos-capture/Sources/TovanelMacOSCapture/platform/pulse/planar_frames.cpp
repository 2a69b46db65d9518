// Interleaved 32-bit frames split into one run of samples per channel.
#include "platform/pulse/planar_frames.h"

#include "platform/vector_clones.h"

#include <pulse/sample.h>

#include <algorithm>
#include <cstring>

namespace tovanel::platform::pulse {

namespace {

static_assert(PlanarFrames::kMaxChannels == PA_CHANNELS_MAX);

// Samples are moved as 32-bit words, bytes and not float values, so no NaN payload can change.
// Two channels, the usual case, have a loop of their own with a fixed stride that the vectoriser
// turns into a few shuffles per vector.
TOVANEL_VECTOR_CLONES void splitStereo(const std::uint8_t* frames, std::size_t count,
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

// `count` frames into every channel's run from sample `first` on.
void splitFrames(const std::uint8_t* frames, std::size_t count, std::uint32_t channels,
                 std::uint8_t* const* runs, std::size_t first) {
    if (channels == 2) {
        splitStereo(frames, count, runs[0] + 4 * first, runs[1] + 4 * first);
        return;
    }
    const std::size_t frameBytes = 4 * std::size_t{channels};
    for (std::uint32_t c = 0; c < channels; ++c) {
        std::uint8_t* run = runs[c] + 4 * first;
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(run + 4 * i, frames + i * frameBytes + 4 * c, 4);
        }
    }
}

} // namespace

PlanarFrames::PlanarFrames(std::uint32_t channels)
    : channels_(std::clamp<std::uint32_t>(channels, 1, kMaxChannels)),
      frameBytes_(4 * std::size_t{channels_}) {}

void PlanarFrames::split(const std::uint8_t* data, std::size_t bytes,
                         std::uint8_t* const* channels) {
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
        splitFrames(waiting_.data(), 1, channels_, channels, 0);
        waitingBytes_ = 0;
        written = 1;
    }
    const std::size_t frames = bytes / frameBytes_;
    splitFrames(data, frames, channels_, channels, written);
    waitingBytes_ = bytes - frames * frameBytes_;
    if (waitingBytes_ > 0) { // rare: the server cuts chunks between frames only when it must
        std::memcpy(waiting_.data(), data + frames * frameBytes_, waitingBytes_);
    }
}

} // namespace tovanel::platform::pulse
