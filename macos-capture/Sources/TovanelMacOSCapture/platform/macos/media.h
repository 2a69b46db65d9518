// Media on macOS: CoreMedia sample buffers and format descriptions, AVFAudio formats, PCM
// buffers and converter. Objective-C++ (ARC) only.
#pragma once

#include "platform/macos/cf_ptr.h"
#include "platform/media.h"

#include <CoreMedia/CoreMedia.h>

#include <optional>

namespace tovanel::platform::macos {

// A CMFormatDescription, retained for as long as this lives.
class MacFormatDescription final : public FormatDescription {
  public:
    explicit MacFormatDescription(CFPtr<CMFormatDescriptionRef> description);

    const AudioStreamBasicDescription* streamBasicDescription() const override;
    // CFEqual on the two descriptions.
    bool isEqual(const FormatDescription& other) const override;

  private:
    CFPtr<CMFormatDescriptionRef> description_; // never null
    std::optional<AudioStreamBasicDescription> streamDescription_;
};

// A CMSampleBuffer as ScreenCaptureKit hands it to an output. It is borrowed, not retained: it
// is valid only during the callback that delivered it, and so is this wrapper.
class MacSampleBuffer final : public SampleBuffer {
  public:
    explicit MacSampleBuffer(CMSampleBufferRef sampleBuffer) : sampleBuffer_(sampleBuffer) {}

    std::shared_ptr<const FormatDescription> formatDescription() const override;
    std::int64_t numSamples() const override;
    OSStatus audioBufferListSizeNeeded(std::size_t& sizeNeeded) const override;
    OSStatus fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                 std::shared_ptr<const void>& retainedBlock) const override;

  private:
    CMSampleBufferRef sampleBuffer_; // borrowed, never null
};

class MacMedia final : public Media {
  public:
    std::shared_ptr<AudioFormat> makeFormat(const AudioStreamBasicDescription& asbd) override;
    std::shared_ptr<AudioFormat> makeFormat(CommonFormat format, double sampleRate,
                                            std::uint32_t channels, bool interleaved) override;
    std::shared_ptr<PCMBuffer> makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                             std::uint32_t frameCapacity) override;
    std::shared_ptr<AudioConverter> makeConverter(const std::shared_ptr<AudioFormat>& from,
                                                  const std::shared_ptr<AudioFormat>& to) override;
};

} // namespace tovanel::platform::macos
