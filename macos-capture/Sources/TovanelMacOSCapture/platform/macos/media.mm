// CoreMedia sample buffers and AVFAudio formats, PCM buffers and converter behind the media
// facility. CM objects are CF objects (retained and released by hand, through CFPtr); AVFAudio
// objects are ARC-managed. AVFAudio raises an Objective-C exception for some arguments it
// refuses (a non-PCM format for a PCM buffer); the initialisers answer none then, as they do
// when they return nil.
#include "platform/macos/media.h"

#include "platform/macos/foundation_bridge.h"

#import <AVFAudio/AVFAudio.h>

#include <cstddef>
#include <cstring>

namespace tovanel::platform::macos {

namespace {

// Our value types are declared field for field like CoreAudio's, so lists and descriptions
// pass between the two by cast.
static_assert(sizeof(AudioStreamBasicDescription) == sizeof(::AudioStreamBasicDescription));
static_assert(offsetof(AudioStreamBasicDescription, mSampleRate) ==
              offsetof(::AudioStreamBasicDescription, mSampleRate));
static_assert(offsetof(AudioStreamBasicDescription, mFormatID) ==
              offsetof(::AudioStreamBasicDescription, mFormatID));
static_assert(offsetof(AudioStreamBasicDescription, mFormatFlags) ==
              offsetof(::AudioStreamBasicDescription, mFormatFlags));
static_assert(offsetof(AudioStreamBasicDescription, mBytesPerPacket) ==
              offsetof(::AudioStreamBasicDescription, mBytesPerPacket));
static_assert(offsetof(AudioStreamBasicDescription, mFramesPerPacket) ==
              offsetof(::AudioStreamBasicDescription, mFramesPerPacket));
static_assert(offsetof(AudioStreamBasicDescription, mBytesPerFrame) ==
              offsetof(::AudioStreamBasicDescription, mBytesPerFrame));
static_assert(offsetof(AudioStreamBasicDescription, mChannelsPerFrame) ==
              offsetof(::AudioStreamBasicDescription, mChannelsPerFrame));
static_assert(offsetof(AudioStreamBasicDescription, mBitsPerChannel) ==
              offsetof(::AudioStreamBasicDescription, mBitsPerChannel));
static_assert(offsetof(AudioStreamBasicDescription, mReserved) ==
              offsetof(::AudioStreamBasicDescription, mReserved));
static_assert(sizeof(AudioBuffer) == sizeof(::AudioBuffer));
static_assert(offsetof(AudioBuffer, mNumberChannels) == offsetof(::AudioBuffer, mNumberChannels));
static_assert(offsetof(AudioBuffer, mDataByteSize) == offsetof(::AudioBuffer, mDataByteSize));
static_assert(offsetof(AudioBuffer, mData) == offsetof(::AudioBuffer, mData));
static_assert(sizeof(AudioBufferList) == sizeof(::AudioBufferList));
static_assert(offsetof(AudioBufferList, mNumberBuffers) ==
              offsetof(::AudioBufferList, mNumberBuffers));
static_assert(offsetof(AudioBufferList, mBuffers) == offsetof(::AudioBufferList, mBuffers));
static_assert(kAudioFormatLinearPCM == ::kAudioFormatLinearPCM);
static_assert(kAudioFormatFlagIsFloat == ::kAudioFormatFlagIsFloat);
static_assert(kAudioFormatFlagIsBigEndian == ::kAudioFormatFlagIsBigEndian);
static_assert(kAudioFormatFlagIsSignedInteger == ::kAudioFormatFlagIsSignedInteger);
static_assert(kAudioFormatFlagIsPacked == ::kAudioFormatFlagIsPacked);
static_assert(kAudioFormatFlagIsAlignedHigh == ::kAudioFormatFlagIsAlignedHigh);
static_assert(kAudioFormatFlagIsNonInterleaved == ::kAudioFormatFlagIsNonInterleaved);

static_assert(static_cast<NSUInteger>(CommonFormat::other) == AVAudioOtherFormat);
static_assert(static_cast<NSUInteger>(CommonFormat::float32) == AVAudioPCMFormatFloat32);
static_assert(static_cast<NSUInteger>(CommonFormat::float64) == AVAudioPCMFormatFloat64);
static_assert(static_cast<NSUInteger>(CommonFormat::int16) == AVAudioPCMFormatInt16);
static_assert(static_cast<NSUInteger>(CommonFormat::int32) == AVAudioPCMFormatInt32);
static_assert(static_cast<NSInteger>(ConverterInputStatus::haveData) ==
              AVAudioConverterInputStatus_HaveData);
static_assert(static_cast<NSInteger>(ConverterInputStatus::noDataNow) ==
              AVAudioConverterInputStatus_NoDataNow);
static_assert(static_cast<NSInteger>(ConverterInputStatus::endOfStream) ==
              AVAudioConverterInputStatus_EndOfStream);
static_assert(static_cast<NSInteger>(ConverterOutputStatus::haveData) ==
              AVAudioConverterOutputStatus_HaveData);
static_assert(static_cast<NSInteger>(ConverterOutputStatus::inputRanDry) ==
              AVAudioConverterOutputStatus_InputRanDry);
static_assert(static_cast<NSInteger>(ConverterOutputStatus::endOfStream) ==
              AVAudioConverterOutputStatus_EndOfStream);
static_assert(static_cast<NSInteger>(ConverterOutputStatus::error) ==
              AVAudioConverterOutputStatus_Error);

// Asked for in both calls, so the size query answers for the list the fill call makes.
constexpr uint32_t kBufferListFlags = kCMSampleBufferFlag_AudioBufferList_Assure16ByteAlignment;

AudioStreamBasicDescription ourDescription(const ::AudioStreamBasicDescription& native) {
    AudioStreamBasicDescription description;
    std::memcpy(&description, &native, sizeof description);
    return description;
}

// Runs an AVFAudio initialiser; nil when it raises instead of returning nil.
template <class Make> auto nilIfRaised(Make make) -> decltype(make()) {
    @try {
        return make();
    } @catch (NSException*) {
        return nil;
    }
}

class MacAudioFormat final : public AudioFormat {
  public:
    explicit MacAudioFormat(AVAudioFormat* format)
        : format_(format), streamDescription_(ourDescription(*format.streamDescription)) {}

    AVAudioFormat* format() const { return format_; }

    const AudioStreamBasicDescription& streamDescription() const override {
        return streamDescription_;
    }
    CommonFormat commonFormat() const override {
        return static_cast<CommonFormat>(format_.commonFormat);
    }
    double sampleRate() const override { return format_.sampleRate; }
    std::uint32_t channelCount() const override { return format_.channelCount; }
    bool isInterleaved() const override { return format_.interleaved; }
    bool isEqual(const AudioFormat& other) const override {
        const auto* theirs = dynamic_cast<const MacAudioFormat*>(&other);
        return theirs != nullptr && [format_ isEqual:theirs->format_];
    }

  private:
    AVAudioFormat* format_; // strong (ARC), never nil
    const AudioStreamBasicDescription streamDescription_;
};

class MacPCMBuffer final : public PCMBuffer {
  public:
    MacPCMBuffer(AVAudioPCMBuffer* buffer, std::shared_ptr<AudioFormat> format)
        : buffer_(buffer), format_(std::move(format)) {}

    AVAudioPCMBuffer* buffer() const { return buffer_; }

    const std::shared_ptr<AudioFormat>& format() const override { return format_; }
    std::uint32_t frameCapacity() const override { return buffer_.frameCapacity; }
    std::uint32_t frameLength() const override { return buffer_.frameLength; }
    void setFrameLength(std::uint32_t frameLength) override { buffer_.frameLength = frameLength; }
    AudioBufferList& mutableAudioBufferList() override {
        return *reinterpret_cast<AudioBufferList*>(buffer_.mutableAudioBufferList);
    }
    float* const* floatChannelData() override { return buffer_.floatChannelData; }
    std::uint32_t stride() const override { return static_cast<std::uint32_t>(buffer_.stride); }

  private:
    AVAudioPCMBuffer* buffer_; // strong (ARC), never nil; owns the audio memory
    const std::shared_ptr<AudioFormat> format_;
};

class MacAudioConverter final : public AudioConverter {
  public:
    explicit MacAudioConverter(AVAudioConverter* converter) : converter_(converter) {}

    ConverterOutputStatus convertToBuffer(PCMBuffer& output, std::optional<PlatformError>& error,
                                          const ConverterInputBlock& input) override {
        // The input block runs inside this call, on this thread, so it may refer to locals.
        const ConverterInputBlock* pull = &input;
        // The converter may read a supplied buffer until the block supplies another or the
        // conversion returns, and the block may hand over its only reference: the latest buffer
        // supplied is held here until then (an answer without one does not drop it).
        std::shared_ptr<PCMBuffer> supplied;
        std::shared_ptr<PCMBuffer>* const keep = &supplied;
        NSError* failure = nil;
        const AVAudioConverterOutputStatus status = [converter_
               convertToBuffer:static_cast<MacPCMBuffer&>(output).buffer()
                         error:&failure
            withInputFromBlock:^AVAudioBuffer* _Nullable(AVAudioPacketCount packetCount,
                                                         AVAudioConverterInputStatus* outStatus) {
              ConverterInputStatus inputStatus = ConverterInputStatus::noDataNow;
              std::shared_ptr<PCMBuffer> buffer = (*pull)(packetCount, inputStatus);
              *outStatus = static_cast<AVAudioConverterInputStatus>(inputStatus);
              if (!buffer) {
                  return nil;
              }
              *keep = std::move(buffer);
              return static_cast<MacPCMBuffer&>(**keep).buffer();
            }];
        // An error the converter reports is the result, whatever the status says; a failed
        // status with no error to go by is still a failure.
        if (failure != nil || status == AVAudioConverterOutputStatus_Error) {
            error = platformError("AVAudioConverter convertToBuffer:error:withInputFromBlock:",
                                  failure);
        }
        return static_cast<ConverterOutputStatus>(status);
    }

  private:
    AVAudioConverter* converter_; // strong (ARC), never nil; keeps its state between calls
};

} // namespace

MacFormatDescription::MacFormatDescription(CFPtr<CMFormatDescriptionRef> description)
    : description_(std::move(description)) {
    // The pointer is into the description; keep a copy rather than depend on that.
    if (const ::AudioStreamBasicDescription* native =
            CMAudioFormatDescriptionGetStreamBasicDescription(description_.get())) {
        streamDescription_ = ourDescription(*native);
    }
}

const AudioStreamBasicDescription* MacFormatDescription::streamBasicDescription() const {
    return streamDescription_ ? &*streamDescription_ : nullptr;
}

bool MacFormatDescription::isEqual(const FormatDescription& other) const {
    const auto* theirs = dynamic_cast<const MacFormatDescription*>(&other);
    return theirs != nullptr && CFEqual(description_.get(), theirs->description_.get());
}

std::shared_ptr<const FormatDescription> MacSampleBuffer::formatDescription() const {
    // Get rule: not ours until retained; the description may outlive the sample buffer.
    auto description = retained(CMSampleBufferGetFormatDescription(sampleBuffer_));
    if (!description) {
        return nullptr;
    }
    return std::make_shared<MacFormatDescription>(std::move(description));
}

std::int64_t MacSampleBuffer::numSamples() const {
    return CMSampleBufferGetNumSamples(sampleBuffer_);
}

OSStatus MacSampleBuffer::audioBufferListSizeNeeded(std::size_t& sizeNeeded) const {
    size_t needed = 0;
    const OSStatus status = CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
        sampleBuffer_, &needed, nullptr, 0, nullptr, nullptr, kBufferListFlags, nullptr);
    sizeNeeded = needed;
    return status;
}

OSStatus MacSampleBuffer::fillAudioBufferList(AudioBufferList& list, std::size_t listSize,
                                              std::shared_ptr<const void>& retainedBlock) const {
    CMBlockBufferRef block = nullptr;
    const OSStatus status = CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(
        sampleBuffer_, nullptr, reinterpret_cast<::AudioBufferList*>(&list), listSize, nullptr,
        nullptr, kBufferListFlags, &block);
    // The block comes back retained (+1): released when the last holder lets go, after which
    // the list's data pointers are invalid.
    CFPtr<CMBlockBufferRef> owned(block);
    if (status != noErr) {
        return status;
    }
    if (owned) {
        retainedBlock = std::shared_ptr<const void>(owned.release(), CFReleaser{});
    } else {
        retainedBlock.reset();
    }
    return noErr;
}

std::shared_ptr<AudioFormat> MacMedia::makeFormat(const AudioStreamBasicDescription& asbd) {
    ::AudioStreamBasicDescription native;
    std::memcpy(&native, &asbd, sizeof native);
    // The format keeps its own copy of the description.
    AVAudioFormat* format =
        nilIfRaised([&] { return [[AVAudioFormat alloc] initWithStreamDescription:&native]; });
    return format == nil ? nullptr : std::make_shared<MacAudioFormat>(format);
}

std::shared_ptr<AudioFormat> MacMedia::makeFormat(CommonFormat commonFormat, double sampleRate,
                                                  std::uint32_t channels, bool interleaved) {
    AVAudioFormat* format = nilIfRaised([&] {
        return [[AVAudioFormat alloc]
            initWithCommonFormat:static_cast<AVAudioCommonFormat>(commonFormat)
                      sampleRate:sampleRate
                        channels:channels
                     interleaved:interleaved];
    });
    return format == nil ? nullptr : std::make_shared<MacAudioFormat>(format);
}

std::shared_ptr<PCMBuffer> MacMedia::makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                                   std::uint32_t frameCapacity) {
    if (!format) {
        return nullptr;
    }
    AVAudioFormat* native = static_cast<const MacAudioFormat&>(*format).format();
    AVAudioPCMBuffer* buffer = nilIfRaised([&] {
        return [[AVAudioPCMBuffer alloc] initWithPCMFormat:native frameCapacity:frameCapacity];
    });
    return buffer == nil ? nullptr : std::make_shared<MacPCMBuffer>(buffer, format);
}

std::shared_ptr<AudioConverter> MacMedia::makeConverter(const std::shared_ptr<AudioFormat>& from,
                                                        const std::shared_ptr<AudioFormat>& to) {
    if (!from || !to) {
        return nullptr;
    }
    AVAudioFormat* source = static_cast<const MacAudioFormat&>(*from).format();
    AVAudioFormat* target = static_cast<const MacAudioFormat&>(*to).format();
    AVAudioConverter* converter = nilIfRaised(
        [&] { return [[AVAudioConverter alloc] initFromFormat:source toFormat:target]; });
    return converter == nil ? nullptr : std::make_shared<MacAudioConverter>(converter);
}

} // namespace tovanel::platform::macos
