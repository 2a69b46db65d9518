// Scripted sample buffers.
#include "sim/sample_buffer.h"

#include "platform/portable/sample_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tovanel::sim {

using namespace platform;

std::shared_ptr<const FormatDescription> SimSampleBuffer::formatDescription() const {
    if (!hasFormatDescription) {
        return nullptr;
    }
    return std::make_shared<portable::PortableFormatDescription>(description);
}

OSStatus SimSampleBuffer::audioBufferListSizeNeeded(std::size_t& size) const {
    size = sizeNeeded.value_or(audioBufferListSize(buffers.size()));
    return sizeStatus;
}

OSStatus SimSampleBuffer::fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                              std::shared_ptr<const void>& retainedBlock) const {
    if (fillStatus != 0) {
        return fillStatus;
    }
    if (listSize < audioBufferListSize(buffers.size())) {
        return portable::kCMSampleBufferError_ArrayTooSmall;
    }
    auto copy = std::make_shared<std::vector<Buffer>>(buffers);
    list.mNumberBuffers = announcedCount.value_or(static_cast<std::uint32_t>(buffers.size()));
    auto records = audioBuffers(list, buffers.size());
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        auto& bytes = (*copy)[i].bytes;
        records[i] = {(*copy)[i].channels, static_cast<std::uint32_t>(bytes.size()),
                      nullData ? nullptr : bytes.data()};
    }
    retainedBlock = copy;
    return 0;
}

AudioStreamBasicDescription floatFormat(double rate, std::uint32_t channels, bool interleaved) {
    const std::uint32_t frameBytes = interleaved ? 4 * channels : 4;
    return {rate,
            kAudioFormatLinearPCM,
            kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked |
                (interleaved ? 0 : kAudioFormatFlagIsNonInterleaved),
            frameBytes,
            1,
            frameBytes,
            channels,
            32,
            0};
}

AudioStreamBasicDescription intFormat(double rate, std::uint32_t channels, bool interleaved,
                                      std::uint32_t bits) {
    auto description = floatFormat(rate, channels, interleaved);
    description.mFormatFlags ^= kAudioFormatFlagIsFloat | kAudioFormatFlagIsSignedInteger;
    description.mBitsPerChannel = bits;
    description.mBytesPerFrame = description.mBytesPerPacket =
        bits / 8 * (interleaved ? channels : 1);
    return description;
}

std::shared_ptr<SimSampleBuffer> audioBuffer(const AudioStreamBasicDescription& description,
                                             const std::vector<std::vector<float>>& channels) {
    auto buffer = std::make_shared<SimSampleBuffer>();
    buffer->description = description;
    buffer->frames = static_cast<std::int64_t>(channels.front().size());
    const bool interleaved = (description.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
    const bool isFloat = (description.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
    const std::size_t sampleBytes = description.mBitsPerChannel / 8;
    const std::size_t bufferCount = interleaved ? 1 : channels.size();
    const std::size_t perBuffer = interleaved ? channels.size() : 1;
    for (std::size_t b = 0; b < bufferCount; ++b) {
        SimSampleBuffer::Buffer out{static_cast<std::uint32_t>(perBuffer),
                   std::vector<std::uint8_t>(channels.front().size() * perBuffer * sampleBytes)};
        for (std::size_t i = 0; i < channels.front().size(); ++i) {
            for (std::size_t c = 0; c < perBuffer; ++c) {
                const float value = channels[interleaved ? c : b][i];
                std::uint8_t* at = out.bytes.data() + (i * perBuffer + c) * sampleBytes;
                if (isFloat) {
                    std::memcpy(at, &value, 4);
                } else {
                    const auto sample = static_cast<std::int16_t>(
                        std::clamp(std::lround(value * 32768.0f), -32768L, 32767L));
                    std::memcpy(at, &sample, 2);
                }
            }
        }
        buffer->buffers.push_back(std::move(out));
    }
    return buffer;
}

} // namespace tovanel::sim
