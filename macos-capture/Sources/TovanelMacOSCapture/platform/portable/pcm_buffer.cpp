// PCM buffers off Apple: owned, zeroed sample memory and the list that describes it.
#include "platform/portable/pcm_buffer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

namespace tovanel::platform::portable {

namespace {

// Each buffer starts on its own cache line, which also aligns it for any sample type.
constexpr std::uint64_t kBufferAlignment = 64;

} // namespace

std::shared_ptr<PortablePCMBuffer>
PortablePCMBuffer::make(const std::shared_ptr<PortableAudioFormat>& format,
                        std::uint32_t frameCapacity) {
    if (!format || format->bytesPerBufferFrame() == 0) {
        return nullptr;
    }
    const std::uint64_t bufferBytes =
        static_cast<std::uint64_t>(frameCapacity) * format->bytesPerBufferFrame();
    if (bufferBytes > std::numeric_limits<std::uint32_t>::max()) {
        return nullptr;
    }
    // A zero capacity still gets memory, so every data pointer is a real one.
    const std::uint64_t stride = (std::max<std::uint64_t>(bufferBytes, 1) + kBufferAlignment - 1) /
                                 kBufferAlignment * kBufferAlignment;
    const std::uint64_t total = stride * format->bufferCount(); // at most 64 × 4 GiB
    if (total > std::numeric_limits<std::size_t>::max()) {
        return nullptr;
    }
    // calloc: large blocks come straight from the kernel already zeroed, without a pass over them.
    SampleMemory memory(static_cast<std::byte*>(std::calloc(static_cast<std::size_t>(total), 1)));
    if (!memory) {
        return nullptr;
    }
    try {
        return std::make_shared<PortablePCMBuffer>(
            Token{}, format, frameCapacity, static_cast<std::size_t>(stride), std::move(memory));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PortablePCMBuffer::PortablePCMBuffer(Token, std::shared_ptr<PortableAudioFormat> format,
                                     std::uint32_t frameCapacity, std::size_t bufferStride,
                                     SampleMemory memory)
    : portableFormat_(std::move(format)), format_(portableFormat_), frameCapacity_(frameCapacity),
      bufferStride_(bufferStride), memory_(std::move(memory)),
      list_(audioBufferListSize(portableFormat_->bufferCount())) {
    const PortableAudioFormat& layout = *portableFormat_;
    AudioBufferList& list = *list_.get();
    list.mNumberBuffers = layout.bufferCount();
    const std::uint32_t channelsPerBuffer = layout.isInterleaved() ? layout.channelCount() : 1;
    for (std::uint32_t i = 0; i < layout.bufferCount(); ++i) {
        AudioBuffer& buffer = audioBuffers(list, layout.bufferCount())[i];
        buffer.mNumberChannels = channelsPerBuffer;
        buffer.mDataByteSize = frameCapacity_ * layout.bytesPerBufferFrame();
        buffer.mData = bufferData(i);
    }
    if (layout.sampleType() == SampleType::float32) {
        floatChannels_.resize(layout.channelCount());
        for (std::uint32_t c = 0; c < layout.channelCount(); ++c) {
            floatChannels_[c] = layout.isInterleaved() ? reinterpret_cast<float*>(bufferData(0)) + c
                                                       : reinterpret_cast<float*>(bufferData(c));
        }
    }
}

void PortablePCMBuffer::setFrameLength(std::uint32_t frameLength) {
    frameLength_ = std::min(frameLength, frameCapacity_);
    const std::uint32_t count = portableFormat_->bufferCount();
    for (AudioBuffer& buffer : audioBuffers(*list_.get(), count)) {
        buffer.mDataByteSize = frameLength_ * portableFormat_->bytesPerBufferFrame();
    }
}

float* const* PortablePCMBuffer::floatChannelData() {
    return floatChannels_.empty() ? nullptr : floatChannels_.data();
}

std::uint32_t PortablePCMBuffer::stride() const {
    return portableFormat_->isInterleaved() ? portableFormat_->channelCount() : 1;
}

} // namespace tovanel::platform::portable
