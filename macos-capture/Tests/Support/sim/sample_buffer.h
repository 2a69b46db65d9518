// Scripted sample buffers: audio of any stream description, frame count and data, laid out from
// plain float samples, with faults on demand (no format description, no stream description,
// failing or lying buffer-list calls).
#pragma once

#include "platform/portable/sample_buffer.h"

#include <optional>
#include <vector>

namespace tovanel::sim {

using platform::AudioStreamBasicDescription;
using platform::OSStatus;

struct SampleBufferFaults {
    bool withoutFormatDescription = false;
    bool withoutStreamDescription = false;
    std::optional<OSStatus> sizeQueryStatus;
    std::optional<std::size_t> sizeNeeded; // reported instead of the true size
    std::optional<OSStatus> fillStatus;
    std::optional<std::uint32_t> announcedBufferCount; // written as the list's count
    bool nullData = false;                             // every buffer's data pointer is null
    std::optional<std::int64_t> numSamples;            // reported instead of the true count
};

class ScriptedSampleBuffer final : public platform::SampleBuffer {
  public:
    ScriptedSampleBuffer(const AudioStreamBasicDescription& description, std::int64_t frames,
                         std::vector<platform::portable::PortableSampleBuffer::Buffer> buffers,
                         SampleBufferFaults faults);

    std::shared_ptr<const platform::FormatDescription> formatDescription() const override;
    std::int64_t numSamples() const override;
    OSStatus audioBufferListSizeNeeded(std::size_t& sizeNeeded) const override;
    OSStatus fillAudioBufferList(platform::AudioBufferList& list, std::size_t listSize,
                                 std::shared_ptr<const void>& retainedBlock) const override;

  private:
    platform::portable::PortableSampleBuffer real_;
    SampleBufferFaults faults_;
    std::shared_ptr<const platform::FormatDescription> description_;
};

// Stream descriptions of linear PCM.
AudioStreamBasicDescription floatDescription(double sampleRate, std::uint32_t channels,
                                             bool interleaved, std::uint32_t bits = 32);
AudioStreamBasicDescription integerDescription(double sampleRate, std::uint32_t channels,
                                               bool interleaved, std::uint32_t bits);

// A sample buffer holding `channels` (one vector of samples per channel, all the same length),
// encoded in `description`'s layout and sample type.
std::shared_ptr<ScriptedSampleBuffer>
audioSampleBuffer(const AudioStreamBasicDescription& description,
                  const std::vector<std::vector<float>>& channels, SampleBufferFaults faults = {});

// A screen sample buffer: the handler never looks inside.
std::shared_ptr<ScriptedSampleBuffer> screenSampleBuffer();

} // namespace tovanel::sim
