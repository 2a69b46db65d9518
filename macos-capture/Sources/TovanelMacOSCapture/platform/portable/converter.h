// The converter off Apple, AVAudioConverter's counterpart: any format PortableAudioFormat
// accepts, at a convertible rate, to 32-bit float (planar or interleaved) at any convertible
// rate.
//
// How it keeps the signal whole:
//   - It asks its input block for input at least once in every call, even when frames already
//     waiting would fill the output, and again while the output is not full. A caller's block
//     may hold its buffer for that call only: input not asked for then would be lost.
//   - Each input buffer is read into the converter's own memory before the block is asked
//     again, so a caller may reuse its buffer as soon as the block returns.
//   - Frames made beyond the output's capacity wait in a queue for the next call: nothing is
//     dropped and nothing is put out twice.
//   - Between different rates a libsoxr resampler runs and keeps its filter history from one
//     call to the next. At the same rate none runs: only layout and sample type change, and
//     32-bit float samples pass bit for bit.
//   - Output channel c takes input channel min(c, input channels - 1): mono is copied to every
//     output channel, and input channels beyond the output's are left out.
#pragma once

#include "platform/media.h"
#include "platform/portable/audio_format.h"
#include "platform/portable/frame_queue.h"
#include "platform/portable/pcm_buffer.h"
#include "platform/portable/resampler.h"

#include <memory>
#include <optional>
#include <vector>

namespace tovanel::platform::portable {

class PortableAudioConverter final : public AudioConverter {
    struct Token {};

  public:
    // Null when the output is not 32-bit float, when either rate is not convertible, or when
    // the resampler cannot be made.
    static std::shared_ptr<PortableAudioConverter>
    make(const std::shared_ptr<PortableAudioFormat>& from,
         const std::shared_ptr<PortableAudioFormat>& to);

    // haveData when the output was filled to its capacity; inputRanDry when the input ran out
    // first (the output then holds what could be made, possibly nothing); endOfStream once the
    // block has announced the end (the filter is then drained and no more input is asked for)
    // and every frame has been delivered; error with `error` set when the output or an input
    // buffer is not in the converter's format, when the block breaks its contract, or when
    // resampling fails. An input buffer of no frames ends the asking for this call, so a block
    // that keeps answering empty buffers cannot spin it.
    ConverterOutputStatus convertToBuffer(PCMBuffer& output, std::optional<PlatformError>& error,
                                          const ConverterInputBlock& input) override;

    bool resamples() const { return resampler_.has_value(); }
    // Output frames taken in and not yet delivered: those waiting in the queue and those still
    // in the resampler's filter.
    double heldBackFrames() const;

    PortableAudioConverter(Token, std::shared_ptr<PortableAudioFormat> from,
                           std::shared_ptr<PortableAudioFormat> to,
                           std::optional<Resampler> resampler);

  private:
    std::optional<PlatformError> pull(std::uint32_t capacity, const ConverterInputBlock& input);
    std::optional<PlatformError> take(const PortablePCMBuffer& source);
    std::uint32_t packetsWanted(std::uint32_t capacity) const;
    std::size_t deliver(PortablePCMBuffer& output);

    std::shared_ptr<PortableAudioFormat> from_;
    std::shared_ptr<PortableAudioFormat> to_;
    std::uint32_t channels_; // channels carried through: the fewer of input and output
    std::optional<Resampler> resampler_;
    FrameQueue queue_;
    // One slice of input as planar floats, on its way into the resampler.
    std::vector<std::vector<float>> staging_;
    std::vector<float*> stagingOut_;
    std::vector<const float*> stagingIn_;
    bool ended_ = false; // the block announced the end of the stream and the filter was drained
};

} // namespace tovanel::platform::portable
