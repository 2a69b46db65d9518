// Media: sample buffers as the screen-capture service delivers them, audio formats, PCM buffers
// and a converter that pulls its input through a callback and keeps its state between calls.
// The shapes follow CoreMedia and AVFAudio one for one.
//
// Callers guarantee:
//   - formats and buffers given to a backend were made by the same backend;
//   - a sample buffer is used only during the call that delivered it.
// Every backend must:
//   - answer "none" (a null pointer) where the platform returns nil, never throw;
//   - keep a PCM buffer's memory for as long as the buffer lives, its frame length never above
//     its capacity;
//   - carry a converter's state (held-back frames, resampler history) from one convertToBuffer
//     call to the next: consecutive inputs are one continuous signal;
//   - make every allocation owned (no raw buffer lists without an owner).
#pragma once

#include "platform/audio_types.h"
#include "platform/platform_error.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tovanel::platform {

// A format description (CMFormatDescription).
class FormatDescription {
  public:
    virtual ~FormatDescription() = default;
    // The audio stream description, or null when the description is not of audio.
    virtual const AudioStreamBasicDescription* streamBasicDescription() const = 0;
    // The platform's equality of descriptions (CFEqual).
    virtual bool isEqual(const FormatDescription& other) const = 0;
};

// A sample buffer (CMSampleBuffer) delivered by the screen-capture service.
class SampleBuffer {
  public:
    virtual ~SampleBuffer() = default;
    // Null when the buffer has no format description.
    virtual std::shared_ptr<const FormatDescription> formatDescription() const = 0;
    // The number of frames (CMSampleBufferGetNumSamples; 0 on error).
    virtual std::int64_t numSamples() const = 0;
    // The size query form of CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer.
    virtual OSStatus audioBufferListSizeNeeded(std::size_t& sizeNeeded) const = 0;
    // The fill form, with 16-byte alignment asked for: fills `list` (of `listSize` bytes) with
    // buffers pointing into `retainedBlock`, which keeps the data valid while it is held.
    virtual OSStatus fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                         std::shared_ptr<const void>& retainedBlock) const = 0;
};

enum class CommonFormat : std::uint32_t {
    other = 0,
    float32 = 1,
    float64 = 2,
    int16 = 3,
    int32 = 4,
};

// An audio format (AVAudioFormat).
class AudioFormat {
  public:
    virtual ~AudioFormat() = default;
    virtual const AudioStreamBasicDescription& streamDescription() const = 0;
    virtual CommonFormat commonFormat() const = 0;
    virtual double sampleRate() const = 0;
    virtual std::uint32_t channelCount() const = 0;
    virtual bool isInterleaved() const = 0;
    // The platform's functional equality (AVAudioFormat isEqual:).
    virtual bool isEqual(const AudioFormat& other) const = 0;
};

// A PCM buffer (AVAudioPCMBuffer) that owns its memory.
class PCMBuffer {
  public:
    virtual ~PCMBuffer() = default;
    virtual const std::shared_ptr<AudioFormat>& format() const = 0;
    virtual std::uint32_t frameCapacity() const = 0;
    virtual std::uint32_t frameLength() const = 0;
    // Also sets every buffer's mDataByteSize to the length in bytes. Callers keep it within
    // the capacity.
    virtual void setFrameLength(std::uint32_t frameLength) = 0;
    // The buffer's own list; its sizes express the capacity until the frame length is set.
    virtual AudioBufferList& mutableAudioBufferList() = 0;
    // One pointer per channel for 32-bit float formats, null otherwise. Interleaved buffers
    // point every channel into the one block, with stride() samples between frames.
    virtual float* const* floatChannelData() = 0;
    virtual std::uint32_t stride() const = 0;
};

enum class ConverterInputStatus : int {
    haveData = 0,
    noDataNow = 1,
    endOfStream = 2,
};

enum class ConverterOutputStatus : int {
    haveData = 0,
    inputRanDry = 1,
    endOfStream = 2,
    error = 3,
};

// Asked for input as often as the converter needs it: returns a buffer and haveData, or null
// and noDataNow / endOfStream.
using ConverterInputBlock = std::function<std::shared_ptr<PCMBuffer>(std::uint32_t packetCount,
                                                                     ConverterInputStatus& status)>;

// A converter (AVAudioConverter) from one format to another.
class AudioConverter {
  public:
    virtual ~AudioConverter() = default;
    // Fills `output` up to its capacity and sets its frame length. On failure returns error and
    // sets `error`.
    virtual ConverterOutputStatus convertToBuffer(PCMBuffer& output,
                                                  std::optional<PlatformError>& error,
                                                  const ConverterInputBlock& input) = 0;
};

class Media {
  public:
    virtual ~Media() = default;

    // initWithStreamDescription:; null when the description is not supported.
    virtual std::shared_ptr<AudioFormat> makeFormat(const AudioStreamBasicDescription& asbd) = 0;
    // initWithCommonFormat:sampleRate:channels:interleaved:; null when not supported.
    virtual std::shared_ptr<AudioFormat> makeFormat(CommonFormat format, double sampleRate,
                                                    std::uint32_t channels, bool interleaved) = 0;
    // initWithPCMFormat:frameCapacity:; null when the buffer cannot be made.
    virtual std::shared_ptr<PCMBuffer> makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                                     std::uint32_t frameCapacity) = 0;
    // initFromFormat:toFormat:; null when the conversion is not supported.
    virtual std::shared_ptr<AudioConverter>
    makeConverter(const std::shared_ptr<AudioFormat>& from,
                  const std::shared_ptr<AudioFormat>& to) = 0;
};

} // namespace tovanel::platform
