// Portable audio formats: which stream descriptions become formats (and with what common format,
// layout and channels), which are refused without harm, which rates still allow a converter, the
// common-format initialiser and functional equality.
#include "platform/portable/media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace tovanel::platform::portable {
namespace {

constexpr std::uint32_t kFloat = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
constexpr std::uint32_t kInt = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
constexpr std::uint32_t kPlanar = kAudioFormatFlagIsNonInterleaved;

// A consistent linear PCM description: `sampleBytes` bytes per sample, sized for its layout.
AudioStreamBasicDescription pcm(double rate, std::uint32_t channels, std::uint32_t bits,
                                std::uint32_t sampleBytes, std::uint32_t flags) {
    AudioStreamBasicDescription asbd;
    asbd.mSampleRate = rate;
    asbd.mFormatID = kAudioFormatLinearPCM;
    asbd.mFormatFlags = flags;
    asbd.mBytesPerFrame = (flags & kPlanar) != 0 ? sampleBytes : sampleBytes * channels;
    asbd.mBytesPerPacket = asbd.mBytesPerFrame;
    asbd.mFramesPerPacket = 1;
    asbd.mChannelsPerFrame = channels;
    asbd.mBitsPerChannel = bits;
    return asbd;
}

struct AcceptedCase {
    std::string name;
    AudioStreamBasicDescription asbd;
    CommonFormat common;
};

class AcceptedDescription : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedDescription, BecomesAFormatThatDescribesIt) {
    PortableMedia media;
    const auto& param = GetParam();
    const auto format = media.makeFormat(param.asbd);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->commonFormat(), param.common);
    EXPECT_EQ(format->channelCount(), param.asbd.mChannelsPerFrame);
    EXPECT_EQ(format->isInterleaved(), (param.asbd.mFormatFlags & kPlanar) == 0);
    EXPECT_EQ(format->sampleRate(), param.asbd.mSampleRate);
    EXPECT_EQ(format->streamDescription(), param.asbd);
}

INSTANTIATE_TEST_SUITE_P(
    EverySupportedKind, AcceptedDescription,
    ::testing::Values(
        AcceptedCase{"Int16Interleaved", pcm(44100, 2, 16, 2, kInt), CommonFormat::int16},
        AcceptedCase{"Int16Planar", pcm(44100, 2, 16, 2, kInt | kPlanar), CommonFormat::int16},
        AcceptedCase{"Int24Packed", pcm(96000, 2, 24, 3, kInt), CommonFormat::other},
        AcceptedCase{"Int24PackedPlanar", pcm(96000, 2, 24, 3, kInt | kPlanar),
                     CommonFormat::other},
        AcceptedCase{"Int24InFourBytesLow", pcm(48000, 2, 24, 4, kAudioFormatFlagIsSignedInteger),
                     CommonFormat::other},
        AcceptedCase{
            "Int24InFourBytesHigh",
            pcm(48000, 2, 24, 4, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh),
            CommonFormat::other},
        AcceptedCase{"Int32Interleaved", pcm(48000, 2, 32, 4, kInt), CommonFormat::int32},
        AcceptedCase{"Int32Planar", pcm(48000, 2, 32, 4, kInt | kPlanar), CommonFormat::int32},
        AcceptedCase{"Float32Interleaved", pcm(48000, 2, 32, 4, kFloat), CommonFormat::float32},
        AcceptedCase{"Float32Planar", pcm(48000, 2, 32, 4, kFloat | kPlanar),
                     CommonFormat::float32},
        AcceptedCase{"Float64Interleaved", pcm(48000, 2, 64, 8, kFloat), CommonFormat::float64},
        AcceptedCase{"Float64Planar", pcm(48000, 2, 64, 8, kFloat | kPlanar),
                     CommonFormat::float64},
        AcceptedCase{"PackedFlagLeftOut", pcm(48000, 2, 16, 2, kAudioFormatFlagIsSignedInteger),
                     CommonFormat::int16},
        AcceptedCase{"Mono", pcm(24000, 1, 32, 4, kFloat), CommonFormat::float32},
        AcceptedCase{"SixChannels", pcm(48000, 6, 16, 2, kInt), CommonFormat::int16},
        AcceptedCase{"SixtyFourChannelsInterleaved", pcm(48000, 64, 32, 4, kFloat),
                     CommonFormat::float32},
        AcceptedCase{"SixtyFourChannelsPlanar", pcm(48000, 64, 32, 4, kFloat | kPlanar),
                     CommonFormat::float32},
        AcceptedCase{"NonMixableFlagIgnored", pcm(48000, 2, 32, 4, kFloat | (1u << 6)),
                     CommonFormat::float32},
        // A rate of 0 still describes a layout, as on Apple; only a converter refuses it.
        AcceptedCase{"RateZero", pcm(0, 2, 32, 4, kFloat), CommonFormat::float32},
        AcceptedCase{"HugeRate", pcm(1e300, 2, 32, 4, kFloat), CommonFormat::float32}),
    [](const auto& info) { return info.param.name; });

struct RejectedCase {
    std::string name;
    AudioStreamBasicDescription asbd;
};

class RejectedDescription : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedDescription, IsRefusedWithNull) {
    PortableMedia media;
    EXPECT_EQ(media.makeFormat(GetParam().asbd), nullptr);
}

AudioStreamBasicDescription with(AudioStreamBasicDescription asbd,
                                 void (*change)(AudioStreamBasicDescription&)) {
    change(asbd);
    return asbd;
}

const AudioStreamBasicDescription kStereoFloat = pcm(48000, 2, 32, 4, kFloat);

INSTANTIATE_TEST_SUITE_P(
    MalformedOrUnsupported, RejectedDescription,
    ::testing::Values(
        RejectedCase{"AllZero", AudioStreamBasicDescription{}},
        RejectedCase{"NotLinearPcm",
                     with(kStereoFloat, [](auto& a) { a.mFormatID = fourCharCode("aac "); })},
        RejectedCase{"ZeroChannels", with(kStereoFloat, [](auto& a) { a.mChannelsPerFrame = 0; })},
        RejectedCase{"SixtyFiveChannels", pcm(48000, 65, 32, 4, kFloat)},
        RejectedCase{"SixtyFiveChannelsPlanar", pcm(48000, 65, 32, 4, kFloat | kPlanar)},
        RejectedCase{"MaxChannelsPlanar", pcm(48000, std::numeric_limits<std::uint32_t>::max(), 32,
                                              4, kFloat | kPlanar)},
        RejectedCase{"MaxChannelsWrappingFrameSize",
                     with(kStereoFloat,
                          [](auto& a) {
                              a.mChannelsPerFrame = 0x40000001; // × 4 bytes wraps to 4
                              a.mBytesPerFrame = a.mBytesPerPacket = 4;
                          })},
        RejectedCase{"ZeroBytesPerFrame",
                     with(kStereoFloat, [](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 0; })},
        RejectedCase{"BytesPerFrameNotAMultipleOfChannels",
                     with(kStereoFloat, [](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 7; })},
        RejectedCase{"BytesPerFrameTooSmall",
                     with(kStereoFloat, [](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 4; })},
        RejectedCase{
            "BytesPerFrameTooLarge",
            with(kStereoFloat, [](auto& a) { a.mBytesPerFrame = a.mBytesPerPacket = 16; })},
        RejectedCase{"BytesPerPacketDiffers",
                     with(kStereoFloat, [](auto& a) { a.mBytesPerPacket = 16; })},
        RejectedCase{"ZeroFramesPerPacket",
                     with(kStereoFloat, [](auto& a) { a.mFramesPerPacket = 0; })},
        RejectedCase{"TwoFramesPerPacket", with(kStereoFloat,
                                                [](auto& a) {
                                                    a.mFramesPerPacket = 2;
                                                    a.mBytesPerPacket = 16;
                                                })},
        RejectedCase{"PlanarSizedAsInterleaved",
                     with(kStereoFloat, [](auto& a) { a.mFormatFlags |= kPlanar; })},
        RejectedCase{"BitsDisagreeWithBytes",
                     with(kStereoFloat, [](auto& a) { a.mBitsPerChannel = 24; })},
        RejectedCase{"ZeroBits", with(kStereoFloat, [](auto& a) { a.mBitsPerChannel = 0; })},
        RejectedCase{"Int8", pcm(48000, 2, 8, 1, kInt)},
        RejectedCase{"Int20InThreeBytes", pcm(48000, 2, 20, 3, kAudioFormatFlagIsSignedInteger)},
        RejectedCase{"Int24InFourBytesMarkedPacked", pcm(48000, 2, 24, 4, kInt)},
        RejectedCase{"Int64", pcm(48000, 2, 64, 8, kInt)},
        RejectedCase{"Float16", pcm(48000, 2, 16, 2, kFloat)},
        RejectedCase{"Float24", pcm(48000, 2, 24, 3, kFloat)},
        RejectedCase{"UnsignedInteger", pcm(48000, 2, 16, 2, kAudioFormatFlagIsPacked)},
        RejectedCase{"FloatAndInteger",
                     pcm(48000, 2, 32, 4, kFloat | kAudioFormatFlagIsSignedInteger)},
        RejectedCase{"BigEndian", pcm(48000, 2, 16, 2, kInt | kAudioFormatFlagIsBigEndian)},
        RejectedCase{"FixedPoint", pcm(48000, 2, 32, 4, kInt | (8u << 7))},
        RejectedCase{"NaNRate", pcm(std::nan(""), 2, 32, 4, kFloat)},
        RejectedCase{"InfiniteRate",
                     pcm(std::numeric_limits<double>::infinity(), 2, 32, 4, kFloat)},
        RejectedCase{"NegativeInfiniteRate",
                     pcm(-std::numeric_limits<double>::infinity(), 2, 32, 4, kFloat)},
        RejectedCase{"NegativeRate", pcm(-44100, 2, 32, 4, kFloat)}),
    [](const auto& info) { return info.param.name; });

// Which rates a converter takes, from either side. libsoxr never returns for some of these, so
// the converter must refuse them before it gets there.
struct RateCase {
    std::string name;
    double rate;
    bool convertible;
};

class ConverterRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(ConverterRate, DecidesWhetherAConverterIsMade) {
    PortableMedia media;
    const auto odd = media.makeFormat(pcm(GetParam().rate, 2, 16, 2, kInt));
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    ASSERT_NE(odd, nullptr);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(media.makeConverter(odd, target) != nullptr, GetParam().convertible);

    // The same rate as the target side of a float conversion.
    const auto from = media.makeFormat(CommonFormat::float32, 44100, 2, true);
    const auto to = media.makeFormat(pcm(GetParam().rate, 2, 32, 4, kFloat | kPlanar));
    ASSERT_NE(to, nullptr);
    EXPECT_EQ(media.makeConverter(from, to) != nullptr, GetParam().convertible);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ConverterRate,
    ::testing::Values(RateCase{"Zero", 0, false}, RateCase{"BelowOneKilohertz", 999, false},
                      RateCase{"OneKilohertz", 1000, true}, RateCase{"Telephone", 8000, true},
                      RateCase{"CD", 44100, true}, RateCase{"Studio", 192000, true},
                      RateCase{"Highest", 1536000, true}, RateCase{"AboveHighest", 1536001, false},
                      RateCase{"Huge", 1e300, false},
                      RateCase{"Largest", std::numeric_limits<double>::max(), false}),
    [](const auto& info) { return info.param.name; });

TEST(Converter, IsMadeOnlyTowardsFloat32) {
    PortableMedia media;
    const auto source = media.makeFormat(CommonFormat::int16, 44100, 2, true);
    EXPECT_NE(media.makeConverter(source, media.makeFormat(CommonFormat::float32, 48000, 2, false)),
              nullptr);
    EXPECT_NE(media.makeConverter(source, media.makeFormat(CommonFormat::float32, 48000, 2, true)),
              nullptr);
    EXPECT_EQ(media.makeConverter(source, media.makeFormat(CommonFormat::int16, 48000, 2, true)),
              nullptr);
    EXPECT_EQ(media.makeConverter(source, media.makeFormat(CommonFormat::float64, 48000, 2, false)),
              nullptr);
    EXPECT_EQ(
        media.makeConverter(nullptr, media.makeFormat(CommonFormat::float32, 48000, 2, false)),
        nullptr);
    EXPECT_EQ(media.makeConverter(source, nullptr), nullptr);
}

struct CommonCase {
    std::string name;
    CommonFormat format;
    std::uint32_t channels;
    bool interleaved;
    AudioStreamBasicDescription expected;
};

class CommonFormatMade : public ::testing::TestWithParam<CommonCase> {};

TEST_P(CommonFormatMade, HasTheCanonicalDescription) {
    PortableMedia media;
    const auto& param = GetParam();
    const auto format = media.makeFormat(param.format, 48000, param.channels, param.interleaved);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->commonFormat(), param.format);
    EXPECT_EQ(format->isInterleaved(), param.interleaved);
    EXPECT_EQ(format->channelCount(), param.channels);
    EXPECT_EQ(format->streamDescription(), param.expected);
    // A description that comes back in is the same format.
    EXPECT_TRUE(media.makeFormat(format->streamDescription())->isEqual(*format));
}

INSTANTIATE_TEST_SUITE_P(
    Supported, CommonFormatMade,
    ::testing::Values(
        CommonCase{"Float32Planar", CommonFormat::float32, 2, false,
                   pcm(48000, 2, 32, 4, kFloat | kPlanar)},
        CommonCase{"Float32Interleaved", CommonFormat::float32, 2, true,
                   pcm(48000, 2, 32, 4, kFloat)},
        CommonCase{"Float64Planar", CommonFormat::float64, 2, false,
                   pcm(48000, 2, 64, 8, kFloat | kPlanar)},
        CommonCase{"Int16Interleaved", CommonFormat::int16, 2, true, pcm(48000, 2, 16, 2, kInt)},
        CommonCase{"Int32Mono", CommonFormat::int32, 1, true, pcm(48000, 1, 32, 4, kInt)}),
    [](const auto& info) { return info.param.name; });

TEST(CommonFormatRefused, OtherNoChannelsBeyondStereoAndBadRates) {
    PortableMedia media;
    EXPECT_EQ(media.makeFormat(CommonFormat::other, 48000, 2, false), nullptr);
    EXPECT_EQ(media.makeFormat(static_cast<CommonFormat>(99), 48000, 2, false), nullptr);
    EXPECT_EQ(media.makeFormat(CommonFormat::float32, 48000, 0, false), nullptr);
    // Like initWithCommonFormat:, nothing beyond stereo without a channel layout.
    EXPECT_EQ(media.makeFormat(CommonFormat::float32, 48000, 3, false), nullptr);
    EXPECT_EQ(media.makeFormat(CommonFormat::float32, std::nan(""), 2, false), nullptr);
    EXPECT_EQ(media.makeFormat(CommonFormat::float32, -48000, 2, false), nullptr);
}

struct EqualityCase {
    std::string name;
    AudioStreamBasicDescription a;
    AudioStreamBasicDescription b;
    bool equal;
};

class FormatEquality : public ::testing::TestWithParam<EqualityCase> {};

TEST_P(FormatEquality, ComparesWhatTheSamplesMean) {
    PortableMedia media;
    const auto a = media.makeFormat(GetParam().a);
    const auto b = media.makeFormat(GetParam().b);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->isEqual(*b), GetParam().equal);
    EXPECT_EQ(b->isEqual(*a), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, FormatEquality,
    ::testing::Values(
        EqualityCase{"Same", kStereoFloat, kStereoFloat, true},
        EqualityCase{"PackedFlagOnlyDiffers", pcm(48000, 2, 16, 2, kInt),
                     pcm(48000, 2, 16, 2, kAudioFormatFlagIsSignedInteger), true},
        EqualityCase{"MonoLayoutsAreTheSameBytes", pcm(48000, 1, 32, 4, kFloat),
                     pcm(48000, 1, 32, 4, kFloat | kPlanar), true},
        EqualityCase{"StereoLayoutsDiffer", kStereoFloat, pcm(48000, 2, 32, 4, kFloat | kPlanar),
                     false},
        EqualityCase{"RateDiffers", kStereoFloat, pcm(44100, 2, 32, 4, kFloat), false},
        EqualityCase{"ChannelsDiffer", kStereoFloat, pcm(48000, 1, 32, 4, kFloat), false},
        EqualityCase{"FloatAgainstInt32", kStereoFloat, pcm(48000, 2, 32, 4, kInt), false},
        EqualityCase{"Float32AgainstFloat64", kStereoFloat, pcm(48000, 2, 64, 8, kFloat), false},
        EqualityCase{"Int24PackedAgainstFourBytes", pcm(48000, 2, 24, 3, kInt),
                     pcm(48000, 2, 24, 4, kAudioFormatFlagIsSignedInteger), false},
        EqualityCase{
            "Int24AlignmentsDiffer", pcm(48000, 2, 24, 4, kAudioFormatFlagIsSignedInteger),
            pcm(48000, 2, 24, 4, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsAlignedHigh),
            false}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace tovanel::platform::portable
