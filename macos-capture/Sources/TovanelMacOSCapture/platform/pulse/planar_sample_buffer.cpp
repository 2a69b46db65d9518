// Planar sample buffers filled again for every trip.
#include "platform/pulse/planar_sample_buffer.h"

#include "platform/portable/sample_buffer.h" // kCMSampleBufferError_ArrayTooSmall

#include <algorithm>
#include <bit>
#include <cstring>

namespace tovanel::platform::pulse {

void PlanarSampleBuffer::start(const std::shared_ptr<const FormatDescription>& description,
                               std::uint32_t channels, std::size_t roomFrames) {
    if (description_ != description) {
        description_ = description;
    }
    frames_ = 0;
    if (storage_ && storage_.use_count() == 1 && channels_ == channels &&
        runBytes_ >= roomFrames * 4) {
        return; // the last trip's memory, with its runs where they were
    }
    if (storage_.use_count() != 1) {
        storage_.reset(); // still held by a list handed out earlier: leave it to that list
    }
    channels_ = channels;
    makeRoom(roomFrames);
}

void PlanarSampleBuffer::makeRoom(std::size_t roomFrames) {
    // Each run starts on a 16-byte boundary, as CoreMedia lays out a list asked for with 16-byte
    // alignment, and has room for the next power of two of bytes: chunks vary a little in
    // length, and one allocation then serves them all.
    const std::size_t runBytes = std::bit_ceil(std::max<std::size_t>(roomFrames * 4, 16));
    auto storage = std::make_shared<Storage>();
    storage->size = runBytes * channels_;
    storage->bytes = std::make_unique_for_overwrite<std::uint8_t[]>(storage->size);
    if (frames_ > 0) {
        for (std::uint32_t c = 0; c < channels_; ++c) {
            std::memcpy(storage->bytes.get() + c * runBytes, storage_->bytes.get() + c * runBytes_,
                        frames_ * 4);
        }
    }
    storage_ = std::move(storage);
    runBytes_ = runBytes;
}

OSStatus PlanarSampleBuffer::audioBufferListSizeNeeded(std::size_t& sizeNeeded) const {
    sizeNeeded = audioBufferListSize(channels_);
    return 0;
}

OSStatus PlanarSampleBuffer::fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                                 std::shared_ptr<const void>& retainedBlock) const {
    if (listSize < audioBufferListSize(channels_) || !storage_) {
        return portable::kCMSampleBufferError_ArrayTooSmall;
    }
    list.mNumberBuffers = channels_;
    const auto records = audioBuffers(list, channels_);
    for (std::uint32_t c = 0; c < channels_; ++c) {
        records[c] = AudioBuffer{1, static_cast<std::uint32_t>(frames_ * 4),
                                 storage_->bytes.get() + c * runBytes_};
    }
    retainedBlock = std::shared_ptr<const void>(storage_, storage_->bytes.get());
    return 0;
}

} // namespace tovanel::platform::pulse
