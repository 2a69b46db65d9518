// Scripted sample buffers: audio in any stream description, with every way CoreMedia can fail or
// mislead on demand (no format or stream description, failing or lying buffer-list calls).
#pragma once

#include "platform/portable/sample_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace tovanel::sim {

using namespace platform;

struct SimSampleBuffer final : SampleBuffer {
    struct Buffer {
        std::uint32_t channels = 1;
        std::vector<std::uint8_t> bytes;
    };
    std::optional<AudioStreamBasicDescription> description; // none: not audio
    bool hasFormatDescription = true;
    std::int64_t frames = 0;
    std::vector<Buffer> buffers;
    OSStatus sizeStatus = 0;
    std::optional<std::size_t> sizeNeeded; // answered instead of the true size
    OSStatus fillStatus = 0;
    std::optional<std::uint32_t> announcedCount; // written as the list's buffer count
    bool nullData = false;

    std::shared_ptr<const FormatDescription> formatDescription() const override {
        return hasFormatDescription
                   ? std::make_shared<portable::PortableFormatDescription>(description)
                   : nullptr;
    }
    std::int64_t numSamples() const override { return frames; }
    OSStatus audioBufferListSizeNeeded(std::size_t& size) const override {
        size = sizeNeeded.value_or(audioBufferListSize(buffers.size()));
        return sizeStatus;
    }
    OSStatus fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                 std::shared_ptr<const void>& retainedBlock) const override {
        if (fillStatus != 0 || listSize < audioBufferListSize(buffers.size())) {
            return fillStatus != 0 ? fillStatus : portable::kCMSampleBufferError_ArrayTooSmall;
        }
        auto copy = std::make_shared<std::vector<Buffer>>(buffers);
        list.mNumberBuffers = announcedCount.value_or(static_cast<std::uint32_t>(buffers.size()));
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            auto& bytes = (*copy)[i].bytes;
            audioBuffers(list, buffers.size())[i] = {(*copy)[i].channels,
                                                     static_cast<std::uint32_t>(bytes.size()),
                                                     nullData ? nullptr : bytes.data()};
        }
        retainedBlock = copy;
        return 0;
    }
};

// Linear PCM: 32-bit float, or 16-bit signed integers when `bits` is 16.
inline AudioStreamBasicDescription pcmFormat(double rate, std::uint32_t channels, bool interleaved,
                                             std::uint32_t bits = 32) {
    const std::uint32_t frame = bits / 8 * (interleaved ? channels : 1);
    const std::uint32_t flags =
        (bits == 32 ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger) |
        kAudioFormatFlagIsPacked | (interleaved ? 0 : kAudioFormatFlagIsNonInterleaved);
    return {rate, kAudioFormatLinearPCM, flags, frame, 1, frame, channels, bits, 0};
}

// A buffer holding `channels` (equal lengths) laid out and encoded as `description` says:
// float32, or int16 scaled by 32768.
inline std::shared_ptr<SimSampleBuffer>
audioBuffer(const AudioStreamBasicDescription& description,
            const std::vector<std::vector<float>>& channels) {
    auto buffer = std::make_shared<SimSampleBuffer>();
    buffer->description = description;
    buffer->frames = static_cast<std::int64_t>(channels.front().size());
    const bool planar = (description.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
    const std::size_t sampleBytes = description.mBitsPerChannel / 8;
    const std::size_t perBuffer = planar ? 1 : channels.size();
    for (std::size_t b = 0; b < (planar ? channels.size() : 1); ++b) {
        SimSampleBuffer::Buffer out{static_cast<std::uint32_t>(perBuffer), {}};
        out.bytes.resize(channels.front().size() * perBuffer * sampleBytes);
        for (std::size_t i = 0; i < channels.front().size() * perBuffer; ++i) {
            const float value = channels[planar ? b : i % perBuffer][i / perBuffer];
            const auto sample = static_cast<std::int16_t>(
                std::clamp(std::lround(value * 32768.0f), -32768L, 32767L));
            std::memcpy(out.bytes.data() + i * sampleBytes,
                        sampleBytes == 4 ? static_cast<const void*>(&value) : &sample, sampleBytes);
        }
        buffer->buffers.push_back(std::move(out));
    }
    return buffer;
}

} // namespace tovanel::sim
