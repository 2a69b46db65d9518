// Fuzz sample buffers: their encoding, their answers, and seeds captured from other buffers.
#include "fuzz_sample_buffer.h"

#include "platform/portable/sample_buffer.h"

#include <algorithm>
#include <cstring>

namespace tovanel::fuzz {

namespace {

using namespace platform;
using platform::portable::kCMSampleBufferError_ArrayTooSmall;
using platform::portable::PortableFormatDescription;

enum ListFlag : std::uint8_t {
    kSizeStatus = 1,
    kSizeNeeded = 2,
    kFillStatus = 4,
    kAnnouncedCount = 8,
    kFillWhatFits = 16,
};

enum RecordFlag : std::uint8_t {
    kNullData = 1,
    kAliasPrevious = 2,
    kMisalignmentShift = 2, // two bits
};

AudioStreamBasicDescription readDescription(ByteReader& in) {
    AudioStreamBasicDescription asbd;
    asbd.mSampleRate = in.take<double>();
    asbd.mFormatID = in.take<std::uint32_t>();
    asbd.mFormatFlags = in.take<std::uint32_t>();
    asbd.mBytesPerPacket = in.take<std::uint32_t>();
    asbd.mFramesPerPacket = in.take<std::uint32_t>();
    asbd.mBytesPerFrame = in.take<std::uint32_t>();
    asbd.mChannelsPerFrame = in.take<std::uint32_t>();
    asbd.mBitsPerChannel = in.take<std::uint32_t>();
    return asbd;
}

void writeDescription(ByteWriter& out, const AudioStreamBasicDescription& asbd) {
    out.put(asbd.mSampleRate);
    out.put(asbd.mFormatID);
    out.put(asbd.mFormatFlags);
    out.put(asbd.mBytesPerPacket);
    out.put(asbd.mFramesPerPacket);
    out.put(asbd.mBytesPerFrame);
    out.put(asbd.mChannelsPerFrame);
    out.put(asbd.mBitsPerChannel);
}

} // namespace

SampleBufferRecipe SampleBufferRecipe::read(ByteReader& in) {
    SampleBufferRecipe recipe;
    recipe.description = static_cast<Description>(in.take<std::uint8_t>() % 3);
    if (recipe.description == Description::audio) {
        recipe.asbd = readDescription(in);
    }
    recipe.numSamples = in.take<std::int64_t>();
    const auto flags = in.take<std::uint8_t>();
    if (flags & kSizeStatus) {
        recipe.sizeStatus = in.take<OSStatus>();
    }
    if (flags & kSizeNeeded) {
        recipe.sizeNeeded = in.take<std::uint32_t>();
    }
    if (flags & kFillStatus) {
        recipe.fillStatus = in.take<OSStatus>();
    }
    if (flags & kAnnouncedCount) {
        recipe.announcedCount = in.take<std::uint32_t>();
    }
    recipe.fillWhatFits = flags & kFillWhatFits;
    const std::size_t count = in.take<std::uint8_t>() % (kMaxRecords + 1);
    for (std::size_t i = 0; i < count; ++i) {
        Record record;
        record.channels = in.take<std::uint32_t>();
        const auto recordFlags = in.take<std::uint8_t>();
        record.nullData = recordFlags & kNullData;
        record.aliasPrevious = !record.nullData && (recordFlags & kAliasPrevious);
        record.misalignment = (recordFlags >> kMisalignmentShift) & 3;
        record.byteSize = in.take<std::uint32_t>();
        if (!record.nullData && !record.aliasPrevious) {
            record.bytes = in.takeBytes(std::min<std::size_t>(record.byteSize, kMaxRecordBytes));
            record.byteSize = static_cast<std::uint32_t>(record.bytes.size());
        }
        recipe.records.push_back(std::move(record));
    }
    return recipe;
}

void SampleBufferRecipe::write(ByteWriter& out) const {
    out.put(static_cast<std::uint8_t>(description));
    if (description == Description::audio) {
        writeDescription(out, asbd);
    }
    out.put(numSamples);
    out.put(static_cast<std::uint8_t>(
        (sizeStatus ? kSizeStatus : 0) | (sizeNeeded ? kSizeNeeded : 0) |
        (fillStatus ? kFillStatus : 0) | (announcedCount ? kAnnouncedCount : 0) |
        (fillWhatFits ? kFillWhatFits : 0)));
    if (sizeStatus) {
        out.put(*sizeStatus);
    }
    if (sizeNeeded) {
        out.put(*sizeNeeded);
    }
    if (fillStatus) {
        out.put(*fillStatus);
    }
    if (announcedCount) {
        out.put(*announcedCount);
    }
    out.put(static_cast<std::uint8_t>(records.size()));
    for (const Record& record : records) {
        out.put(record.channels);
        out.put(static_cast<std::uint8_t>((record.nullData ? kNullData : 0) |
                                          (record.aliasPrevious ? kAliasPrevious : 0) |
                                          (record.misalignment << kMisalignmentShift)));
        out.put(record.byteSize);
        if (!record.nullData && !record.aliasPrevious) {
            out.putBytes(record.bytes);
        }
    }
}

SampleBufferRecipe SampleBufferRecipe::of(const SampleBuffer& buffer) {
    SampleBufferRecipe recipe;
    const auto description = buffer.formatDescription();
    if (!description) {
        recipe.description = Description::none;
    } else if (const auto* asbd = description->streamBasicDescription()) {
        recipe.asbd = *asbd;
    } else {
        recipe.description = Description::notAudio;
    }
    recipe.numSamples = buffer.numSamples();
    std::size_t size = 0;
    if (const OSStatus status = buffer.audioBufferListSizeNeeded(size); status != 0) {
        recipe.sizeStatus = status;
        return recipe;
    }
    AudioBufferListStorage list(std::max<std::size_t>(size, kAudioBufferListHeaderSize));
    std::shared_ptr<const void> retained;
    if (const OSStatus status = buffer.fillAudioBufferList(*list.get(), size, retained);
        status != 0) {
        recipe.fillStatus = status;
        if (size != audioBufferListSize(0)) {
            recipe.sizeNeeded = static_cast<std::uint32_t>(size);
        }
        return recipe;
    }
    const std::uint32_t count = list.get()->mNumberBuffers;
    const std::size_t present = std::min<std::size_t>(count, list.recordsThatFit());
    for (const AudioBuffer& buffered : audioBuffers(*list.get(), present)) {
        Record record;
        record.channels = buffered.mNumberChannels;
        record.byteSize = buffered.mDataByteSize;
        record.nullData = buffered.mData == nullptr;
        if (!record.nullData) {
            const auto* bytes = static_cast<const std::uint8_t*>(buffered.mData);
            record.bytes.assign(bytes, bytes + buffered.mDataByteSize);
        }
        recipe.records.push_back(std::move(record));
    }
    if (count != present) {
        recipe.announcedCount = count;
    }
    if (size != audioBufferListSize(recipe.records.size())) {
        recipe.sizeNeeded = static_cast<std::uint32_t>(size);
    }
    return recipe;
}

FuzzSampleBuffer::FuzzSampleBuffer(const SampleBufferRecipe& recipe)
    : recipe_(recipe), memory_(std::make_shared<Memory>()) {
    using Description = SampleBufferRecipe::Description;
    if (recipe_.description != Description::none) {
        description_ = std::make_shared<PortableFormatDescription>(
            recipe_.description == Description::audio
                ? std::optional<AudioStreamBasicDescription>(recipe_.asbd)
                : std::nullopt);
    }
    std::optional<AudioBuffer> previous; // the last record with data
    for (const auto& record : recipe_.records) {
        AudioBuffer buffer{record.channels, record.byteSize, nullptr};
        if (record.aliasPrevious && previous) {
            buffer.mData = previous->mData;
            buffer.mDataByteSize = std::min(record.byteSize, previous->mDataByteSize);
        } else if (record.aliasPrevious) {
            buffer.mDataByteSize = 0; // nothing to alias: no data
        } else if (!record.nullData) {
            // Exactly the announced bytes after the misalignment: a zero-size record still gets
            // a real, unreadable pointer.
            auto block =
                std::make_unique<std::uint8_t[]>(record.misalignment + record.bytes.size());
            std::uint8_t* start = block.get() + record.misalignment;
            if (!record.bytes.empty()) {
                std::memcpy(start, record.bytes.data(), record.bytes.size());
            }
            buffer.mData = start;
            memory_->blocks.push_back(std::move(block));
        }
        memory_->records.push_back(buffer);
        if (buffer.mData != nullptr) {
            previous = buffer;
        }
    }
}

OSStatus FuzzSampleBuffer::audioBufferListSizeNeeded(std::size_t& sizeNeeded) const {
    if (recipe_.sizeStatus) {
        return *recipe_.sizeStatus;
    }
    sizeNeeded = recipe_.sizeNeeded.value_or(audioBufferListSize(memory_->records.size()));
    return 0;
}

OSStatus FuzzSampleBuffer::fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                               std::shared_ptr<const void>& retainedBlock) const {
    Fill fill;
    fill.listSize = listSize;
    const auto finish = [&](OSStatus status) {
        fill.status = status;
        lastFill_ = fill;
        return status;
    };
    if (recipe_.fillStatus) {
        return finish(*recipe_.fillStatus);
    }
    const std::size_t needed = audioBufferListSize(memory_->records.size());
    if (listSize < kAudioBufferListHeaderSize || (listSize < needed && !recipe_.fillWhatFits)) {
        return finish(kCMSampleBufferError_ArrayTooSmall);
    }
    const std::size_t fit = (listSize - kAudioBufferListHeaderSize) / sizeof(AudioBuffer);
    const std::size_t written = std::min(fit, memory_->records.size());
    const auto records = audioBuffers(list, written);
    std::copy_n(memory_->records.begin(), written, records.begin());
    list.mNumberBuffers =
        recipe_.announcedCount.value_or(static_cast<std::uint32_t>(memory_->records.size()));
    retainedBlock = memory_;
    fill.count = list.mNumberBuffers;
    fill.records.assign(memory_->records.begin(), memory_->records.begin() + written);
    return finish(0);
}

} // namespace tovanel::fuzz
