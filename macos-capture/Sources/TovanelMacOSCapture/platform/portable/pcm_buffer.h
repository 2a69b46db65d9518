// PCM buffers off Apple: zeroed sample memory owned by the buffer, laid out as one block per
// channel (planar) or one block of whole frames (interleaved), and the buffer's own audio buffer
// list pointing into it. The list and the channel pointers live at the head of the same
// allocation as the samples: a buffer is made and freed with two allocations, not four, which
// counts when one is made for every 10 ms of audio.
#pragma once

#include "platform/media.h"
#include "platform/portable/audio_format.h"

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace tovanel::platform::portable {

class PortablePCMBuffer final : public PCMBuffer {
    struct FreeMemory {
        void operator()(std::byte* memory) const { std::free(memory); }
    };
    using SampleMemory = std::unique_ptr<std::byte, FreeMemory>;
    struct Token {};

  public:
    // Null when a frame has no bytes, when the capacity in bytes of one buffer does not fit in
    // 32 bits (the width of mDataByteSize), or when the memory cannot be had.
    static std::shared_ptr<PortablePCMBuffer>
    make(const std::shared_ptr<PortableAudioFormat>& format, std::uint32_t frameCapacity);

    const std::shared_ptr<AudioFormat>& format() const override { return format_; }
    std::uint32_t frameCapacity() const override { return frameCapacity_; }
    std::uint32_t frameLength() const override { return frameLength_; }
    // Lengths beyond the capacity are cut to it, so the list never claims memory it lacks.
    void setFrameLength(std::uint32_t frameLength) override;
    AudioBufferList& mutableAudioBufferList() override { return *list_; }
    float* const* floatChannelData() override;
    std::uint32_t stride() const override;

    const PortableAudioFormat& portableFormat() const { return *portableFormat_; }
    // The memory of buffer `index` (below the format's buffer count), wherever the records of
    // the mutable list have been pointed since.
    std::byte* bufferData(std::uint32_t index) { return samples_ + index * bufferStride_; }
    const std::byte* bufferData(std::uint32_t index) const {
        return samples_ + index * bufferStride_;
    }

    PortablePCMBuffer(Token, std::shared_ptr<PortableAudioFormat> format,
                      std::uint32_t frameCapacity, std::size_t headBytes, std::size_t bufferStride,
                      SampleMemory memory);

  private:
    std::shared_ptr<PortableAudioFormat> portableFormat_;
    std::shared_ptr<AudioFormat> format_;
    std::uint32_t frameCapacity_;
    std::uint32_t frameLength_ = 0;
    std::size_t bufferStride_; // bytes from one buffer's start to the next
    SampleMemory memory_;      // the list, the channel pointers, then the samples
    AudioBufferList* list_;
    float** floatChannels_ = nullptr; // null unless the samples are 32-bit float
    std::byte* samples_;
};

} // namespace tovanel::platform::portable
