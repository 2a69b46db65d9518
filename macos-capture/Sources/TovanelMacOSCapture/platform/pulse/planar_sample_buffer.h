// The sample buffers of the screen-capture stream: 32-bit float audio, one run of samples per
// channel, as the screen-capture service hands its audio over. The stream fills one again for
// every trip to the audio output instead of making one per chunk, and may add several chunks to
// it before it sends it.
#pragma once

#include "platform/media.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tovanel::platform::pulse {

class PlanarSampleBuffer final : public SampleBuffer {
  public:
    // Empties the buffer for a new trip: no frames yet, of `channels` channels described by
    // `description`, with room for `roomFrames`. The memory of the last trip is used again when
    // it has the room and no buffer list handed out earlier still holds it (its retained block
    // not yet let go); otherwise the buffer takes new memory.
    void start(const std::shared_ptr<const FormatDescription>& description, std::uint32_t channels,
               std::size_t roomFrames);
    // Makes room for `frames` more frames, keeping the ones already added.
    void reserveMore(std::size_t frames) {
        if ((frames_ + frames) * 4 > runBytes_) {
            makeRoom(frames_ + frames);
        }
    }
    // Where the next frame of the first channel goes; channel c's is runDistance() * c further.
    // The runs have room for the frames reserved.
    std::uint8_t* runsEnd() { return storage_->bytes.get() + frames_ * 4; }
    std::size_t runDistance() const { return runBytes_; }
    // Counts `frames` more frames as written at the channels' ends.
    void add(std::size_t frames) { frames_ += frames; }

    std::shared_ptr<const FormatDescription> formatDescription() const override {
        return description_;
    }
    std::int64_t numSamples() const override { return static_cast<std::int64_t>(frames_); }
    OSStatus audioBufferListSizeNeeded(std::size_t& sizeNeeded) const override;
    // One record per channel, each pointing into memory that `retainedBlock` keeps.
    OSStatus fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                 std::shared_ptr<const void>& retainedBlock) const override;

  private:
    struct Storage {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t size = 0;
    };

    // Memory with room for `roomFrames` in every run, holding the frames added so far.
    void makeRoom(std::size_t roomFrames);

    std::shared_ptr<const FormatDescription> description_;
    std::uint32_t channels_ = 0;
    std::size_t frames_ = 0;
    std::size_t runBytes_ = 0; // bytes from one channel's run to the next, a multiple of 16
    std::shared_ptr<Storage> storage_;
};

} // namespace tovanel::platform::pulse
