// Sample buffers off Apple: a format description holding a stream description, and a sample
// buffer that owns its audio and hands out buffer lists the way CoreMedia does.
#pragma once

#include "platform/media.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tovanel::platform::portable {

class PortableFormatDescription final : public FormatDescription {
  public:
    // Without a stream description this describes something that is not audio.
    explicit PortableFormatDescription(std::optional<AudioStreamBasicDescription> description)
        : description_(description) {}

    const AudioStreamBasicDescription* streamBasicDescription() const override {
        return description_ ? &*description_ : nullptr;
    }
    // Equal when both describe the same audio stream, as CFEqual compares contents.
    bool isEqual(const FormatDescription& other) const override;

  private:
    std::optional<AudioStreamBasicDescription> description_;
};

// CoreMedia's answer when the list given to the fill form is too small.
inline constexpr OSStatus kCMSampleBufferError_ArrayTooSmall = -12737;

class PortableSampleBuffer : public SampleBuffer {
  public:
    struct Buffer {
        std::uint32_t channels = 0;
        std::vector<std::uint8_t> bytes;
    };

    PortableSampleBuffer(std::shared_ptr<const FormatDescription> description, std::int64_t frames,
                         std::vector<Buffer> buffers);

    std::shared_ptr<const FormatDescription> formatDescription() const override {
        return description_;
    }
    std::int64_t numSamples() const override { return frames_; }
    OSStatus audioBufferListSizeNeeded(std::size_t& sizeNeeded) const override;
    OSStatus fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                 std::shared_ptr<const void>& retainedBlock) const override;

  private:
    std::shared_ptr<const FormatDescription> description_;
    std::int64_t frames_;
    // Shared with every list handed out, which holds it as its retained block.
    std::shared_ptr<std::vector<Buffer>> buffers_;
};

} // namespace tovanel::platform::portable
