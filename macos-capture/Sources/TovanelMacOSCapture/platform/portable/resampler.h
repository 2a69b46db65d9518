// The sample-rate converter off Apple: a libsoxr stream resampler at high quality (SOXR_HQ,
// linear phase), planar 32-bit float in and out, on the calling thread. Its filter history
// carries from one call to the next, so consecutive inputs are resampled as one signal.
#pragma once

#include "platform/platform_error.h"
#include "platform/portable/frame_queue.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct soxr; // libsoxr's resampler, kept out of this header

namespace tovanel::platform::portable {

class Resampler {
  public:
    // None when libsoxr refuses the rates or the channel count. Callers check the rates first:
    // libsoxr does not return for a rate that is not finite.
    static std::optional<Resampler> make(double inputRate, double outputRate,
                                         std::uint32_t channels);

    // Resamples `frames` frames (one pointer per channel) and appends every frame the
    // resampler can put out now to `output`.
    std::optional<PlatformError> process(const std::vector<const float*>& input, std::size_t frames,
                                         FrameQueue& output);
    // The end of the signal: appends the frames still held in the filter.
    std::optional<PlatformError> flush(FrameQueue& output);
    // Output frames taken in but not yet put out (fractional: the rate ratio is).
    double delay() const;

  private:
    struct Delete {
        void operator()(soxr* resampler) const;
    };

    Resampler(std::unique_ptr<soxr, Delete> resampler, double ratio, std::uint32_t channels);
    std::optional<PlatformError> run(const std::vector<const float*>* input, std::size_t frames,
                                     FrameQueue& output);

    std::unique_ptr<soxr, Delete> soxr_;
    double ratio_;                     // output frames per input frame
    std::vector<const float*> cursor_; // where each input channel goes on
    std::vector<float*> outputCursor_; // where each output channel goes on
};

} // namespace tovanel::platform::portable
