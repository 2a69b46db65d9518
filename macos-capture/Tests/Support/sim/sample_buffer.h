// Scripted sample buffers: audio in any stream description, with every way CoreMedia can fail or
// mislead on demand (no format or stream description, failing or lying buffer-list calls).
#pragma once

#include "platform/media.h"

#include <optional>
#include <vector>

namespace tovanel::sim {

using platform::AudioStreamBasicDescription;
using platform::OSStatus;

struct SimSampleBuffer final : platform::SampleBuffer {
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

    std::shared_ptr<const platform::FormatDescription> formatDescription() const override;
    std::int64_t numSamples() const override { return frames; }
    OSStatus audioBufferListSizeNeeded(std::size_t& size) const override;
    OSStatus fillAudioBufferList(platform::AudioBufferList& list, std::size_t listSize,
                                 std::shared_ptr<const void>& retainedBlock) const override;
};

// Linear PCM descriptions: 32-bit float, or signed integers of `bits` bits.
AudioStreamBasicDescription floatFormat(double rate, std::uint32_t channels, bool interleaved);
AudioStreamBasicDescription intFormat(double rate, std::uint32_t channels, bool interleaved,
                                      std::uint32_t bits);

// A buffer holding `channels` (one vector per channel, equal lengths) laid out and encoded as
// `description` says (float32, or int16 scaled by 32768).
std::shared_ptr<SimSampleBuffer> audioBuffer(const AudioStreamBasicDescription& description,
                                             const std::vector<std::vector<float>>& channels);

} // namespace tovanel::sim
