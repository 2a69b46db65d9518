// Sample buffers off Apple.
#include "platform/portable/sample_buffer.h"

namespace tovanel::platform::portable {

bool PortableFormatDescription::isEqual(const FormatDescription& other) const {
    if (&other == this) {
        return true;
    }
    const AudioStreamBasicDescription* theirs = other.streamBasicDescription();
    return description_ && theirs && *description_ == *theirs;
}

PortableSampleBuffer::PortableSampleBuffer(std::shared_ptr<const FormatDescription> description,
                                           std::int64_t frames, std::vector<Buffer> buffers)
    : description_(std::move(description)), frames_(frames),
      buffers_(std::make_shared<std::vector<Buffer>>(std::move(buffers))) {}

OSStatus PortableSampleBuffer::audioBufferListSizeNeeded(std::size_t& sizeNeeded) const {
    sizeNeeded = audioBufferListSize(buffers_->size());
    return 0;
}

OSStatus
PortableSampleBuffer::fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                          std::shared_ptr<const void>& retainedBlock) const {
    if (listSize < audioBufferListSize(buffers_->size())) {
        return kCMSampleBufferError_ArrayTooSmall;
    }
    list.mNumberBuffers = static_cast<std::uint32_t>(buffers_->size());
    auto records = audioBuffers(list, buffers_->size());
    for (std::size_t i = 0; i < buffers_->size(); ++i) {
        Buffer& buffer = (*buffers_)[i];
        records[i] = AudioBuffer{buffer.channels, static_cast<std::uint32_t>(buffer.bytes.size()),
                                 buffer.bytes.empty() ? nullptr : buffer.bytes.data()};
    }
    retainedBlock = std::shared_ptr<const void>(buffers_, buffers_.get());
    return 0;
}

} // namespace tovanel::platform::portable
