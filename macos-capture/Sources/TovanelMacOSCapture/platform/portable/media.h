// Media off Apple: audio formats from stream descriptions and common formats, PCM buffers that
// own their memory, and a converter to 32-bit float that resamples with libsoxr. Each piece
// lives in its own file; this is the facility that hands them out. Formats asked for again are
// shared and PCM buffers let go of are handed out again, so a stream's steady state allocates
// nothing here.
#pragma once

#include "platform/media.h"
#include "platform/portable/format_cache.h"
#include "platform/portable/pcm_buffer_pool.h"

namespace tovanel::platform::portable {

class PortableMedia : public Media {
  public:
    std::shared_ptr<AudioFormat> makeFormat(const AudioStreamBasicDescription& asbd) override;
    std::shared_ptr<AudioFormat> makeFormat(CommonFormat format, double sampleRate,
                                            std::uint32_t channels, bool interleaved) override;
    std::shared_ptr<PCMBuffer> makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                             std::uint32_t frameCapacity) override;
    std::shared_ptr<AudioConverter> makeConverter(const std::shared_ptr<AudioFormat>& from,
                                                  const std::shared_ptr<AudioFormat>& to) override;

  private:
    std::shared_ptr<AudioFormat> shared(const std::optional<PortableAudioFormat>& format);

    FormatCache formats_;
    PCMBufferPool buffers_;
};

} // namespace tovanel::platform::portable
