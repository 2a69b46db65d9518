// Media off Apple: audio formats from stream descriptions, PCM buffers and a converter to any
// float format, resampling with libsoxr.
// (Stub: every call answers "none" until the portable media backend is written.)
#pragma once

#include "platform/media.h"

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
};

} // namespace tovanel::platform::portable
