// Audio formats off Apple: stream descriptions checked field against field.
#include "platform/portable/audio_format.h"

#include "platform/portable/own_object.h"

#include <cmath>
#include <optional>

namespace tovanel::platform::portable {

namespace {

// CoreAudio's fixed-point fraction bits (kLinearPCMFormatFlagsSampleFractionMask): integer
// samples with a binary point somewhere inside, which we do not read.
constexpr std::uint32_t kSampleFractionMask = 0x3Fu << 7;

constexpr double kMinConvertibleRate = 1000.0;
constexpr double kMaxConvertibleRate = 1536000.0;

// A rate a stream can carry at all; whether a converter can work with it is a separate test.
bool isDescribableRate(double rate) {
    return std::isfinite(rate) && rate >= 0;
}

// The sample type of `bits` significant bits in `bytes` bytes, or none. A packed description
// must fill its bytes; 24 bits in 4 bytes take their alignment from the flags.
std::optional<SampleType> sampleTypeOf(bool isFloat, std::uint32_t bits, std::uint32_t bytes,
                                       std::uint32_t flags) {
    if ((flags & kAudioFormatFlagIsPacked) != 0 && bits != bytes * 8) {
        return std::nullopt;
    }
    if (isFloat) {
        if (bits == 32 && bytes == 4) {
            return SampleType::float32;
        }
        if (bits == 64 && bytes == 8) {
            return SampleType::float64;
        }
        return std::nullopt;
    }
    if (bits == 16 && bytes == 2) {
        return SampleType::int16;
    }
    if (bits == 24 && bytes == 3) {
        return SampleType::int24Packed;
    }
    if (bits == 24 && bytes == 4) {
        return (flags & kAudioFormatFlagIsAlignedHigh) != 0 ? SampleType::int24AlignedHigh
                                                            : SampleType::int24AlignedLow;
    }
    if (bits == 32 && bytes == 4) {
        return SampleType::int32;
    }
    return std::nullopt;
}

} // namespace

std::uint32_t bytesPerSample(SampleType type) {
    switch (type) {
    case SampleType::int16:
        return 2;
    case SampleType::int24Packed:
        return 3;
    case SampleType::int24AlignedLow:
    case SampleType::int24AlignedHigh:
    case SampleType::int32:
    case SampleType::float32:
        return 4;
    case SampleType::float64:
        return 8;
    }
    return 0;
}

bool isConvertibleSampleRate(double rate) {
    return rate >= kMinConvertibleRate && rate <= kMaxConvertibleRate; // false for NaN
}

PortableAudioFormat::PortableAudioFormat(const AudioStreamBasicDescription& asbd,
                                         SampleType sampleType)
    : asbd_(asbd), sampleType_(sampleType),
      interleaved_((asbd.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0) {}

std::optional<PortableAudioFormat>
PortableAudioFormat::describe(const AudioStreamBasicDescription& asbd) {
    const std::uint32_t flags = asbd.mFormatFlags;
    const bool isFloat = (flags & kAudioFormatFlagIsFloat) != 0;
    const bool isSigned = (flags & kAudioFormatFlagIsSignedInteger) != 0;
    if (asbd.mFormatID != kAudioFormatLinearPCM || (flags & kAudioFormatFlagIsBigEndian) != 0 ||
        (flags & kSampleFractionMask) != 0 || isFloat == isSigned) {
        // Not PCM, big-endian, fixed-point, unsigned, or both float and integer.
        return std::nullopt;
    }
    const std::uint32_t channels = asbd.mChannelsPerFrame;
    if (!isDescribableRate(asbd.mSampleRate) || channels == 0 || channels > kMaxChannelCount ||
        asbd.mFramesPerPacket != 1 || asbd.mBytesPerPacket != asbd.mBytesPerFrame) {
        return std::nullopt;
    }
    const bool interleaved = (flags & kAudioFormatFlagIsNonInterleaved) == 0;
    const std::uint32_t channelsPerBuffer = interleaved ? channels : 1;
    if (asbd.mBytesPerFrame == 0 || asbd.mBytesPerFrame % channelsPerBuffer != 0) {
        return std::nullopt;
    }
    const auto type =
        sampleTypeOf(isFloat, asbd.mBitsPerChannel, asbd.mBytesPerFrame / channelsPerBuffer, flags);
    if (!type) {
        return std::nullopt;
    }
    return PortableAudioFormat(asbd, *type);
}

std::optional<PortableAudioFormat> PortableAudioFormat::describe(CommonFormat format,
                                                                 double sampleRate,
                                                                 std::uint32_t channels,
                                                                 bool interleaved) {
    if (channels == 0 || channels > 2 || !isDescribableRate(sampleRate)) {
        return std::nullopt;
    }
    SampleType type = SampleType::float32;
    std::uint32_t flags = kAudioFormatFlagIsPacked;
    switch (format) {
    case CommonFormat::float32:
        type = SampleType::float32;
        flags |= kAudioFormatFlagIsFloat;
        break;
    case CommonFormat::float64:
        type = SampleType::float64;
        flags |= kAudioFormatFlagIsFloat;
        break;
    case CommonFormat::int16:
        type = SampleType::int16;
        flags |= kAudioFormatFlagIsSignedInteger;
        break;
    case CommonFormat::int32:
        type = SampleType::int32;
        flags |= kAudioFormatFlagIsSignedInteger;
        break;
    default:
        return std::nullopt;
    }
    if (!interleaved) {
        flags |= kAudioFormatFlagIsNonInterleaved;
    }
    const std::uint32_t sampleBytes = bytesPerSample(type);
    AudioStreamBasicDescription asbd;
    asbd.mSampleRate = sampleRate;
    asbd.mFormatID = kAudioFormatLinearPCM;
    asbd.mFormatFlags = flags;
    asbd.mBytesPerFrame = interleaved ? sampleBytes * channels : sampleBytes;
    asbd.mBytesPerPacket = asbd.mBytesPerFrame;
    asbd.mFramesPerPacket = 1;
    asbd.mChannelsPerFrame = channels;
    asbd.mBitsPerChannel = sampleBytes * 8;
    return PortableAudioFormat(asbd, type);
}

CommonFormat PortableAudioFormat::commonFormat() const {
    switch (sampleType_) {
    case SampleType::int16:
        return CommonFormat::int16;
    case SampleType::int32:
        return CommonFormat::int32;
    case SampleType::float32:
        return CommonFormat::float32;
    case SampleType::float64:
        return CommonFormat::float64;
    case SampleType::int24Packed:
    case SampleType::int24AlignedLow:
    case SampleType::int24AlignedHigh:
        break;
    }
    return CommonFormat::other;
}

bool PortableAudioFormat::isEqual(const AudioFormat& other) const {
    if (&other == this) {
        return true; // formats made alike are one shared object (see FormatCache)
    }
    const auto* that = ownObject<const PortableAudioFormat>(&other);
    return that != nullptr && sampleRate() == that->sampleRate() &&
           channelCount() == that->channelCount() && sampleType_ == that->sampleType_ &&
           (channelCount() == 1 || interleaved_ == that->interleaved_);
}

} // namespace tovanel::platform::portable
