// The portable converter with real signals, called the way the capture path calls it: one input
// buffer per call (the block answers haveData once, then noDataNow), an output buffer of the
// input's share of frames plus 16, never an end of stream. Checked: tone frequency, level and
// continuity across buffer boundaries, frame accounting against the resampler's delay, chunked
// against one-shot output, channel mapping, bit-exact same-rate pass-through, nothing lost when
// the output is too small, integer and double scaling, and the errors it reports.
#include "pcm/sample_conversion.h"
#include "platform/portable/converter.h"
#include "platform/portable/converter_status.h"
#include "platform/portable/media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace tovanel::platform::portable {
namespace {

constexpr double kTargetRate = 48000;
constexpr double kToneHz = 1000;

using Channels = std::vector<std::vector<float>>;

// A source signal as raw bytes, one plane per buffer of its format (one when interleaved).
struct Source {
    std::shared_ptr<AudioFormat> format;
    std::vector<std::vector<std::uint8_t>> planes;
    std::uint32_t frames = 0;

    std::uint32_t bytesPerFrame() const { return format->streamDescription().mBytesPerFrame; }
};

template <class Sample>
void appendSample(std::vector<std::uint8_t>& plane, Sample value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    plane.insert(plane.end(), bytes, bytes + sizeof value);
}

double sine(double amplitude, std::size_t frame, double rate) {
    return amplitude * std::sin(2 * std::numbers::pi * kToneHz * static_cast<double>(frame) / rate);
}

// 1 kHz at 44100 Hz, int16 interleaved stereo: left at half scale, right at a quarter.
Source int16StereoTone(PortableMedia& media, std::uint32_t frames) {
    Source source{media.makeFormat(CommonFormat::int16, 44100, 2, true), {{}}, frames};
    for (std::uint32_t i = 0; i < frames; ++i) {
        appendSample(source.planes[0],
                     static_cast<std::int16_t>(std::lround(sine(16384, i, 44100))));
        appendSample(source.planes[0],
                     static_cast<std::int16_t>(std::lround(sine(8192, i, 44100))));
    }
    return source;
}

// 1 kHz at 24000 Hz, float32 mono at half scale.
Source float32MonoTone(PortableMedia& media, std::uint32_t frames) {
    Source source{media.makeFormat(CommonFormat::float32, 24000, 1, false), {{}}, frames};
    for (std::uint32_t i = 0; i < frames; ++i) {
        appendSample(source.planes[0], static_cast<float>(sine(0.5, i, 24000)));
    }
    return source;
}

// Frames first .. first + count - 1 of the source in a new buffer of its format, or written into
// `reuse` when given (the caller refilling one buffer for every call).
std::shared_ptr<PCMBuffer> slice(PortableMedia& media, const Source& source, std::uint32_t first,
                                 std::uint32_t count, std::shared_ptr<PCMBuffer> reuse = nullptr) {
    auto buffer = reuse ? reuse : media.makePCMBuffer(source.format, count);
    EXPECT_NE(buffer, nullptr);
    buffer->setFrameLength(count);
    auto buffers = audioBuffers(buffer->mutableAudioBufferList(), source.planes.size());
    for (std::size_t p = 0; p < source.planes.size(); ++p) {
        std::memcpy(buffers[p].mData, source.planes[p].data() + first * source.bytesPerFrame(),
                    static_cast<std::size_t>(count) * source.bytesPerFrame());
    }
    return buffer;
}

void appendOutput(PCMBuffer& output, Channels& into) {
    float* const* data = output.floatChannelData();
    ASSERT_NE(data, nullptr);
    const std::uint32_t channels = output.format()->channelCount();
    into.resize(channels);
    for (std::uint32_t c = 0; c < channels; ++c) {
        for (std::uint32_t i = 0; i < output.frameLength(); ++i) {
            float sample;
            std::memcpy(&sample, &data[c][i * output.stride()], sizeof sample);
            into[c].push_back(sample);
        }
    }
}

struct CallResult {
    ConverterOutputStatus status;
    std::optional<PlatformError> error;
    int blockCalls = 0;
    std::uint32_t frames = 0;
};

// One conversion as the capture path makes it. `input` null: the block has nothing at all.
CallResult convertOnce(PortableMedia& media, AudioConverter& converter,
                       std::shared_ptr<PCMBuffer> input, const std::shared_ptr<AudioFormat>& target,
                       std::uint32_t capacity, Channels& output) {
    const auto out = media.makePCMBuffer(target, capacity);
    EXPECT_NE(out, nullptr);
    CallResult result;
    const ConverterInputBlock oneShot = oneShotInput(input);
    result.status = converter.convertToBuffer(
        *out, result.error, [&](std::uint32_t packets, ConverterInputStatus& status) {
            ++result.blockCalls;
            return oneShot(packets, status);
        });
    result.frames = out->frameLength();
    appendOutput(*out, output);
    return result;
}

// The block takes the caller's buffer out of its slot on the first call, so nothing else holds
// it during the conversion, and has nothing for every later call and for an empty slot.
TEST(OneShotInput, HandsTheBufferOverOnceThenHasNothingForNow) {
    PortableMedia media;
    const auto format = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    std::shared_ptr<PCMBuffer> input = media.makePCMBuffer(format, 8);
    const PCMBuffer* const made = input.get();
    const ConverterInputBlock block = oneShotInput(input);
    auto status = ConverterInputStatus::endOfStream;
    EXPECT_EQ(block(512, status).get(), made);
    EXPECT_EQ(status, ConverterInputStatus::haveData);
    EXPECT_EQ(input, nullptr);
    for (int call = 0; call < 2; ++call) {
        status = ConverterInputStatus::endOfStream;
        EXPECT_EQ(block(1, status), nullptr);
        EXPECT_EQ(status, ConverterInputStatus::noDataNow);
    }

    std::shared_ptr<PCMBuffer> none;
    const ConverterInputBlock empty = oneShotInput(none);
    status = ConverterInputStatus::haveData;
    EXPECT_EQ(empty(1, status), nullptr);
    EXPECT_EQ(status, ConverterInputStatus::noDataNow);
}

// The capture path's output capacity: the input's frames at the target rate, truncated, + 16.
std::uint32_t programCapacity(std::uint32_t frames, double sourceRate) {
    return static_cast<std::uint32_t>(frames * (kTargetRate / sourceRate)) + 16;
}

// What the resampler may hold back at any moment, in output frames: libsoxr works in whole
// blocks, and upsampling from 24 kHz holds up to about 1850 frames (under 40 ms).
constexpr double kLargestHeldBack = 2048;

// Feeds the whole source in chunks whose sizes cycle through `pattern`, checking after every
// call that no more than kLargestHeldBack frames are held back. `boundaries` receives the output
// frame at which each call's output begins.
Channels convertInChunks(PortableMedia& media, AudioConverter& converter, const Source& source,
                         const std::shared_ptr<AudioFormat>& target,
                         const std::vector<std::uint32_t>& pattern,
                         std::vector<std::size_t>* boundaries = nullptr) {
    const auto& portable = dynamic_cast<const PortableAudioConverter&>(converter);
    Channels output;
    std::size_t next = 0;
    for (std::uint32_t first = 0; first < source.frames;) {
        const std::uint32_t count =
            std::min(pattern[next++ % pattern.size()], source.frames - first);
        const auto result =
            convertOnce(media, converter, slice(media, source, first, count), target,
                        programCapacity(count, source.format->sampleRate()), output);
        EXPECT_FALSE(result.error) << result.error->description;
        EXPECT_TRUE(result.status == ConverterOutputStatus::haveData ||
                    result.status == ConverterOutputStatus::inputRanDry);
        EXPECT_GE(result.blockCalls, 1);
        EXPECT_LE(portable.heldBackFrames(), kLargestHeldBack);
        if (boundaries != nullptr && !output.empty()) {
            boundaries->push_back(output[0].size() - result.frames);
        }
        first += count;
    }
    return output;
}

// The bits of the first `count` samples (all of them by default).
std::vector<std::uint32_t> bitsOf(const std::vector<float>& samples,
                                  std::size_t count = std::numeric_limits<std::size_t>::max()) {
    std::vector<std::uint32_t> bits(std::min(count, samples.size()));
    if (!bits.empty()) {
        std::memcpy(bits.data(), samples.data(), bits.size() * sizeof(float));
    }
    return bits;
}

// Least-squares fit of a 1 kHz sine (sin, cos and offset) at 48 kHz.
struct SineFit {
    double amplitude = 0;
    double worstResidual = 0; // largest departure of one sample from the fitted tone
};

SineFit fitTone(const std::vector<float>& x, std::size_t begin, std::size_t end) {
    const double w = 2 * std::numbers::pi * kToneHz / kTargetRate;
    double m[3][3] = {}, v[3] = {};
    for (std::size_t n = begin; n < end; ++n) {
        const double basis[3] = {std::sin(w * n), std::cos(w * n), 1.0};
        for (int r = 0; r < 3; ++r) {
            v[r] += basis[r] * x[n];
            for (int c = 0; c < 3; ++c) {
                m[r][c] += basis[r] * basis[c];
            }
        }
    }
    const auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    double k[3];
    for (int unknown = 0; unknown < 3; ++unknown) {
        double replaced[3][3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                replaced[r][c] = c == unknown ? v[r] : m[r][c];
            }
        }
        k[unknown] = det(replaced) / det(m);
    }
    SineFit fit{std::hypot(k[0], k[1]), 0};
    for (std::size_t n = begin; n < end; ++n) {
        const double model = k[0] * std::sin(w * n) + k[1] * std::cos(w * n) + k[2];
        fit.worstResidual = std::max(fit.worstResidual, std::abs(x[n] - model));
    }
    return fit;
}

// Frequency from the first to the last rising zero crossing, interpolated between samples.
double measuredFrequency(const std::vector<float>& x, std::size_t begin, std::size_t end) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t n = begin; n + 1 < end; ++n) {
        if (x[n] < 0 && x[n + 1] >= 0) {
            const double t = n + x[n] / (x[n] - x[n + 1]);
            if (crossings++ == 0) {
                first = t;
            }
            last = t;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * kTargetRate / (last - first);
}

double largestStep(const std::vector<float>& x, std::size_t begin, std::size_t end) {
    double step = 0;
    for (std::size_t n = begin; n + 1 < end; ++n) {
        step = std::max(step, std::abs(static_cast<double>(x[n + 1]) - x[n]));
    }
    return step;
}

// Output frames at the start that the filter's onset rings through; a tone that starts at full
// level is not a band-limited signal there.
constexpr std::size_t kSettleFrames = 2048;

struct ToneCase {
    std::string name;
    bool mono; // the 24 kHz mono float32 tone; otherwise the 44.1 kHz int16 stereo one
    std::vector<std::uint32_t> chunks;
};

class ResampledTone : public ::testing::TestWithParam<ToneCase> {};

TEST_P(ResampledTone, ComesOutAsTheSameToneWholeAndContinuous) {
    PortableMedia media;
    const auto& param = GetParam();
    const Source source = param.mono ? float32MonoTone(media, 36000) // 1.5 s
                                     : int16StereoTone(media, 66150);
    const double rate = source.format->sampleRate();
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);

    const auto converter = media.makeConverter(source.format, target);
    ASSERT_NE(converter, nullptr);
    auto& portable = dynamic_cast<PortableAudioConverter&>(*converter);
    EXPECT_TRUE(portable.resamples());
    std::vector<std::size_t> boundaries;
    const Channels chunked =
        convertInChunks(media, *converter, source, target, param.chunks, &boundaries);
    ASSERT_EQ(chunked.size(), 2u);
    const std::size_t made = chunked[0].size();

    // Every input frame is accounted for: put out, or still held back by the filter.
    const double expected = source.frames * kTargetRate / rate;
    EXPECT_NEAR(static_cast<double>(made) + portable.heldBackFrames(), expected, 1.0);
    ASSERT_GT(made, kSettleFrames + 48000);

    // Chunking changes nothing: bit for bit the frames of one buffer holding everything, as far
    // as both have come (each holds back a different share of the same stream).
    const auto once = media.makeConverter(source.format, target);
    Channels oneShot;
    convertOnce(media, *once, slice(media, source, 0, source.frames), target,
                programCapacity(source.frames, rate), oneShot);
    const std::size_t common = std::min(made, oneShot[0].size());
    EXPECT_GE(static_cast<double>(common), expected - kLargestHeldBack);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(bitsOf(chunked[c], common), bitsOf(oneShot[c], common)) << "channel " << c;
    }

    const double amplitudes[2] = {param.mono ? 0.5 : 16384.0 / 32768,
                                  param.mono ? 0.5 : 8192.0 / 32768};
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c == 0 ? "left" : "right");
        const auto& x = chunked[c];
        EXPECT_NEAR(measuredFrequency(x, kSettleFrames, made), kToneHz, 1.0);
        const SineFit fit = fitTone(x, kSettleFrames, made);
        EXPECT_NEAR(20 * std::log10(fit.amplitude / amplitudes[c]), 0.0, 0.1);
        // A lost, repeated or altered frame departs from the tone by far more than this.
        EXPECT_LT(fit.worstResidual, 2e-3 * amplitudes[c] / 0.5);
        // No step between neighbours larger than the tone's own steepest one, at the buffer
        // boundaries or anywhere else.
        const double ownStep =
            2 * amplitudes[c] * std::sin(std::numbers::pi * kToneHz / kTargetRate);
        EXPECT_LT(largestStep(x, kSettleFrames, made), ownStep * 1.01);
        for (std::size_t boundary : boundaries) {
            if (boundary > kSettleFrames && boundary < made) {
                ASSERT_LT(std::abs(x[boundary] - x[boundary - 1]), ownStep * 1.01)
                    << "at output frame " << boundary;
            }
        }
    }
    if (param.mono) {
        EXPECT_EQ(bitsOf(chunked[0]), bitsOf(chunked[1])) << "mono is the same on both sides";
    }
}

const std::vector<std::uint32_t> kIrregular = {1, 441, 1024, 4410, 7, 333, 2049, 13, 960, 2};

INSTANTIATE_TEST_SUITE_P(Chunks, ResampledTone,
                         ::testing::Values(ToneCase{"StereoInt16By1", false, {1}},
                                           ToneCase{"StereoInt16By441", false, {441}},
                                           ToneCase{"StereoInt16By1024", false, {1024}},
                                           ToneCase{"StereoInt16By4410", false, {4410}},
                                           ToneCase{"StereoInt16Irregular", false, kIrregular},
                                           ToneCase{"MonoFloat32By1", true, {1}},
                                           ToneCase{"MonoFloat32By240", true, {240}},
                                           ToneCase{"MonoFloat32By1024", true, {1024}},
                                           ToneCase{"MonoFloat32By4410", true, {4410}},
                                           ToneCase{"MonoFloat32Irregular", true, kIrregular}),
                         [](const auto& info) { return info.param.name; });

// Six interleaved int16 channels; only the first two may reach the output. The others carry
// other tones at full level, so any leak shows in the fit.
TEST(ChannelMapping, MoreThanTwoChannelsKeepTheFirstTwo) {
    PortableMedia media;
    AudioStreamBasicDescription asbd;
    asbd.mSampleRate = 44100;
    asbd.mFormatID = kAudioFormatLinearPCM;
    asbd.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    asbd.mBytesPerFrame = asbd.mBytesPerPacket = 12;
    asbd.mFramesPerPacket = 1;
    asbd.mChannelsPerFrame = 6;
    asbd.mBitsPerChannel = 16;
    Source source{media.makeFormat(asbd), {{}}, 44100};
    ASSERT_NE(source.format, nullptr);
    for (std::uint32_t i = 0; i < source.frames; ++i) {
        appendSample(source.planes[0],
                     static_cast<std::int16_t>(std::lround(sine(16384, i, 44100))));
        appendSample(source.planes[0],
                     static_cast<std::int16_t>(std::lround(sine(-8192, i, 44100))));
        for (int c = 2; c < 6; ++c) {
            const double other = 32000 * std::sin(2 * std::numbers::pi * 3000 * c * i / 44100.0);
            appendSample(source.planes[0], static_cast<std::int16_t>(std::lround(other)));
        }
    }
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    const auto converter = media.makeConverter(source.format, target);
    ASSERT_NE(converter, nullptr);
    const Channels out = convertInChunks(media, *converter, source, target, {441});
    ASSERT_EQ(out.size(), 2u);
    const SineFit left = fitTone(out[0], kSettleFrames, out[0].size());
    const SineFit right = fitTone(out[1], kSettleFrames, out[1].size());
    EXPECT_NEAR(left.amplitude, 0.5, 0.005);
    EXPECT_NEAR(right.amplitude, 0.25, 0.005);
    EXPECT_LT(left.worstResidual, 2e-3);
    EXPECT_LT(right.worstResidual, 2e-3);
}

TEST(ChannelMapping, SameRateFourChannelsPassTheFirstTwoExactly) {
    PortableMedia media;
    AudioStreamBasicDescription asbd;
    asbd.mSampleRate = kTargetRate;
    asbd.mFormatID = kAudioFormatLinearPCM;
    asbd.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    asbd.mBytesPerFrame = asbd.mBytesPerPacket = 16;
    asbd.mFramesPerPacket = 1;
    asbd.mChannelsPerFrame = 4;
    asbd.mBitsPerChannel = 32;
    Source source{media.makeFormat(asbd), {{}}, 1000};
    Channels expected(2);
    for (std::uint32_t i = 0; i < source.frames; ++i) {
        for (int c = 0; c < 4; ++c) {
            const float sample = static_cast<float>(c + 1) + static_cast<float>(i) / 1024;
            appendSample(source.planes[0], sample);
            if (c < 2) {
                expected[c].push_back(sample);
            }
        }
    }
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    const auto converter = media.makeConverter(source.format, target);
    ASSERT_NE(converter, nullptr);
    const Channels out = convertInChunks(media, *converter, source, target, {480, 7});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(bitsOf(out[0]), bitsOf(expected[0]));
    EXPECT_EQ(bitsOf(out[1]), bitsOf(expected[1]));
}

// Bit patterns no processing may alter: NaNs with payloads (quiet and signalling), infinities,
// -0.0, subnormals, the extremes, and plain values.
std::vector<std::uint32_t> awkwardBits(std::size_t count) {
    const std::uint32_t special[] = {0x7FC00000, 0xFFC00001, 0x7F800001, 0x7FBFFFFF, 0x7F800000,
                                     0xFF800000, 0x80000000, 0x00000000, 0x00000001, 0x807FFFFF,
                                     0x7F7FFFFF, 0xFF7FFFFF, 0x3F800000, 0x3F733333, 0xBF4CCCCD};
    std::vector<std::uint32_t> bits(count);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525 + 1013904223;
        bits[i] = i % 3 == 0 ? special[(i / 3) % std::size(special)] : state;
    }
    return bits;
}

struct PassCase {
    std::string name;
    bool sourceInterleaved;
    bool targetInterleaved;
};

class SameRatePassThrough : public ::testing::TestWithParam<PassCase> {};

TEST_P(SameRatePassThrough, FloatStereoAt48kPassesBitForBit) {
    PortableMedia media;
    const auto& param = GetParam();
    constexpr std::uint32_t kFrames = 9600;
    const auto left = awkwardBits(kFrames);
    auto right = awkwardBits(kFrames + 7);
    right.erase(right.begin(), right.begin() + 7);
    Source source{media.makeFormat(CommonFormat::float32, kTargetRate, 2, param.sourceInterleaved),
                  {},
                  kFrames};
    source.planes.resize(param.sourceInterleaved ? 1 : 2);
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        if (param.sourceInterleaved) {
            appendSample(source.planes[0], left[i]);
            appendSample(source.planes[0], right[i]);
        } else {
            appendSample(source.planes[0], left[i]);
            appendSample(source.planes[1], right[i]);
        }
    }
    const auto target =
        media.makeFormat(CommonFormat::float32, kTargetRate, 2, param.targetInterleaved);
    const auto converter = media.makeConverter(source.format, target);
    ASSERT_NE(converter, nullptr);
    auto& portable = dynamic_cast<PortableAudioConverter&>(*converter);
    EXPECT_FALSE(portable.resamples());

    Channels out;
    std::uint32_t first = 0;
    for (std::uint32_t count : {1u, 480u, 7u, 4096u, 253u, 4763u}) {
        const auto result = convertOnce(media, *converter, slice(media, source, first, count),
                                        target, programCapacity(count, kTargetRate), out);
        EXPECT_FALSE(result.error);
        // No delay at the same rate: every frame comes out in the call that brought it.
        EXPECT_EQ(result.frames, count);
        EXPECT_EQ(result.status, ConverterOutputStatus::inputRanDry);
        EXPECT_EQ(portable.heldBackFrames(), 0);
        first += count;
    }
    ASSERT_EQ(first, kFrames);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(bitsOf(out[0]), left);
    EXPECT_EQ(bitsOf(out[1]), right);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SameRatePassThrough,
                         ::testing::Values(PassCase{"InterleavedToPlanar", true, false},
                                           PassCase{"PlanarToPlanar", false, false},
                                           PassCase{"PlanarToInterleaved", false, true},
                                           PassCase{"InterleavedToInterleaved", true, true}),
                         [](const auto& info) { return info.param.name; });

// An output buffer smaller than what each call makes: the rest waits for the next call. The
// caller refills (and first scribbles over) one input buffer for every call, so frames held back
// must have been copied. Afterwards, calls with no input drain the backlog.
class SmallOutput : public ::testing::TestWithParam<bool> {};

TEST_P(SmallOutput, LosesAndRepeatsNothing) {
    PortableMedia media;
    const bool resampling = GetParam();
    const Source source = resampling ? int16StereoTone(media, 44100) : [&] {
        Source s{media.makeFormat(CommonFormat::float32, kTargetRate, 2, true), {{}}, 48000};
        for (std::uint32_t i = 0; i < 2 * s.frames; ++i) {
            appendSample(s.planes[0], static_cast<float>(i));
        }
        return s;
    }();
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    constexpr std::uint32_t kChunk = 441;
    constexpr std::uint32_t kCapacity = 300; // a call makes about 480

    const auto converter = media.makeConverter(source.format, target);
    ASSERT_NE(converter, nullptr);
    Channels out;
    auto input = media.makePCMBuffer(source.format, kChunk);
    for (std::uint32_t first = 0; first < source.frames; first += kChunk) {
        const std::uint32_t count = std::min(kChunk, source.frames - first);
        for (AudioBuffer& b : audioBuffers(input->mutableAudioBufferList(), source.planes.size())) {
            std::memset(b.mData, 0xFF, b.mDataByteSize);
        }
        const auto result = convertOnce(
            media, *converter, slice(media, source, first, count, input), target, kCapacity, out);
        ASSERT_FALSE(result.error);
        EXPECT_GE(result.blockCalls, 1) << "the input of every call is taken";
        if (result.frames == kCapacity) {
            EXPECT_EQ(result.status, ConverterOutputStatus::haveData);
        } else {
            EXPECT_EQ(result.status, ConverterOutputStatus::inputRanDry);
        }
    }
    for (int call = 0; call < 10000; ++call) {
        const auto result = convertOnce(media, *converter, nullptr, target, kCapacity, out);
        ASSERT_FALSE(result.error);
        if (result.frames < kCapacity) {
            EXPECT_EQ(result.status, ConverterOutputStatus::inputRanDry);
            break;
        }
        EXPECT_EQ(result.status, ConverterOutputStatus::haveData);
    }

    const auto once = media.makeConverter(source.format, target);
    Channels oneShot;
    convertOnce(media, *once, slice(media, source, 0, source.frames), target,
                programCapacity(source.frames, source.format->sampleRate()), oneShot);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_GT(oneShot[0].size(), 40000u);
    EXPECT_EQ(out[0].size(), oneShot[0].size());
    EXPECT_EQ(bitsOf(out[0]), bitsOf(oneShot[0]));
    EXPECT_EQ(bitsOf(out[1]), bitsOf(oneShot[1]));
}

INSTANTIATE_TEST_SUITE_P(Paths, SmallOutput, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Resampling" : "SameRate"; });

// Sample values to 32-bit floats at the same rate: mono in, the same value on both sides out.
struct ScalingCase {
    std::string name;
    AudioStreamBasicDescription asbd;
    std::vector<std::uint8_t> sampleBytes; // little-endian, one sample after another
    std::vector<float> expected;
};

AudioStreamBasicDescription monoDescription(std::uint32_t flags, std::uint32_t bits,
                                            std::uint32_t bytes) {
    AudioStreamBasicDescription asbd;
    asbd.mSampleRate = kTargetRate;
    asbd.mFormatID = kAudioFormatLinearPCM;
    asbd.mFormatFlags = flags;
    asbd.mBytesPerFrame = asbd.mBytesPerPacket = bytes;
    asbd.mFramesPerPacket = 1;
    asbd.mChannelsPerFrame = 1;
    asbd.mBitsPerChannel = bits;
    return asbd;
}

template <class T>
std::vector<std::uint8_t> bytesOf(std::initializer_list<T> values) {
    std::vector<std::uint8_t> bytes;
    for (T value : values) {
        appendSample(bytes, value);
    }
    return bytes;
}

class Scaling : public ::testing::TestWithParam<ScalingCase> {};

TEST_P(Scaling, GivesExactlyTheExpectedFloats) {
    PortableMedia media;
    const auto& param = GetParam();
    Source source{media.makeFormat(param.asbd), {param.sampleBytes}, 0};
    ASSERT_NE(source.format, nullptr);
    source.frames =
        static_cast<std::uint32_t>(param.sampleBytes.size() / param.asbd.mBytesPerFrame);
    ASSERT_EQ(source.frames, param.expected.size());
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    const auto converter = media.makeConverter(source.format, target);
    ASSERT_NE(converter, nullptr);
    Channels out;
    convertOnce(media, *converter, slice(media, source, 0, source.frames), target,
                programCapacity(source.frames, kTargetRate), out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(bitsOf(out[0]), bitsOf(param.expected));
    EXPECT_EQ(bitsOf(out[1]), bitsOf(param.expected));
}

constexpr std::uint32_t kSigned = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, Scaling,
    ::testing::Values(
        ScalingCase{"Int16",
                    monoDescription(kSigned, 16, 2),
                    bytesOf<std::int16_t>({-32768, 32767, 0, 1, -1, 16384}),
                    {-1.0f, 32767.0f / 32768, 0.0f, 0x1p-15f, -0x1p-15f, 0.5f}},
        ScalingCase{"Int24Packed",
                    monoDescription(kSigned, 24, 3),
                    {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00,
                     0x00, 0x40},
                    {-1.0f, 8388607.0f / 8388608, 0x1p-23f, -0x1p-23f, 0.5f}},
        // The high byte of a low-aligned 24-bit sample is not part of it.
        ScalingCase{"Int24AlignedLow",
                    monoDescription(kAudioFormatFlagIsSignedInteger, 24, 4),
                    bytesOf<std::uint32_t>({0x00800000, 0xFF7FFFFF, 0x00000001, 0xFFFFFFFF}),
                    {-1.0f, 8388607.0f / 8388608, 0x1p-23f, -0x1p-23f}},
        ScalingCase{
            "Int24AlignedHigh",
            monoDescription(kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh, 24, 4),
            bytesOf<std::uint32_t>({0x80000000, 0x7FFFFF00, 0x000001FF, 0xFFFFFF00}),
            {-1.0f, 8388607.0f / 8388608, 0x1p-23f, -0x1p-23f}},
        // 2147483647 / 2^31 is nearer to 1.0f than to any float below it.
        ScalingCase{"Int32",
                    monoDescription(kSigned, 32, 4),
                    bytesOf<std::int32_t>({std::numeric_limits<std::int32_t>::min(),
                                           std::numeric_limits<std::int32_t>::max(), 1, -1,
                                           0x40000000, 0x00000100}),
                    {-1.0f, 1.0f, 0x1p-31f, -0x1p-31f, 0.5f, 0x1p-23f}},
        ScalingCase{"Float64",
                    monoDescription(kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 64, 8),
                    bytesOf<double>({0.5, -0.0, 0.1, 1e-50, 1e300, -1e300, -0.75}),
                    {0.5f, -0.0f, 0.1f, 0.0f, kInf, -kInf, -0.75f}}),
    [](const auto& info) { return info.param.name; });

TEST(Float64Scaling, NaNStaysNaN) {
    PortableMedia media;
    Source source{media.makeFormat(CommonFormat::float64, kTargetRate, 1, false),
                  {bytesOf<double>({std::numeric_limits<double>::quiet_NaN()})},
                  1};
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    const auto converter = media.makeConverter(source.format, target);
    ASSERT_NE(converter, nullptr);
    Channels out;
    convertOnce(media, *converter, slice(media, source, 0, 1), target, 17, out);
    ASSERT_EQ(out.size(), 2u);
    ASSERT_EQ(out[0].size(), 1u);
    EXPECT_TRUE(std::isnan(out[0][0]));
}

// The end of the stream drains the filter: every input frame comes out.
TEST(EndOfStream, DeliversWhatTheFilterHeldThenReportsTheEnd) {
    PortableMedia media;
    const Source source = int16StereoTone(media, 4410);
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    const auto converter = media.makeConverter(source.format, target);
    ASSERT_NE(converter, nullptr);
    const auto input = slice(media, source, 0, source.frames);
    const auto output = media.makePCMBuffer(target, 10000);
    int calls = 0;
    std::optional<PlatformError> error;
    const auto status = converter->convertToBuffer(
        *output, error, [&](std::uint32_t, ConverterInputStatus& status) {
            status =
                calls++ == 0 ? ConverterInputStatus::haveData : ConverterInputStatus::endOfStream;
            return calls == 1 ? input : nullptr;
        });
    EXPECT_FALSE(error);
    EXPECT_EQ(status, ConverterOutputStatus::endOfStream);
    EXPECT_NEAR(static_cast<double>(output->frameLength()), 4800, 1);
}

struct ErrorCase {
    std::string name;
    OSStatus code;
    // Makes the call go wrong: a different output format, or a block that misbehaves.
    bool wrongOutput;
    std::function<std::shared_ptr<PCMBuffer>(PortableMedia&, ConverterInputStatus&)> block;
};

class ConverterError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ConverterError, IsReportedWithItsCallCodeAndText) {
    PortableMedia media;
    const auto source = media.makeFormat(CommonFormat::int16, 44100, 2, true);
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    const auto converter = media.makeConverter(source, target);
    ASSERT_NE(converter, nullptr);
    const auto output = media.makePCMBuffer(
        GetParam().wrongOutput ? media.makeFormat(CommonFormat::float32, kTargetRate, 2, true)
                               : target,
        64);
    output->setFrameLength(5);
    std::optional<PlatformError> error;
    const auto status = converter->convertToBuffer(
        *output, error, [&](std::uint32_t, ConverterInputStatus& status) {
            return GetParam().block(media, status);
        });
    EXPECT_EQ(status, ConverterOutputStatus::error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->call, "convertToBuffer");
    EXPECT_EQ(error->code, GetParam().code);
    EXPECT_FALSE(error->description.empty());
    EXPECT_EQ(output->frameLength(), 0u);
}

// Formats and buffers of another backend, here describing exactly what the portable ones do.
class ForeignFormat final : public AudioFormat {
  public:
    explicit ForeignFormat(const AudioFormat& like) : like_(like.streamDescription()) {}
    const AudioStreamBasicDescription& streamDescription() const override { return like_; }
    CommonFormat commonFormat() const override { return CommonFormat::float32; }
    double sampleRate() const override { return like_.mSampleRate; }
    std::uint32_t channelCount() const override { return like_.mChannelsPerFrame; }
    bool isInterleaved() const override { return false; }
    bool isEqual(const AudioFormat&) const override { return false; }

  private:
    AudioStreamBasicDescription like_;
};

class ForeignBuffer final : public PCMBuffer {
  public:
    explicit ForeignBuffer(std::shared_ptr<PCMBuffer> like) : like_(std::move(like)) {}
    const std::shared_ptr<AudioFormat>& format() const override { return like_->format(); }
    std::uint32_t frameCapacity() const override { return like_->frameCapacity(); }
    std::uint32_t frameLength() const override { return like_->frameLength(); }
    void setFrameLength(std::uint32_t frames) override { like_->setFrameLength(frames); }
    AudioBufferList& mutableAudioBufferList() override { return like_->mutableAudioBufferList(); }
    float* const* floatChannelData() override { return like_->floatChannelData(); }
    std::uint32_t stride() const override { return like_->stride(); }

  private:
    std::shared_ptr<PCMBuffer> like_;
};

// Another backend's objects are refused, however well they pass for ours: never guessed at.
TEST(AnotherBackendsObjects, AreRefusedNotGuessedAt) {
    PortableMedia media;
    const auto source = media.makeFormat(CommonFormat::float32, kTargetRate, 2, true);
    const auto target = media.makeFormat(CommonFormat::float32, kTargetRate, 2, false);
    const std::shared_ptr<AudioFormat> foreign = std::make_shared<ForeignFormat>(*target);

    EXPECT_EQ(media.makePCMBuffer(foreign, 64), nullptr);
    EXPECT_EQ(media.makeConverter(foreign, target), nullptr);
    EXPECT_EQ(media.makeConverter(source, foreign), nullptr);
    EXPECT_FALSE(target->isEqual(*foreign));

    const auto converter = media.makeConverter(source, target);
    ASSERT_NE(converter, nullptr);
    const auto noInput = [](std::uint32_t, ConverterInputStatus& status) {
        status = ConverterInputStatus::noDataNow;
        return std::shared_ptr<PCMBuffer>();
    };
    ForeignBuffer output(media.makePCMBuffer(target, 64));
    std::optional<PlatformError> error;
    EXPECT_EQ(converter->convertToBuffer(output, error, noInput), ConverterOutputStatus::error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kAudioConverterErr_FormatNotSupported);

    auto input = media.makePCMBuffer(source, 8);
    input->setFrameLength(8);
    const auto foreignInput = [&](std::uint32_t, ConverterInputStatus& status) {
        status = ConverterInputStatus::haveData;
        return std::shared_ptr<PCMBuffer>(std::make_shared<ForeignBuffer>(input));
    };
    const auto ownOutput = media.makePCMBuffer(target, 64);
    error.reset();
    EXPECT_EQ(converter->convertToBuffer(*ownOutput, error, foreignInput),
              ConverterOutputStatus::error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kAudioConverterErr_FormatNotSupported);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ConverterError,
    ::testing::Values(ErrorCase{"OutputInAnotherFormat", kAudioConverterErr_FormatNotSupported,
                                true,
                                [](PortableMedia&, ConverterInputStatus& status) {
                                    status = ConverterInputStatus::noDataNow;
                                    return std::shared_ptr<PCMBuffer>();
                                }},
                      ErrorCase{"InputInAnotherFormat", kAudioConverterErr_FormatNotSupported,
                                false,
                                [](PortableMedia& media, ConverterInputStatus& status) {
                                    status = ConverterInputStatus::haveData;
                                    auto buffer = media.makePCMBuffer(
                                        media.makeFormat(CommonFormat::int16, 48000, 2, true), 8);
                                    buffer->setFrameLength(8);
                                    return buffer;
                                }},
                      ErrorCase{"DataAnnouncedWithoutABuffer", kAudio_ParamError, false,
                                [](PortableMedia&, ConverterInputStatus& status) {
                                    status = ConverterInputStatus::haveData;
                                    return std::shared_ptr<PCMBuffer>();
                                }},
                      ErrorCase{"UnknownInputStatus", kAudio_ParamError, false,
                                [](PortableMedia&, ConverterInputStatus& status) {
                                    status = static_cast<ConverterInputStatus>(7);
                                    return std::shared_ptr<PCMBuffer>();
                                }}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace tovanel::platform::portable
