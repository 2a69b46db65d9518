// The portable media: which descriptions make formats, how PCM and sample buffers lay out memory,
// and the converter's decoding, layouts, channels, held-back frames, end of stream and errors.
#include "platform/portable/converter_status.h"
#include "platform/portable/media.h"
#include "platform/portable/sample_buffer.h"
#include "platform/pulse/planar_frames.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <set>

namespace tovanel::platform::portable {
namespace {

using test::bytesOf;
using Stream = std::deque<std::shared_ptr<PCMBuffer>>;

constexpr std::uint32_t kFloat = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
constexpr std::uint32_t kInt = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
constexpr std::uint32_t kPlanar = kAudioFormatFlagIsNonInterleaved;

AudioStreamBasicDescription pcm(double rate, std::uint32_t channels, std::uint32_t bits,
                                std::uint32_t bytes, std::uint32_t flags) {
    const std::uint32_t frame = (flags & kPlanar) != 0 ? bytes : bytes * channels;
    return {rate, kAudioFormatLinearPCM, flags, frame, 1, frame, channels, bits, 0};
}
template <class Change>
AudioStreamBasicDescription with(Change change) {
    auto asbd = pcm(48000, 2, 32, 4, kFloat);
    change(asbd);
    return asbd;
}

TEST(Formats, AreMadeOnlyFromConsistentLittleEndianLinearPcm) {
    const std::optional<CommonFormat> no;
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
        {AudioStreamBasicDescription{}, no},
        {with([](auto& a) { a.mFormatID = fourCharCode("aac "); }), no},
        {with([](auto& a) { a.mChannelsPerFrame = 0; }), no},
        {pcm(48000, 65, 32, 4, kFloat | kPlanar), no},
        {with([](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 7; }), no},
        {with([](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 0; }), no},
        {with([](auto& a) { a.mBytesPerPacket = 16; }), no},
        {with([](auto& a) { a.mFramesPerPacket = 2; }), no},
        {with([](auto& a) { a.mFormatFlags |= kPlanar; }), no}, // sized as interleaved
        {with([](auto& a) { a.mBitsPerChannel = 24; }), no},
        {pcm(48000, 2, 8, 1, kInt), no},
        {pcm(48000, 2, 24, 4, kInt), no}, // 24 bits marked packed into 4 bytes
        {pcm(48000, 2, 16, 2, kFloat), no},
        {pcm(48000, 2, 32, 8, kAudioFormatFlagIsFloat), no},  // 32 bits in 8 bytes
        {pcm(48000, 2, 16, 2, kAudioFormatFlagIsPacked), no}, // unsigned
        {pcm(48000, 2, 32, 4, kFloat | kAudioFormatFlagIsSignedInteger), no},
        {pcm(48000, 2, 16, 2, kInt | kAudioFormatFlagIsBigEndian), no},
        {pcm(48000, 2, 32, 4, kInt | (1u << 7)), no}, // fixed point
        {pcm(std::nan(""), 2, 32, 4, kFloat), no},
        {pcm(-1, 2, 32, 4, kFloat), no},
    };
    PortableMedia media;
    for (const auto& [asbd, common] : cases) {
        const auto format = media.makeFormat(asbd);
        ASSERT_EQ(format != nullptr, common.has_value())
            << asbd.mFormatFlags << "/" << asbd.mBitsPerChannel;
        if (format) {
            EXPECT_EQ(format->commonFormat(), *common);
            EXPECT_EQ(format->streamDescription(), asbd);
            EXPECT_EQ(format->isInterleaved(), (asbd.mFormatFlags & kPlanar) == 0);
        }
    }
    EXPECT_FALSE(media.makeFormat(CommonFormat::other, 48000, 2, false) ||
                 media.makeFormat(CommonFormat::float32, 48000, 0, false) ||
                 media.makeFormat(CommonFormat::float32, 48000, 3, false) ||
                 media.makeFormat(CommonFormat::float32, -48000, 2, false));
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    EXPECT_EQ(target->streamDescription(), pcm(48000, 2, 32, 4, kFloat | kPlanar));
    EXPECT_FALSE(target->isEqual(*media.makeFormat(CommonFormat::float32, 48000, 2, true)));
    EXPECT_FALSE(target->isEqual(*media.makeFormat(CommonFormat::int32, 48000, 2, false)));
    EXPECT_TRUE(media.makeFormat(CommonFormat::int16, 8000, 1, true)
                    ->isEqual(*media.makeFormat(CommonFormat::int16, 8000, 1, false)))
        << "mono is the same bytes either way";
}

TEST(Buffers, OwnTheirMemoryDescribedByTheirListAndHandItOutAsCoreMediaDoes) {
    PortableMedia media;
    for (const bool interleaved : {false, true}) {
        const auto buffer = media.makePCMBuffer(
            media.makeFormat(CommonFormat::float32, 48000, 2, interleaved), 100);
        AudioBufferList& list = buffer->mutableAudioBufferList();
        const auto records = audioBuffers(list, interleaved ? 1 : 2);
        ASSERT_EQ(list.mNumberBuffers, records.size());
        for (const AudioBuffer& record : records) {
            EXPECT_EQ(record.mNumberChannels * 400, record.mDataByteSize);
            EXPECT_EQ(record.mNumberChannels, interleaved ? 2u : 1u);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(record.mData) % alignof(std::max_align_t),
                      0u);
            std::memset(record.mData, 0x5A, record.mDataByteSize); // all of it is ours
        }
        float* const* channels = buffer->floatChannelData();
        EXPECT_EQ(buffer->stride(), interleaved ? 2u : 1u);
        EXPECT_EQ(channels[0], records[0].mData);
        EXPECT_EQ(channels[1], interleaved ? channels[0] + 1 : records[1].mData);
        EXPECT_GE(channels[1] - channels[0], interleaved ? 1 : 100) << "channels never overlap";
        buffer->setFrameLength(1000);
        EXPECT_EQ(buffer->frameLength(), 100u) << "never beyond the capacity";
        buffer->setFrameLength(10);
        EXPECT_EQ(records[0].mDataByteSize, interleaved ? 80u : 40u);
    }
    EXPECT_FALSE(media.makePCMBuffer(media.makeFormat(CommonFormat::int16, 48000, 2, false), 4)
                     ->floatChannelData());
    EXPECT_FALSE(media.makePCMBuffer(media.makeFormat(CommonFormat::float64, 48000, 2, true),
                                     std::numeric_limits<std::uint32_t>::max() / 16 + 1))
        << "a capacity whose bytes do not fit in 32 bits";
    // Sample buffers: a list too small is refused; a big enough one points at the data.
    const auto description =
        std::make_shared<PortableFormatDescription>(pcm(48000, 2, 32, 4, kPlanar));
    PortableSampleBuffer sample(description, 2, {{1, {1, 2, 3, 4}}, {1, {9, 8, 7, 6}}});
    std::size_t size = 0;
    ASSERT_EQ(sample.audioBufferListSizeNeeded(size), 0);
    AudioBufferListStorage filled(size);
    std::shared_ptr<const void> retained;
    EXPECT_EQ(sample.fillAudioBufferList(*filled.get(), size - 1, retained),
              kCMSampleBufferError_ArrayTooSmall);
    ASSERT_EQ(sample.fillAudioBufferList(*filled.get(), size, retained), 0);
    const auto second = audioBuffers(*filled.get(), filled.get()->mNumberBuffers).back();
    EXPECT_EQ(second.mDataByteSize * 10 + *static_cast<const std::uint8_t*>(second.mData), 49u);
    EXPECT_FALSE(description->isEqual(PortableFormatDescription(std::nullopt)));
}

TEST(Buffers, ComeBackForTheSameLayoutOnlyOnceLetGoAndFormatsAreShared) {
    PortableMedia media;
    const auto planar = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    EXPECT_EQ(media.makeFormat(pcm(48000, 2, 32, 4, kFloat | kPlanar)), planar) << "one object";
    EXPECT_EQ(media.makeFormat(AudioStreamBasicDescription{}), nullptr) << "still refused";
    const auto data = [](const std::shared_ptr<PCMBuffer>& b) {
        return b->mutableAudioBufferList().mBuffers[0].mData;
    };
    std::set<void*> memory;
    {
        const auto first = media.makePCMBuffer(planar, 480);
        const auto second = media.makePCMBuffer(planar, 480);
        EXPECT_NE(data(second), data(first)) << "never while it is held";
        memory = {data(first), data(second)};
        second->setFrameLength(480);
        second->mutableAudioBufferList().mBuffers[0].mDataByteSize = 7;
        *static_cast<std::uint8_t*>(data(second)) = 7; // what it holds when taken up again
    }
    const auto other =
        media.makePCMBuffer(media.makeFormat(CommonFormat::float32, 48000, 2, true), 4);
    EXPECT_FALSE(memory.count(data(other))) << "never for another layout";
    const auto again = // found past the one just made in first's place, of another layout
        media.makePCMBuffer(media.makeFormat(CommonFormat::float32, 24000, 2, false), 400);
    EXPECT_EQ(*static_cast<std::uint8_t*>(data(again)), 7) << "second's, at another rate";
    EXPECT_EQ(again->mutableAudioBufferList().mBuffers[0].mDataByteSize, 1600u) << "taken up anew";
    // A buffer of more than 1 MiB is a one-off: a new one, zeroed, takes its place.
    for (const auto& [frames, kept] : {std::pair{262144u, 1}, std::pair{262145u, 0}}) {
        const auto int16 = media.makeFormat(CommonFormat::int16, 48000, 1, true);
        *static_cast<std::uint8_t*>(data(media.makePCMBuffer(int16, frames))) = 1;
        EXPECT_EQ(*static_cast<std::uint8_t*>(data(media.makePCMBuffer(int16, frames))), kept);
    }
}

// Interleaved frames cut anywhere come out whole, in planar runs, bit for bit.
TEST(PlanarFrames, KeepAFrameCutAcrossFragmentsWhole) {
    for (const std::uint32_t channels : {2u, 3u}) {
        std::vector<std::uint32_t> words(channels * 500);
        for (std::size_t i = 0; i < words.size(); ++i) {
            words[i] = static_cast<std::uint32_t>(i * 2654435761u);
        }
        pulse::PlanarFrames frames(channels);
        std::vector<std::vector<std::uint32_t>> runs(channels);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(words.data());
        for (std::size_t at = 0, cut = 1; at < words.size() * 4; at += cut, cut = cut % 13 + 1) {
            const std::size_t size = std::min(cut, words.size() * 4 - at);
            const std::size_t whole = frames.wholeFrames(size);
            std::vector<std::uint32_t> out(channels * whole); // the runs back to back
            frames.split(bytes + at, size, reinterpret_cast<std::uint8_t*>(out.data()), whole * 4);
            for (std::uint32_t c = 0; c < channels; ++c) {
                runs[c].insert(runs[c].end(), out.begin() + c * whole,
                               out.begin() + (c + 1) * whole);
            }
        }
        for (std::size_t i = 0; i < words.size(); ++i) {
            ASSERT_EQ(runs[i % channels].at(i / channels), words[i]) << channels << " " << i;
        }
    }
}

// Every version of the two-channel split that the CPU runs moves the words as the plain loop
// does: odd lengths, pointers at every offset, and not a byte written around the runs.
TEST(PlanarFrames, EveryWidthSplitsTwoChannelsWordForWord) {
    std::string ran;
    for (const pulse::StereoSplitter& version : pulse::stereoSplitters()) {
        if (!version.runsHere) {
            continue;
        }
        ran += std::string(ran.empty() ? "" : ", ") + std::string(version.width);
        for (const std::size_t frames : {0, 1, 7, 8, 41, 480, 1031}) {
            for (std::size_t at = 0, to = 5; at < 8; ++at, to = (to + 3) % 8) {
                std::vector<std::uint8_t> in(frames * 8 + 8);
                for (std::size_t i = 0; i < in.size(); ++i) {
                    in[i] = static_cast<std::uint8_t>(i * 131 + frames);
                }
                std::vector<std::uint8_t> wantLeft(frames * 4 + 16, 0xA5), wantRight(wantLeft);
                for (std::size_t i = 0; i < frames * 4; ++i) {
                    wantLeft[to + i] = in[at + i / 4 * 8 + i % 4];
                    wantRight[to + i] = in[at + i / 4 * 8 + 4 + i % 4];
                }
                std::vector<std::uint8_t> left(frames * 4 + 16, 0xA5), right(left);
                version.run(in.data() + at, frames, left.data() + to, right.data() + to);
                EXPECT_EQ(left, wantLeft) << version.width << " frames=" << frames << " at " << at;
                EXPECT_EQ(right, wantRight)
                    << version.width << " frames=" << frames << " at " << at;
            }
        }
    }
    std::printf("[   widths ] two-channel splitting ran as: %s\n", ran.c_str());
}

// One conversion call into a fresh output of `capacity` frames, fed from `stream` for as long as
// the converter asks (then "nothing for now", or the end of the stream when `ends`).
struct Converted {
    ConverterOutputStatus status;
    std::optional<PlatformError> error;
    std::shared_ptr<PCMBuffer> output;
    std::vector<float> channel(std::uint32_t c) const {
        std::vector<float> samples;
        for (std::uint32_t i = 0; i < output->frameLength(); ++i) {
            samples.push_back(output->floatChannelData()[c][i * output->stride()]);
        }
        return samples;
    }
};
Converted convert(AudioConverter& converter, std::shared_ptr<PCMBuffer> output, Stream& stream,
                  bool ends = false) {
    Converted result{ConverterOutputStatus::error, std::nullopt, std::move(output)};
    result.status = converter.convertToBuffer(
        *result.output, result.error, [&](std::uint32_t, ConverterInputStatus& status) {
            status = !stream.empty() ? ConverterInputStatus::haveData
                     : ends          ? ConverterInputStatus::endOfStream
                                     : ConverterInputStatus::noDataNow;
            auto next = stream.empty() ? nullptr : stream.front();
            stream.empty() ? void() : stream.pop_front();
            return next;
        });
    return result;
}

// A PCM buffer in `asbd` holding `bytes`, split evenly over its buffers.
std::shared_ptr<PCMBuffer> bufferOf(PortableMedia& media, const AudioStreamBasicDescription& asbd,
                                    const std::vector<std::uint8_t>& bytes) {
    const std::uint32_t count = (asbd.mFormatFlags & kPlanar) != 0 ? asbd.mChannelsPerFrame : 1;
    const auto frames = static_cast<std::uint32_t>(bytes.size() / asbd.mBytesPerFrame / count);
    auto buffer = media.makePCMBuffer(media.makeFormat(asbd), frames);
    buffer->setFrameLength(frames);
    for (std::uint32_t b = 0; b < count; ++b) {
        std::memcpy(audioBuffers(buffer->mutableAudioBufferList(), count)[b].mData,
                    bytes.data() + b * bytes.size() / count, bytes.size() / count);
    }
    return buffer;
}

template <class T>
std::vector<std::uint8_t> raw(std::vector<T> values) {
    return test::recast<std::uint8_t>(values);
}

TEST(Converter, DecodesEverySampleTypeExactlyAndMapsChannels) {
    constexpr std::uint32_t kSigned = kAudioFormatFlagIsSignedInteger;
    using Samples = std::vector<float>;
    // The source, its bytes, the left channel out, and the right one (none: mono to both sides).
    const std::vector<std::tuple<AudioStreamBasicDescription, std::vector<std::uint8_t>, Samples,
                                 std::optional<Samples>>>
        cases = {
            {pcm(48000, 1, 16, 2, kInt),
             raw<std::int16_t>({-32768, 32767, 1, -1, 16384}),
             {-1.0f, 32767.0f / 32768, 0x1p-15f, -0x1p-15f, 0.5f},
             {}},
            {pcm(48000, 1, 24, 3, kInt),
             {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF},
             {-1.0f, 8388607.0f / 8388608, 0x1p-23f, -0x1p-23f},
             {}},
            {pcm(48000, 1, 24, 4, kSigned),
             raw<std::uint32_t>({0x00800000, 0xFF7FFFFF, 0xAB000001}),
             {-1.0f, 8388607.0f / 8388608, 0x1p-23f},
             {}},
            {pcm(48000, 1, 24, 4, kSigned | kAudioFormatFlagIsAlignedHigh),
             raw<std::uint32_t>({0x80000000, 0x7FFFFF00, 0x000001FF}),
             {-1.0f, 8388607.0f / 8388608, 0x1p-23f},
             {}},
            {pcm(48000, 1, 32, 4, kInt),
             raw<std::int32_t>({INT32_MIN, INT32_MAX, 1, 0x40000000}),
             {-1.0f, 1.0f, 0x1p-31f, 0.5f},
             {}},
            {pcm(48000, 1, 64, 8, kFloat),
             raw<double>({0.5, -0.0, 1e-50, 1e300, -0.75}),
             {0.5f, -0.0f, 0.0f, std::numeric_limits<float>::infinity(), -0.75f},
             {}},
            // More channels keep the first two, whatever the layout and the frame's size.
            {pcm(48000, 2, 32, 4, kFloat), bytesOf({1, 2, 3, 4}), {1, 3}, Samples{2, 4}},
            {pcm(48000, 3, 32, 4, kFloat), bytesOf({1, 2, 3, 4, 5, 6}), {1, 4}, Samples{2, 5}},
            {pcm(48000, 4, 32, 4, kFloat),
             bytesOf({1, 2, 3, 4, 5, 6, 7, 8}),
             {1, 5},
             Samples{2, 6}},
            {pcm(48000, 4, 32, 4, kFloat | kPlanar),
             bytesOf({1, 2, 3, 4, 5, 6, 7, 8}),
             {1, 2},
             Samples{3, 4}},
        };
    PortableMedia media;
    for (const bool interleavedOut : {false, true}) {
        const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, interleavedOut);
        for (const auto& [asbd, bytes, left, right] : cases) {
            Stream stream{bufferOf(media, asbd, bytes)};
            const auto converter = media.makeConverter(stream[0]->format(), target);
            const auto result = convert(*converter, media.makePCMBuffer(target, 64), stream);
            EXPECT_EQ(result.status, ConverterOutputStatus::inputRanDry);
            EXPECT_EQ(bytesOf(result.channel(0)), bytesOf(left)) << asbd.mChannelsPerFrame;
            EXPECT_EQ(bytesOf(result.channel(1)), bytesOf(right.value_or(left)));
        }
    }
}

// An input of 200 frames per call into room for 150, given once as the conversion gives it: the
// converter asks for it even while what it holds fills the output, and what does not fit waits.
TEST(Converter, HoldsBackWhatTheOutputCannotTakeAndLosesNothing) {
    PortableMedia media;
    for (const double rate : {48000.0, 44100.0}) {
        const auto source = pcm(rate, 2, 32, 4, kFloat);
        const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
        const auto converter = media.makeConverter(media.makeFormat(source), target);
        std::vector<float> left;
        for (int call = 0, frame = 0; call < 16; ++call) {
            std::vector<float> frames;
            for (int end = frame + 200; frame < end && call < 10; ++frame) {
                const float value = float(std::sin(2 * M_PI * 440.0 * frame / rate) * 0.5);
                frames.insert(frames.end(), {value, -value});
            }
            Stream once; // what the converter does not ask for in this call is gone
            if (!frames.empty()) {
                once.push_back(bufferOf(media, source, bytesOf(frames)));
            }
            const auto result = convert(*converter, media.makePCMBuffer(target, 150), once);
            const auto got = result.channel(0);
            const auto right = result.channel(1);
            for (std::size_t i = 0; i < got.size(); ++i) {
                ASSERT_EQ(right[i], -got[i]) << i;
            }
            left.insert(left.end(), got.begin(), got.end());
        }
        for (std::size_t i = 0; i < left.size(); ++i) {
            const float ideal = float(std::sin(2 * M_PI * 440.0 * double(i) / 48000) * 0.5);
            ASSERT_NEAR(left[i], ideal, rate == 48000 ? 0 : 0.02) << rate << " " << i;
        }
        // At the same rate every frame is out; a resampler still holds its filter's share.
        ASSERT_NEAR(double(left.size()), 2000 * 48000 / rate - (rate == 48000 ? 0 : 350),
                    rate == 48000 ? 0 : 350);
    }
    // The end of the stream drains the filter: every frame comes out.
    const auto source = pcm(44100, 2, 16, 2, kInt);
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    Stream stream{bufferOf(media, source, std::vector<std::uint8_t>(4410 * 4, 0x10))};
    const auto result = convert(*media.makeConverter(media.makeFormat(source), target),
                                media.makePCMBuffer(target, 10000), stream, true);
    EXPECT_EQ(result.status, ConverterOutputStatus::endOfStream);
    EXPECT_NEAR(double(result.output->frameLength()), 4800, 1);
}

TEST(Converter, RefusesWhatItCannotDoAndReportsEachBrokenContract) {
    PortableMedia media;
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    const auto int16At = [&](double rate) {
        return media.makeFormat(CommonFormat::int16, rate, 2, true);
    };
    EXPECT_EQ(media.makeConverter(target, int16At(48000)), nullptr) << "float output only";
    const auto converter = media.makeConverter(int16At(44100), target);
    auto other = media.makePCMBuffer(int16At(48000), 8);
    other->setFrameLength(8);
    const auto answer = [](ConverterInputStatus given, std::shared_ptr<PCMBuffer> buffer) {
        return [given, buffer](std::uint32_t, ConverterInputStatus& status) {
            status = given;
            return buffer;
        };
    };
    for (const auto& [code, output, block] :
         std::vector<std::tuple<OSStatus, std::shared_ptr<AudioFormat>, ConverterInputBlock>>{
             {kAudioConverterErr_FormatNotSupported,
              media.makeFormat(CommonFormat::float32, 48000, 2, true),
              answer(ConverterInputStatus::noDataNow, nullptr)},
             {kAudioConverterErr_FormatNotSupported, target,
              answer(ConverterInputStatus::haveData, other)},
             {kAudio_ParamError, target, answer(ConverterInputStatus::haveData, nullptr)},
             {kAudio_ParamError, target, answer(static_cast<ConverterInputStatus>(7), nullptr)},
             {kAudio_ParamError, target, ConverterInputBlock()}}) {
        const auto out = media.makePCMBuffer(output, 64);
        out->setFrameLength(5);
        std::optional<PlatformError> error;
        EXPECT_EQ(converter->convertToBuffer(*out, error, block), ConverterOutputStatus::error);
        EXPECT_EQ(error.value_or(PlatformError{}).code, code);
        EXPECT_EQ(out->frameLength(), 0u);
    }
    int asked = 0; // a block that keeps answering empty buffers ends the asking, never spins
    std::optional<PlatformError> error;
    const auto empty = media.makePCMBuffer(int16At(44100), 8);
    EXPECT_EQ(converter->convertToBuffer(*media.makePCMBuffer(target, 64), error,
                                         [&](std::uint32_t, ConverterInputStatus& status) {
                                             status = ConverterInputStatus::haveData;
                                             return ++asked < 100 ? empty : nullptr;
                                         }),
              ConverterOutputStatus::inputRanDry);
    EXPECT_EQ(asked, 1);
}

} // namespace
} // namespace tovanel::platform::portable
