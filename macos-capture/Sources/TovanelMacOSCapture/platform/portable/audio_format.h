// Audio formats off Apple: which linear PCM stream descriptions we accept, checked field against
// field, and the sample layout the buffers and the converter read from an accepted one.
//
// Accepted: little-endian linear PCM, one frame per packet, 1 to kMaxChannelCount channels,
// interleaved or planar, with samples that are signed 16-bit, signed 24-bit (packed in 3 bytes,
// or in 4 bytes with the 24 bits aligned low or, with kAudioFormatFlagIsAlignedHigh, high),
// signed 32-bit, or 32/64-bit float. Big-endian, unsigned and fixed-point samples are refused.
// A sample rate must be finite and not negative; 0 or an extreme rate still makes a format (as
// on Apple), but no converter takes one (see isConvertibleSampleRate).
#pragma once

#include "platform/media.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace tovanel::platform::portable {

// The most channels a format may have. Far beyond any capture device; the bound keeps every
// per-channel table small and every size computation far from overflow.
inline constexpr std::uint32_t kMaxChannelCount = 64;

enum class SampleType {
    int16,
    int24Packed,      // 3 bytes
    int24AlignedLow,  // 4 bytes, the 24 bits in the low three, sign-extended from bit 23
    int24AlignedHigh, // 4 bytes, the 24 bits in the high three
    int32,
    float32,
    float64,
};

std::uint32_t bytesPerSample(SampleType type);

// True for rates a converter can work with, from 1 kHz to 1.536 MHz. Outside this range (0,
// or rates whose ratio to the target no resampler handles sensibly) no converter is made.
bool isConvertibleSampleRate(double rate);

class PortableAudioFormat final : public AudioFormat {
  public:
    // None when the description is inconsistent or not supported.
    static std::optional<PortableAudioFormat> describe(const AudioStreamBasicDescription& asbd);
    // None for CommonFormat::other, 0 or more than 2 channels (as AVAudioFormat answers nil
    // beyond stereo without a channel layout) and a rate that is negative or not finite.
    static std::optional<PortableAudioFormat> describe(CommonFormat format, double sampleRate,
                                                       std::uint32_t channels, bool interleaved);

    const AudioStreamBasicDescription& streamDescription() const override { return asbd_; }
    CommonFormat commonFormat() const override;
    double sampleRate() const override { return asbd_.mSampleRate; }
    std::uint32_t channelCount() const override { return asbd_.mChannelsPerFrame; }
    bool isInterleaved() const override { return interleaved_; }
    // Same rate, channel count, sample type and interleaving; interleaving does not matter for
    // mono, where both layouts are the same bytes.
    bool isEqual(const AudioFormat& other) const override;

    SampleType sampleType() const { return sampleType_; }
    // One buffer per channel when planar, one buffer holding every channel when interleaved.
    std::uint32_t bufferCount() const { return interleaved_ ? 1 : channelCount(); }
    // The bytes of one frame within one buffer (mBytesPerFrame).
    std::uint32_t bytesPerBufferFrame() const { return asbd_.mBytesPerFrame; }

    // Use describe; public only for std::optional and std::make_shared.
    PortableAudioFormat(const AudioStreamBasicDescription& asbd, SampleType sampleType);

  private:
    AudioStreamBasicDescription asbd_;
    SampleType sampleType_;
    bool interleaved_;
};

} // namespace tovanel::platform::portable
