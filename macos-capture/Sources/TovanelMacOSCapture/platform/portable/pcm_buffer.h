// PCM buffers off Apple: sample memory owned by the buffer, laid out as one block per channel
// (planar) or one block of whole frames (interleaved), and the buffer's own audio buffer list
// pointing into it. The list and the channel pointers live at the head of the same allocation as
// the samples. A new buffer's samples are zeroed; a buffer can be taken up again for another
// owner of the same layout and a capacity it has room for (see PCMBufferPool), its samples then
// as they were left.
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
    // A buffer of `format`, whose layout is `layout` (the same object). Null when a frame has no
    // bytes, when the capacity in bytes of one buffer does not fit in 32 bits (the width of
    // mDataByteSize), or when the memory cannot be had. The memory has room for `roomFrames`
    // frames when that is more than the capacity (and fits in 32 bits too), so the buffer can be
    // taken up again with a larger capacity.
    static std::shared_ptr<PortablePCMBuffer> make(const std::shared_ptr<AudioFormat>& format,
                                                   const PortableAudioFormat& layout,
                                                   std::uint32_t frameCapacity,
                                                   std::uint32_t roomFrames = 0);

    // True when this buffer's memory can serve as a buffer of `layout` with `frameCapacity`:
    // the same sample type, channels and interleaving (the rate may differ), and room enough.
    bool fits(const PortableAudioFormat& layout, std::uint32_t frameCapacity) const {
        const PortableAudioFormat& mine = *portableFormat_;
        return frameCapacity <= roomFrames_ &&
               (&layout == &mine || (layout.sampleType() == mine.sampleType() &&
                                     layout.channelCount() == mine.channelCount() &&
                                     layout.isInterleaved() == mine.isInterleaved() &&
                                     layout.bytesPerBufferFrame() == mine.bytesPerBufferFrame()));
    }
    // Takes the buffer up again as a buffer of `format` (of layout `layout`) and `frameCapacity`,
    // which fit: its frame length becomes 0 and its list a new buffer's. The samples stay as
    // they are.
    void takeUp(const std::shared_ptr<AudioFormat>& format, const PortableAudioFormat& layout,
                std::uint32_t frameCapacity) {
        if (portableFormat_ != &layout) {
            format_ = format;
            portableFormat_ = &layout;
        }
        frameCapacity_ = frameCapacity;
        frameLength_ = 0;
        resetList();
    }
    // The frames the memory has room for, the capacity or more.
    std::uint32_t roomFrames() const { return roomFrames_; }
    // The bytes of the buffer's memory, its list and pointers included.
    std::size_t memoryBytes() const { return memoryBytes_; }

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

    PortablePCMBuffer(Token, std::shared_ptr<AudioFormat> format, const PortableAudioFormat& layout,
                      std::uint32_t frameCapacity, std::uint32_t roomFrames, std::size_t headBytes,
                      std::size_t bufferStride, std::size_t memoryBytes, SampleMemory memory);

  private:
    // Points the list's records at the samples with the capacity's sizes.
    void resetList() {
        const PortableAudioFormat& layout = *portableFormat_;
        const std::uint32_t count = layout.bufferCount();
        const std::uint32_t channelsPerBuffer = layout.isInterleaved() ? layout.channelCount() : 1;
        const std::uint32_t bytes = frameCapacity_ * layout.bytesPerBufferFrame();
        list_->mNumberBuffers = count;
        const auto records = audioBuffers(*list_, count);
        for (std::uint32_t i = 0; i < count; ++i) {
            records[i] = AudioBuffer{channelsPerBuffer, bytes, bufferData(i)};
        }
    }

    std::shared_ptr<AudioFormat> format_;
    const PortableAudioFormat* portableFormat_; // format_ itself
    std::uint32_t frameCapacity_;
    std::uint32_t roomFrames_;
    std::uint32_t frameLength_ = 0;
    std::size_t bufferStride_; // bytes from one buffer's start to the next
    std::size_t memoryBytes_;
    SampleMemory memory_; // the list, the channel pointers, then the samples
    AudioBufferList* list_;
    float** floatChannels_ = nullptr; // null unless the samples are 32-bit float
    std::byte* samples_;
};

} // namespace tovanel::platform::portable
