// PCM buffers off Apple: owned sample memory and the list that describes it.
#include "platform/portable/pcm_buffer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

namespace tovanel::platform::portable {

namespace {

// Buffers lie whole 64-byte blocks apart from the start of the memory, so each is aligned as the
// allocation is (for any sample type) and a buffer's end never runs into the next one's start.
constexpr std::uint64_t kBufferAlignment = 64;

constexpr std::uint64_t alignedUp(std::uint64_t bytes) {
    return (bytes + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
}

// The list and, for 32-bit float samples, one pointer per channel, ahead of the samples.
std::uint64_t headBytes(const PortableAudioFormat& format) {
    const std::uint64_t pointers =
        format.sampleType() == SampleType::float32 ? format.channelCount() * sizeof(float*) : 0;
    return alignedUp(audioBufferListSize(format.bufferCount()) + pointers);
}

} // namespace

std::shared_ptr<PortablePCMBuffer>
PortablePCMBuffer::make(const std::shared_ptr<AudioFormat>& format,
                        const PortableAudioFormat& layout, std::uint32_t frameCapacity,
                        std::uint32_t roomFrames) {
    if (layout.bytesPerBufferFrame() == 0) {
        return nullptr;
    }
    constexpr std::uint64_t kLargestBufferBytes = std::numeric_limits<std::uint32_t>::max();
    const std::uint64_t frameBytes = layout.bytesPerBufferFrame();
    if (std::uint64_t{frameCapacity} * frameBytes > kLargestBufferBytes) {
        return nullptr;
    }
    if (roomFrames < frameCapacity ||
        std::uint64_t{roomFrames} * frameBytes > kLargestBufferBytes) {
        roomFrames = frameCapacity;
    }
    // A zero capacity still gets memory, so every data pointer is a real one.
    const std::uint64_t stride = alignedUp(std::max<std::uint64_t>(roomFrames * frameBytes, 1));
    const std::uint64_t head = headBytes(layout);
    const std::uint64_t total = head + stride * layout.bufferCount(); // at most 64 × 4 GiB
    if (total > std::numeric_limits<std::size_t>::max()) {
        return nullptr;
    }
    // calloc: large blocks come straight from the kernel already zeroed, without a pass over them.
    // (Buffers are made rarely: a stream's buffers are taken up again, see PCMBufferPool.)
    SampleMemory memory(static_cast<std::byte*>(std::calloc(static_cast<std::size_t>(total), 1)));
    if (!memory) {
        return nullptr;
    }
    try {
        return std::make_shared<PortablePCMBuffer>(
            Token{}, format, layout, frameCapacity, roomFrames, static_cast<std::size_t>(head),
            static_cast<std::size_t>(stride), static_cast<std::size_t>(total), std::move(memory));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PortablePCMBuffer::PortablePCMBuffer(Token, std::shared_ptr<AudioFormat> format,
                                     const PortableAudioFormat& layout, std::uint32_t frameCapacity,
                                     std::uint32_t roomFrames, std::size_t headBytes,
                                     std::size_t bufferStride, std::size_t memoryBytes,
                                     SampleMemory memory)
    : format_(std::move(format)), portableFormat_(&layout), frameCapacity_(frameCapacity),
      roomFrames_(roomFrames), bufferStride_(bufferStride), memoryBytes_(memoryBytes),
      memory_(std::move(memory)), list_(reinterpret_cast<AudioBufferList*>(memory_.get())),
      samples_(memory_.get() + headBytes) {
    resetList();
    if (layout.sampleType() == SampleType::float32) {
        floatChannels_ =
            reinterpret_cast<float**>(memory_.get() + audioBufferListSize(layout.bufferCount()));
        for (std::uint32_t c = 0; c < layout.channelCount(); ++c) {
            floatChannels_[c] = layout.isInterleaved() ? reinterpret_cast<float*>(bufferData(0)) + c
                                                       : reinterpret_cast<float*>(bufferData(c));
        }
    }
}

void PortablePCMBuffer::setFrameLength(std::uint32_t frameLength) {
    frameLength_ = std::min(frameLength, frameCapacity_);
    const std::uint32_t count = portableFormat_->bufferCount();
    for (AudioBuffer& buffer : audioBuffers(*list_, count)) {
        buffer.mDataByteSize = frameLength_ * portableFormat_->bytesPerBufferFrame();
    }
}

float* const* PortablePCMBuffer::floatChannelData() {
    return floatChannels_;
}

std::uint32_t PortablePCMBuffer::stride() const {
    return portableFormat_->isInterleaved() ? portableFormat_->channelCount() : 1;
}

} // namespace tovanel::platform::portable
