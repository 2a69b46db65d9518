// The portable media: which stream descriptions make formats, how PCM buffers lay out their
// memory, and the converter's decoding, layouts, channel mapping, held-back frames, end of
// stream and errors.
#include "platform/portable/converter_status.h"
#include "platform/portable/media.h"
#include "platform/portable/sample_buffer.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>

namespace tovanel::platform::portable {
namespace {

using test::bytesOf;
using test::wordsOf;

constexpr std::uint32_t kFloat = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
constexpr std::uint32_t kInt = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
constexpr std::uint32_t kPlanar = kAudioFormatFlagIsNonInterleaved;

AudioStreamBasicDescription pcm(double rate, std::uint32_t channels, std::uint32_t bits,
                                std::uint32_t bytes, std::uint32_t flags) {
    const std::uint32_t frame = (flags & kPlanar) != 0 ? bytes : bytes * channels;
    return {rate, kAudioFormatLinearPCM, flags, frame, 1, frame, channels, bits, 0};
}

template <class Change>
AudioStreamBasicDescription with(AudioStreamBasicDescription asbd, Change change) {
    change(asbd);
    return asbd;
}

TEST(Formats, AreMadeOnlyFromConsistentLittleEndianLinearPcm) {
    const auto stereo = pcm(48000, 2, 32, 4, kFloat);
    const std::optional<CommonFormat> refused;
    const std::vector<std::pair<AudioStreamBasicDescription, std::optional<CommonFormat>>> cases = {
        {pcm(44100, 2, 16, 2, kInt), CommonFormat::int16},
        {pcm(44100, 2, 16, 2, kInt | kPlanar), CommonFormat::int16},
        {pcm(96000, 2, 24, 3, kInt), CommonFormat::other},
        {pcm(48000, 2, 24, 4, kAudioFormatFlagIsSignedInteger), CommonFormat::other},
        {pcm(48000, 2, 24, 4, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh),
         CommonFormat::other},
        {pcm(48000, 2, 32, 4, kInt | kPlanar), CommonFormat::int32},
        {pcm(48000, 2, 64, 8, kFloat), CommonFormat::float64},
        {pcm(48000, 64, 32, 4, kFloat | kPlanar), CommonFormat::float32},
        {pcm(0, 1, 32, 4, kFloat), CommonFormat::float32}, // a layout, though no converter
        {AudioStreamBasicDescription{}, refused},
        {with(stereo, [](auto& a) { a.mFormatID = fourCharCode("aac "); }), refused},
        {with(stereo, [](auto& a) { a.mChannelsPerFrame = 0; }), refused},
        {pcm(48000, 65, 32, 4, kFloat | kPlanar), refused},
        {with(stereo, [](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 7; }), refused},
        {with(stereo, [](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 0; }), refused},
        {with(stereo, [](auto& a) { a.mBytesPerPacket = 16; }), refused},
        {with(stereo, [](auto& a) { a.mFramesPerPacket = 2; }), refused},
        {with(stereo, [](auto& a) { a.mFormatFlags |= kPlanar; }), refused}, // sized interleaved
        {with(stereo, [](auto& a) { a.mBitsPerChannel = 24; }), refused},
        {pcm(48000, 2, 8, 1, kInt), refused},
        {pcm(48000, 2, 24, 4, kInt), refused}, // 24 bits marked packed into 4 bytes
        {pcm(48000, 2, 16, 2, kFloat), refused},
        {pcm(48000, 2, 16, 2, kAudioFormatFlagIsPacked), refused}, // unsigned
        {pcm(48000, 2, 32, 4, kFloat | kAudioFormatFlagIsSignedInteger), refused},
        {pcm(48000, 2, 16, 2, kInt | kAudioFormatFlagIsBigEndian), refused},
        {pcm(48000, 2, 32, 4, kInt | (8u << 7)), refused}, // fixed point
        {pcm(std::nan(""), 2, 32, 4, kFloat), refused},
        {pcm(-1, 2, 32, 4, kFloat), refused},
    };
    PortableMedia media;
    for (const auto& [asbd, common] : cases) {
        SCOPED_TRACE(::testing::Message() << asbd.mFormatFlags << "/" << asbd.mBitsPerChannel << "/"
                                          << asbd.mChannelsPerFrame);
        const auto format = media.makeFormat(asbd);
        ASSERT_EQ(format != nullptr, common.has_value());
        if (format) {
            EXPECT_EQ(format->commonFormat(), *common);
            EXPECT_EQ(format->streamDescription(), asbd);
            EXPECT_EQ(format->isInterleaved(), (asbd.mFormatFlags & kPlanar) == 0);
        }
    }
}

TEST(Formats, CommonFormatsAndFunctionalEquality) {
    PortableMedia media;
    EXPECT_EQ(media.makeFormat(CommonFormat::other, 48000, 2, false), nullptr);
    EXPECT_EQ(media.makeFormat(CommonFormat::float32, 48000, 0, false), nullptr);
    EXPECT_EQ(media.makeFormat(CommonFormat::float32, 48000, 3, false), nullptr);
    EXPECT_EQ(media.makeFormat(CommonFormat::float32, -48000, 2, false), nullptr);
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    EXPECT_EQ(target->streamDescription(), pcm(48000, 2, 32, 4, kFloat | kPlanar));
    EXPECT_TRUE(target->isEqual(*media.makeFormat(pcm(48000, 2, 32, 4, kFloat | kPlanar))));
    EXPECT_FALSE(target->isEqual(*media.makeFormat(CommonFormat::float32, 48000, 2, true)));
    EXPECT_FALSE(target->isEqual(*media.makeFormat(CommonFormat::float32, 44100, 2, false)));
    EXPECT_FALSE(target->isEqual(*media.makeFormat(CommonFormat::float32, 48000, 1, false)));
    EXPECT_FALSE(target->isEqual(*media.makeFormat(CommonFormat::int32, 48000, 2, false)));
    EXPECT_TRUE(media.makeFormat(CommonFormat::int16, 8000, 1, true)
                    ->isEqual(*media.makeFormat(CommonFormat::int16, 8000, 1, false)))
        << "mono is the same bytes either way";
}

TEST(PcmBuffers, OwnZeroedMemoryDescribedByTheirListAndChannelPointers) {
    PortableMedia media;
    for (const bool interleaved : {false, true}) {
        const auto format = media.makeFormat(CommonFormat::float32, 48000, 2, interleaved);
        const auto buffer = media.makePCMBuffer(format, 100);
        AudioBufferList& list = buffer->mutableAudioBufferList();
        ASSERT_EQ(list.mNumberBuffers, interleaved ? 1u : 2u);
        for (const AudioBuffer& record : audioBuffers(list, list.mNumberBuffers)) {
            EXPECT_EQ(record.mNumberChannels, interleaved ? 2u : 1u);
            EXPECT_EQ(record.mDataByteSize, interleaved ? 800u : 400u);
            std::memset(record.mData, 0x5A, record.mDataByteSize); // all of it is ours
        }
        EXPECT_EQ(list.mNumberBuffers, interleaved ? 1u : 2u) << "filling kept the list whole";
        float* const* channels = buffer->floatChannelData();
        ASSERT_NE(channels, nullptr);
        EXPECT_EQ(buffer->stride(), interleaved ? 2u : 1u);
        const auto records = audioBuffers(list, list.mNumberBuffers);
        EXPECT_EQ(channels[0], records[0].mData);
        EXPECT_EQ(channels[1], interleaved ? channels[0] + 1 : records[1].mData);
        buffer->setFrameLength(1000);
        EXPECT_EQ(buffer->frameLength(), 100u) << "never beyond the capacity";
        buffer->setFrameLength(10);
        EXPECT_EQ(audioBuffers(list, 1)[0].mDataByteSize, interleaved ? 80u : 40u);
    }
    const auto fresh =
        media.makePCMBuffer(media.makeFormat(CommonFormat::int16, 48000, 2, false), 4);
    EXPECT_EQ(fresh->floatChannelData(), nullptr);
    const auto* zeroed =
        static_cast<std::uint8_t*>(fresh->mutableAudioBufferList().mBuffers[0].mData);
    EXPECT_EQ(std::vector<std::uint8_t>(zeroed, zeroed + 8), std::vector<std::uint8_t>(8, 0));
    EXPECT_NE(media.makePCMBuffer(media.makeFormat(CommonFormat::float32, 48000, 2, false), 0)
                  ->mutableAudioBufferList()
                  .mBuffers[0]
                  .mData,
              nullptr);
    EXPECT_EQ(media.makePCMBuffer(media.makeFormat(CommonFormat::float64, 48000, 2, true),
                                  std::numeric_limits<std::uint32_t>::max() / 16 + 1),
              nullptr)
        << "a capacity whose bytes do not fit in 32 bits";
}

TEST(SampleBuffers, HandOutTheirBuffersAsCoreMediaDoes) {
    const auto description =
        std::make_shared<PortableFormatDescription>(pcm(48000, 2, 32, 4, kFloat | kPlanar));
    PortableSampleBuffer buffer(description, 2,
                                {{1, {1, 2, 3, 4, 5, 6, 7, 8}}, {1, {9, 8, 7, 6, 5, 4, 3, 2}}});
    std::size_t size = 0;
    ASSERT_EQ(buffer.audioBufferListSizeNeeded(size), 0);
    EXPECT_EQ(size, audioBufferListSize(2));
    AudioBufferListStorage list(size);
    std::shared_ptr<const void> retained;
    EXPECT_EQ(buffer.fillAudioBufferList(*list.get(), size - 1, retained),
              kCMSampleBufferError_ArrayTooSmall);
    ASSERT_EQ(buffer.fillAudioBufferList(*list.get(), size, retained), 0);
    const auto records = audioBuffers(*list.get(), list.get()->mNumberBuffers);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].mDataByteSize, 8u);
    EXPECT_EQ(static_cast<const std::uint8_t*>(records[1].mData)[0], 9);
    EXPECT_TRUE(
        description->isEqual(PortableFormatDescription(pcm(48000, 2, 32, 4, kFloat | kPlanar))));
    EXPECT_FALSE(
        description->isEqual(PortableFormatDescription(pcm(44100, 2, 32, 4, kFloat | kPlanar))));
    EXPECT_FALSE(description->isEqual(PortableFormatDescription(std::nullopt)));
}

// Runs `converter` once into a fresh output of `capacity` frames, feeding `inputs` in order
// (each answered once, then "nothing for now"); returns the status and the output.
struct Converted {
    ConverterOutputStatus status;
    std::optional<PlatformError> error;
    std::shared_ptr<PCMBuffer> output;
};

Converted convert(PortableMedia& media, AudioConverter& converter,
                  const std::shared_ptr<AudioFormat>& target, std::uint32_t capacity,
                  std::vector<std::shared_ptr<PCMBuffer>> inputs, bool endAfter = false) {
    Converted result{ConverterOutputStatus::error, std::nullopt,
                     media.makePCMBuffer(target, capacity)};
    std::size_t next = 0;
    result.status = converter.convertToBuffer(
        *result.output, result.error, [&](std::uint32_t, ConverterInputStatus& status) {
            if (next < inputs.size()) {
                status = ConverterInputStatus::haveData;
                return inputs[next++];
            }
            status = endAfter ? ConverterInputStatus::endOfStream : ConverterInputStatus::noDataNow;
            return std::shared_ptr<PCMBuffer>();
        });
    return result;
}

std::shared_ptr<PCMBuffer> bufferOf(PortableMedia& media, const AudioStreamBasicDescription& asbd,
                                    const std::vector<std::uint8_t>& bytes) {
    const auto format = media.makeFormat(asbd);
    const std::uint32_t buffers = (asbd.mFormatFlags & kPlanar) != 0 ? asbd.mChannelsPerFrame : 1;
    const auto frames = static_cast<std::uint32_t>(bytes.size() / asbd.mBytesPerFrame / buffers);
    auto buffer = media.makePCMBuffer(format, frames);
    buffer->setFrameLength(frames);
    AudioBufferList& list = buffer->mutableAudioBufferList();
    const std::size_t perBuffer = bytes.size() / list.mNumberBuffers;
    for (std::uint32_t b = 0; b < list.mNumberBuffers; ++b) {
        std::memcpy(audioBuffers(list, b + 1)[b].mData, bytes.data() + b * perBuffer, perBuffer);
    }
    return buffer;
}

std::vector<float> channel(PCMBuffer& buffer, std::uint32_t c) {
    std::vector<float> samples;
    for (std::uint32_t i = 0; i < buffer.frameLength(); ++i) {
        samples.push_back(buffer.floatChannelData()[c][i * buffer.stride()]);
    }
    return samples;
}

template <class T>
std::vector<std::uint8_t> raw(std::initializer_list<T> values) {
    std::vector<std::uint8_t> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.begin(), bytes.size());
    return bytes;
}

TEST(Converter, DecodesEverySampleTypeExactlyAndMapsChannels) {
    const auto kInf = std::numeric_limits<float>::infinity();
    constexpr std::uint32_t kSigned = kAudioFormatFlagIsSignedInteger;
    struct Case {
        AudioStreamBasicDescription asbd;
        std::vector<std::uint8_t> bytes;
        std::vector<float> expected;
    };
    const std::vector<Case> cases = {
        {pcm(48000, 1, 16, 2, kInt),
         raw<std::int16_t>({-32768, 32767, 1, -1, 16384}),
         {-1.0f, 32767.0f / 32768, 0x1p-15f, -0x1p-15f, 0.5f}},
        {pcm(48000, 1, 24, 3, kInt),
         {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF},
         {-1.0f, 8388607.0f / 8388608, 0x1p-23f, -0x1p-23f}},
        {pcm(48000, 1, 24, 4, kSigned),
         raw<std::uint32_t>({0x00800000, 0xFF7FFFFF, 0xAB000001}),
         {-1.0f, 8388607.0f / 8388608, 0x1p-23f}},
        {pcm(48000, 1, 24, 4, kSigned | kAudioFormatFlagIsAlignedHigh),
         raw<std::uint32_t>({0x80000000, 0x7FFFFF00, 0x000001FF}),
         {-1.0f, 8388607.0f / 8388608, 0x1p-23f}},
        {pcm(48000, 1, 32, 4, kInt),
         raw<std::int32_t>({INT32_MIN, INT32_MAX, 1, 0x40000000}),
         {-1.0f, 1.0f, 0x1p-31f, 0.5f}},
        {pcm(48000, 1, 64, 8, kFloat),
         raw<double>({0.5, -0.0, 1e-50, 1e300, -0.75}),
         {0.5f, -0.0f, 0.0f, kInf, -0.75f}},
        // Four channels keep the first two, whatever the layout.
        {pcm(48000, 4, 32, 4, kFloat), bytesOf({1, 2, 3, 4, 5, 6, 7, 8}), {1, 5}},
        {pcm(48000, 4, 32, 4, kFloat | kPlanar), bytesOf({1, 2, 3, 4, 5, 6, 7, 8}), {1, 2}},
    };
    PortableMedia media;
    for (const bool interleavedOut : {false, true}) {
        const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, interleavedOut);
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message()
                         << c.asbd.mBitsPerChannel << "/" << c.asbd.mFormatFlags);
            const auto input = bufferOf(media, c.asbd, c.bytes);
            const auto converter = media.makeConverter(input->format(), target);
            auto result = convert(media, *converter, target, 64, {input});
            ASSERT_FALSE(result.error);
            EXPECT_EQ(result.status, ConverterOutputStatus::inputRanDry);
            EXPECT_EQ(bytesOf(channel(*result.output, 0)), bytesOf(c.expected));
            const auto right = channel(*result.output, 1);
            if (c.asbd.mChannelsPerFrame == 1) {
                EXPECT_EQ(bytesOf(right), bytesOf(c.expected)) << "mono goes to both sides";
            } else {
                const bool planar = (c.asbd.mFormatFlags & kPlanar) != 0;
                EXPECT_EQ(right, planar ? std::vector<float>({3, 4}) : std::vector<float>({2, 6}));
            }
        }
    }
}

// Two inputs of 100 frames per call into room for 150: the converter asks again while the output
// is not full, and what does not fit waits for the next call.
TEST(Converter, HoldsBackWhatTheOutputCannotTakeAndLosesNothing) {
    PortableMedia media;
    for (const double rate : {48000.0, 44100.0}) {
        SCOPED_TRACE(rate);
        const auto source = pcm(rate, 2, 32, 4, kFloat);
        const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
        const auto converter = media.makeConverter(media.makeFormat(source), target);
        const auto chunk = [&](int first) {
            std::vector<float> frames;
            for (int i = first; i < first + 100; ++i) {
                const float value = float(std::sin(2 * M_PI * 440.0 * i / rate) * 0.5);
                frames.insert(frames.end(), {value, -value});
            }
            return bufferOf(media, source, bytesOf(frames));
        };
        std::vector<float> left;
        std::deque<std::shared_ptr<PCMBuffer>> pending; // the caller's stream: nothing is lost
        for (int call = 0; call < 14; ++call) {
            if (call < 10) {
                pending.insert(pending.end(), {chunk(200 * call), chunk(200 * call + 100)});
            }
            const auto output = media.makePCMBuffer(target, 150);
            std::optional<PlatformError> error;
            converter->convertToBuffer(
                *output, error, [&](std::uint32_t, ConverterInputStatus& status) {
                    status = pending.empty() ? ConverterInputStatus::noDataNow
                                             : ConverterInputStatus::haveData;
                    auto next = pending.empty() ? nullptr : pending.front();
                    if (!pending.empty()) {
                        pending.pop_front();
                    }
                    return next;
                });
            ASSERT_FALSE(error);
            const auto got = channel(*output, 0);
            const auto right = channel(*output, 1);
            for (std::size_t i = 0; i < got.size(); ++i) {
                ASSERT_EQ(right[i], -got[i]) << i;
            }
            left.insert(left.end(), got.begin(), got.end());
        }
        for (std::size_t i = 0; i < left.size(); ++i) {
            const float ideal = float(std::sin(2 * M_PI * 440.0 * double(i) / 48000) * 0.5);
            ASSERT_NEAR(left[i], ideal, rate == 48000 ? 0 : 0.02) << i;
        }
        // At the same rate every frame is out; a resampler still holds its filter's share.
        ASSERT_NEAR(double(left.size()), 2000 * 48000 / rate - (rate == 48000 ? 0 : 350),
                    rate == 48000 ? 0 : 350);
    }
}

TEST(Converter, TheEndOfTheStreamDrainsTheFilter) {
    PortableMedia media;
    const auto source = pcm(44100, 2, 16, 2, kInt);
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    const auto converter = media.makeConverter(media.makeFormat(source), target);
    const auto input = bufferOf(media, source, std::vector<std::uint8_t>(4410 * 4, 0x10));
    const auto result = convert(media, *converter, target, 10000, {input}, true);
    EXPECT_EQ(result.status, ConverterOutputStatus::endOfStream);
    EXPECT_NEAR(double(result.output->frameLength()), 4800, 1);
}

TEST(Converter, RefusesRatesItCannotWorkWithAndOtherBackendsObjects) {
    PortableMedia media;
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    for (const double rate : {0.0, 999.0, 1536001.0}) {
        EXPECT_EQ(media.makeConverter(media.makeFormat(CommonFormat::int16, rate, 2, true), target),
                  nullptr)
            << rate;
        EXPECT_EQ(
            media.makeConverter(target, media.makeFormat(CommonFormat::float32, rate, 2, true)),
            nullptr)
            << rate;
    }
    for (const double rate : {1000.0, 1536000.0}) {
        EXPECT_NE(media.makeConverter(media.makeFormat(CommonFormat::int16, rate, 2, true), target),
                  nullptr)
            << rate;
    }
    EXPECT_EQ(media.makeConverter(target, media.makeFormat(CommonFormat::int16, 48000, 2, true)),
              nullptr)
        << "output is 32-bit float only";
    struct Foreign final : AudioFormat {
        AudioStreamBasicDescription asbd = pcm(48000, 2, 32, 4, kFloat | kPlanar);
        const AudioStreamBasicDescription& streamDescription() const override { return asbd; }
        CommonFormat commonFormat() const override { return CommonFormat::float32; }
        double sampleRate() const override { return 48000; }
        std::uint32_t channelCount() const override { return 2; }
        bool isInterleaved() const override { return false; }
        bool isEqual(const AudioFormat&) const override { return true; }
    };
    const std::shared_ptr<AudioFormat> foreign = std::make_shared<Foreign>();
    EXPECT_EQ(media.makePCMBuffer(foreign, 8), nullptr);
    EXPECT_EQ(media.makeConverter(foreign, target), nullptr);
    EXPECT_FALSE(target->isEqual(*foreign));
}

TEST(Converter, ReportsEachBrokenContractAsAnErrorAndPutsOutNothing) {
    PortableMedia media;
    const auto source = media.makeFormat(CommonFormat::int16, 44100, 2, true);
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    const auto converter = media.makeConverter(source, target);
    auto other = media.makePCMBuffer(media.makeFormat(CommonFormat::int16, 48000, 2, true), 8);
    other->setFrameLength(8);
    auto empty = media.makePCMBuffer(source, 8);
    struct Case {
        OSStatus code;
        std::shared_ptr<AudioFormat> output;
        ConverterInputBlock block;
    };
    const auto answer = [](ConverterInputStatus given, std::shared_ptr<PCMBuffer> buffer) {
        return [given, buffer](std::uint32_t, ConverterInputStatus& status) {
            status = given;
            return buffer;
        };
    };
    const std::vector<Case> cases = {
        {kAudioConverterErr_FormatNotSupported,
         media.makeFormat(CommonFormat::float32, 48000, 2, true),
         answer(ConverterInputStatus::noDataNow, nullptr)},
        {kAudioConverterErr_FormatNotSupported, target,
         answer(ConverterInputStatus::haveData, other)},
        {kAudio_ParamError, target, answer(ConverterInputStatus::haveData, nullptr)},
        {kAudio_ParamError, target, answer(static_cast<ConverterInputStatus>(7), nullptr)},
        {kAudio_ParamError, target, ConverterInputBlock()},
    };
    for (const Case& c : cases) {
        const auto output = media.makePCMBuffer(c.output, 64);
        output->setFrameLength(5);
        std::optional<PlatformError> error;
        EXPECT_EQ(converter->convertToBuffer(*output, error, c.block),
                  ConverterOutputStatus::error);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, c.code);
        EXPECT_EQ(output->frameLength(), 0u);
    }
    // A block that keeps answering empty buffers ends the asking instead of spinning.
    int asked = 0;
    std::optional<PlatformError> error;
    const auto output = media.makePCMBuffer(target, 64);
    EXPECT_EQ(converter->convertToBuffer(*output, error,
                                         [&](std::uint32_t, ConverterInputStatus& status) {
                                             status = ConverterInputStatus::haveData;
                                             return ++asked < 100 ? empty : nullptr;
                                         }),
              ConverterOutputStatus::inputRanDry);
    EXPECT_EQ(asked, 1);
}

} // namespace
} // namespace tovanel::platform::portable
