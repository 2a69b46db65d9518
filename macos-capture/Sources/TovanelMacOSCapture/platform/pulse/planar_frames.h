// A record stream's fragments of interleaved 32-bit frames, laid out as the screen-capture
// service hands its audio over: one run of samples per channel (planar). The split is the copy
// out of libpulse's memory, so the bytes are moved once. A frame cut across two fragments is kept
// whole: its first part waits for the rest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tovanel::platform::pulse {

// The versions of the two-channel split, one per vector width the build makes, widest first: the
// tests hold every one the CPU runs to the plain loop. `run` writes `count` samples into each of
// `left` and `right` from `count` frames at `frames`; none of them needs any alignment.
struct StereoSplitter {
    std::string_view width;
    bool runsHere; // the CPU has what this version needs
    void (*run)(const std::uint8_t* frames, std::size_t count, std::uint8_t* left,
                std::uint8_t* right);
};
std::span<const StereoSplitter> stereoSplitters();

class PlanarFrames {
  public:
    static constexpr std::uint32_t kMaxChannels = 32; // PA_CHANNELS_MAX

    // 1 to kMaxChannels channels of 4-byte samples.
    explicit PlanarFrames(std::uint32_t channels);

    std::uint32_t channels() const { return channels_; }
    // The whole frames that `bytes` more bytes complete, counting the part of a frame waiting.
    std::size_t wholeFrames(std::size_t bytes) const {
        return (waitingBytes_ + bytes) / frameBytes_;
    }
    // Writes the whole frames of the waiting part and `data` into the runs, wholeFrames(bytes)
    // samples each, and keeps what is left of a frame for the next call. Channel c's samples go
    // to `runs` + c * `runDistance` on. Nothing is written when no frame is whole.
    void split(const std::uint8_t* data, std::size_t bytes, std::uint8_t* runs,
               std::size_t runDistance) {
        if (stereo_ != nullptr && waitingBytes_ == 0 && bytes % 8 == 0) { // the usual chunk
            stereo_(data, bytes / 8, runs, runs + runDistance);
            return;
        }
        splitAny(data, bytes, runs, runDistance);
    }

  private:
    void splitAny(const std::uint8_t* data, std::size_t bytes, std::uint8_t* runs,
                  std::size_t runDistance);
    // `count` whole frames into every channel's run from sample `first` on.
    void splitRuns(const std::uint8_t* frames, std::size_t count, std::uint8_t* runs,
                   std::size_t runDistance, std::size_t first);

    std::uint32_t channels_;
    decltype(StereoSplitter::run) stereo_; // the widest version for two channels, else null
    std::size_t frameBytes_;
    std::array<std::uint8_t, 4 * kMaxChannels> waiting_{}; // the first part of a cut frame
    std::size_t waitingBytes_ = 0;
};

} // namespace tovanel::platform::pulse
