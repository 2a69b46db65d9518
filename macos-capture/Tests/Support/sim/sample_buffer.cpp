// Scripted sample buffers.
#include "sim/sample_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tovanel::sim {

using namespace platform;
using platform::portable::PortableFormatDescription;
using Buffer = platform::portable::PortableSampleBuffer::Buffer;

ScriptedSampleBuffer::ScriptedSampleBuffer(const AudioStreamBasicDescription& description,
                                           std::int64_t frames, std::vector<Buffer> buffers,
                                           SampleBufferFaults faults)
    : real_(nullptr, frames, std::move(buffers)), faults_(faults),
      description_(faults.withoutFormatDescription
                       ? nullptr
                       : std::make_shared<PortableFormatDescription>(
                             faults.withoutStreamDescription
                                 ? std::nullopt
                                 : std::optional<AudioStreamBasicDescription>(description))) {}

std::shared_ptr<const FormatDescription> ScriptedSampleBuffer::formatDescription() const {
    return description_;
}

std::int64_t ScriptedSampleBuffer::numSamples() const {
    return faults_.numSamples.value_or(real_.numSamples());
}

OSStatus ScriptedSampleBuffer::audioBufferListSizeNeeded(std::size_t& sizeNeeded) const {
    if (faults_.sizeQueryStatus) {
        return *faults_.sizeQueryStatus;
    }
    const OSStatus status = real_.audioBufferListSizeNeeded(sizeNeeded);
    if (faults_.sizeNeeded) {
        sizeNeeded = *faults_.sizeNeeded;
    }
    return status;
}

OSStatus
ScriptedSampleBuffer::fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                          std::shared_ptr<const void>& retainedBlock) const {
    if (faults_.fillStatus) {
        return *faults_.fillStatus;
    }
    const OSStatus status = real_.fillAudioBufferList(list, listSize, retainedBlock);
    if (status != 0) {
        return status;
    }
    if (faults_.nullData) {
        for (auto& buffer : audioBuffers(list, list.mNumberBuffers)) {
            buffer.mData = nullptr;
        }
    }
    if (faults_.announcedBufferCount) {
        list.mNumberBuffers = *faults_.announcedBufferCount;
    }
    return 0;
}

AudioStreamBasicDescription floatDescription(double sampleRate, std::uint32_t channels,
                                             bool interleaved, std::uint32_t bits) {
    const std::uint32_t bytesPerSample = bits / 8;
    const std::uint32_t bytesPerFrame = interleaved ? bytesPerSample * channels : bytesPerSample;
    return {sampleRate,
            kAudioFormatLinearPCM,
            kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked |
                (interleaved ? 0u : kAudioFormatFlagIsNonInterleaved),
            bytesPerFrame,
            1,
            bytesPerFrame,
            channels,
            bits,
            0};
}

AudioStreamBasicDescription integerDescription(double sampleRate, std::uint32_t channels,
                                               bool interleaved, std::uint32_t bits) {
    AudioStreamBasicDescription description =
        floatDescription(sampleRate, channels, interleaved, bits);
    description.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                               (interleaved ? 0u : kAudioFormatFlagIsNonInterleaved);
    return description;
}

namespace {

// One sample in the description's type, little-endian, appended to `out`.
void appendSample(std::vector<std::uint8_t>& out, float value,
                  const AudioStreamBasicDescription& description) {
    const std::uint32_t bits = description.mBitsPerChannel;
    std::uint8_t bytes[8] = {};
    if (description.mFormatFlags & kAudioFormatFlagIsFloat) {
        if (bits == 64) {
            const double wide = value;
            std::memcpy(bytes, &wide, 8);
        } else {
            std::memcpy(bytes, &value, 4);
        }
    } else {
        const double scale = std::ldexp(1.0, static_cast<int>(bits) - 1);
        const double clamped = std::clamp(static_cast<double>(value) * scale, -scale, scale - 1);
        const auto integer = static_cast<std::int64_t>(std::lround(clamped));
        for (std::uint32_t i = 0; i < bits / 8; ++i) {
            bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(integer) >> (8 * i));
        }
    }
    out.insert(out.end(), bytes, bytes + bits / 8);
}

} // namespace

std::shared_ptr<ScriptedSampleBuffer>
audioSampleBuffer(const AudioStreamBasicDescription& description,
                  const std::vector<std::vector<float>>& channels, SampleBufferFaults faults) {
    const std::size_t frames = channels.empty() ? 0 : channels.front().size();
    std::vector<Buffer> buffers;
    if (description.mFormatFlags & kAudioFormatFlagIsNonInterleaved) {
        for (const auto& channel : channels) {
            Buffer buffer{1, {}};
            for (float value : channel) {
                appendSample(buffer.bytes, value, description);
            }
            buffers.push_back(std::move(buffer));
        }
    } else {
        Buffer buffer{static_cast<std::uint32_t>(channels.size()), {}};
        for (std::size_t frame = 0; frame < frames; ++frame) {
            for (const auto& channel : channels) {
                appendSample(buffer.bytes, channel[frame], description);
            }
        }
        buffers.push_back(std::move(buffer));
    }
    return std::make_shared<ScriptedSampleBuffer>(description, static_cast<std::int64_t>(frames),
                                                  std::move(buffers), faults);
}

std::shared_ptr<ScriptedSampleBuffer> screenSampleBuffer() {
    SampleBufferFaults faults;
    faults.withoutStreamDescription = true;
    return std::make_shared<ScriptedSampleBuffer>(AudioStreamBasicDescription{}, 1,
                                                  std::vector<Buffer>{}, faults);
}

} // namespace tovanel::sim
