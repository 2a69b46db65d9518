// The PCM path: sanitising bit for bit (its one-pass stereo form at every vector width too), and a
// sample buffer's way to interleaved stereo bytes: target-format branch, converter, every error.
#include "pcm/sample_conversion.h"
#include "pcm/sanitize.h"
#include "sim/sample_buffer.h"
#include "sim/sim_platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

// Fault sets name only the faults they inject.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tovanel {
namespace {

using namespace platform;
using namespace test; // the shared helpers and the stream's bounds

// Input bits and the bits that must come out.
// clang-format off
const std::vector<std::pair<std::uint32_t, std::uint32_t>> kSanitized = {
    {0x7FC00000, 0}, {0xFFC00001, 0}, {0x7F800001, 0}, {0xFFFFFFFF, 0}, // NaNs
    {0x7F800000, 0}, {0xFF800000, 0},                                   // infinities
    {0x3F800000, kHi}, {0x3F75C28F, kHi}, {0x7F7FFFFF, kHi}, {0x3F733334, kHi}, // 1, .96, max
    {0xBF800000, kLo}, {0xC0000000, kLo}, {0xFF7FFFFF, kLo}, {0xBF733334, kLo}, // -1, -2, min
    {0x3F000000, 0x3F000000}, {0, 0}, {0x80000000, 0x80000000}, {1, 1},        // as they are
    {0x80000001, 0x80000001}, {0x807FFFFF, 0x807FFFFF}, {0x3F733333, 0x3F733333}, // bounds
    {0xBF733333, 0xBF733333}, {0x3F733332, 0x3F733332}, {0xBF733332, 0xBF733332},
    {0xBF000000, 0xBF000000},
};
// clang-format on

TEST(Sanitizing, EveryClassOfValueAtEveryPositionAndAlignmentInBothForms) {
    // Long enough for the vector loop and its remainder; each value at many lane positions.
    std::vector<std::uint32_t> in;
    std::vector<std::uint32_t> expected;
    for (std::size_t i = 0; i < 1031; ++i) {
        const auto& [input, output] = kSanitized[(i * 7) % kSanitized.size()];
        in.push_back(input);
        expected.push_back(output);
    }
    std::vector<std::uint8_t> bytes(in.size() * 4 + 1);
    std::memcpy(bytes.data() + 1, in.data(), in.size() * 4); // starts at an odd address
    const std::span<const std::uint8_t> misaligned(bytes.data() + 1, in.size() * 4);
    const ByteBlock copied = sanitizedInterleavedFloatPCM(misaligned);
    EXPECT_EQ(wordsOf({copied.begin(), copied.end()}), expected);
    const ByteBlock inPlace = sanitizedInterleavedFloatPCM(ByteBlock(misaligned));
    EXPECT_EQ(wordsOf({inPlace.begin(), inPlace.end()}), expected);
    EXPECT_EQ(sanitizedInterleavedFloatPCM(inPlace.bytes()), inPlace) << "applying it twice";
    for (const std::size_t length : {0, 1, 3, 9, 10, 11}) { // a trailing partial sample is dropped
        const std::vector<std::uint8_t> beyond(length, 0x7F); // 0x7F7F7F7F: beyond the bound
        EXPECT_EQ(sanitizedInterleavedFloatPCM(beyond).size(), length / 4 * 4);
        const ByteBlock clamped = sanitizedInterleavedFloatPCM(ByteBlock(beyond));
        EXPECT_EQ(clamped.size(), length / 4 * 4);
        EXPECT_EQ(wordsOf({clamped.begin(), clamped.end()}), std::vector(length / 4, kHi));
    }
}

// Every version of the one-pass kernel that the CPU runs gives the bytes of the rule applied to
// the frames interleaved: edge values among random bits, odd lengths, every offset of the three
// pointers (the output's by bytes), and not a byte written around the output.
TEST(Sanitizing, TheOnePassStereoFormMatchesTheRuleAtEveryWidthLengthAndOffset) {
    std::mt19937 random(26);
    std::string ran;
    for (const StereoSanitizer& version : stereoSanitizers()) {
        if (!version.runsHere) {
            continue;
        }
        ran += std::string(ran.empty() ? "" : ", ") + std::string(version.width);
        for (const std::size_t frames : {0, 1, 3, 7, 253, 9600}) {
            for (std::size_t offset = 0; offset < 16; ++offset) {
                std::vector<std::uint32_t> words(2 * frames + 32); // left, then right
                for (auto& word : words) {
                    word = random() % 2 ? kSanitized[random() % kSanitized.size()].first : random();
                }
                const std::size_t right = frames + 16 + (offset * 7) % 16;
                std::vector<std::uint32_t> interleaved;
                for (std::size_t i = 0; i < frames; ++i) {
                    interleaved.insert(interleaved.end(), {words[offset + i], words[right + i]});
                }
                const ByteBlock rule =
                    sanitizedInterleavedFloatPCM(test::recast<std::uint8_t>(interleaved));
                std::vector<std::uint8_t> want(frames * 8 + 32, 0xA5), out(want);
                std::copy(rule.begin(), rule.end(), want.begin() + offset);
                const auto floats = test::recast<float>(words);
                version.run(floats.data() + offset, floats.data() + right, frames,
                            out.data() + offset);
                EXPECT_EQ(out, want) << version.width << " frames=" << frames << " at " << offset;
            }
        }
    }
    std::printf("[   widths ] one-pass stereo sanitising ran as: %s\n", ran.c_str());
}

// A conversion over the simulated platform.
class Conversion : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    ConverterState state;

    std::vector<float> converted(const SampleBuffer& buffer) {
        auto result = convertToTargetPCM(buffer, state);
        const auto* block = std::get_if<ByteBlock>(&result);
        EXPECT_TRUE(block) << localizedDescription(std::get<ConversionError>(result));
        return block ? test::recast<float>(std::vector(block->begin(), block->end()))
                     : std::vector<float>{};
    }
    ConversionError failure(const SampleBuffer& buffer) {
        auto result = convertToTargetPCM(buffer, state);
        EXPECT_TRUE(std::holds_alternative<ConversionError>(result));
        return std::get<ConversionError>(result);
    }
};

std::vector<float> ramp(std::size_t frames, float start) {
    std::vector<float> values(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        values[i] = start + 0.001f * static_cast<float>(i);
    }
    return values;
}

TEST_F(Conversion, TargetFormatAndSameRateLayoutsComeOutAsTheRuleMakesThemWithOrWithoutAConverter) {
    // Awkward bit patterns too: the path moves words, never float values, and sanitises them.
    std::vector<float> left = ramp(480, -0.5f);
    std::vector<float> right = ramp(480, 0.25f);
    left[3] = fromBits(0x7FC01234);
    right[7] = fromBits(0x00000001);
    left[9] = fromBits(0xFF800000);
    std::vector<float> expected;
    for (std::size_t i = 0; i < left.size(); ++i) {
        expected.insert(expected.end(), {left[i], right[i]});
    }
    const ByteBlock sanitized = sanitizedInterleavedFloatPCM(bytesOf(expected));
    expected = test::recast<float>(std::vector(sanitized.begin(), sanitized.end()));
    const auto planar = sim::audioBuffer(sim::pcmFormat(48000, 2, false), {left, right});
    EXPECT_EQ(bytesOf(converted(*planar)), bytesOf(expected));
    EXPECT_EQ(platform.media.convertersMade(), 0) << "the target format needs no converter";
    const auto interleaved = sim::audioBuffer(sim::pcmFormat(48000, 2, true), {left, right});
    EXPECT_EQ(bytesOf(converted(*interleaved)), bytesOf(expected));
    EXPECT_EQ(platform.media.convertersMade(), 1);
    EXPECT_EQ(platform.media.capacities().back(), 496u) << "480 frames plus 16";
}

TEST_F(Conversion, TheConverterIsKeptPerDescriptionAndSkippedForTheTargetFormat) {
    const auto other =
        sim::audioBuffer(sim::pcmFormat(44100, 2, false), {ramp(441, 0), ramp(441, 0)});
    const auto target = sim::audioBuffer(sim::pcmFormat(48000, 2, false), {ramp(8, 0), ramp(8, 0)});
    const auto third =
        sim::audioBuffer(sim::pcmFormat(32000, 2, false), {ramp(320, 0), ramp(320, 0)});
    for (const auto* buffer : {other.get(), target.get(), other.get(), target.get()}) {
        (void)converted(*buffer);
    }
    EXPECT_EQ(platform.media.capacities().at(1), 496u) << "the copy, then the rate's 480 plus 16";
    EXPECT_EQ(platform.media.convertersMade(), 1);
    (void)converted(*third);
    (void)converted(*other);
    EXPECT_EQ(platform.media.convertersMade(), 3);
    platform.media.setFaults({.converter = true});
    EXPECT_EQ(localizedDescription(failure(*third)),
              "The operation couldn\xE2\x80\x99t be completed. (TovanelMacOSCapture.CaptureError "
              "error 5.)");
    platform.media.setFaults({});
    (void)converted(*third); // a failed converter is made again for the next buffer
    EXPECT_EQ(platform.media.convertersMade(), 5);
}

TEST_F(Conversion, NoFramesOrAConverterHoldingEverythingYieldNothingAndNoError) {
    EXPECT_TRUE(converted(*sim::audioBuffer(sim::pcmFormat(48000, 2, false), {{}, {}})).empty());
    platform.media.setFaults({.holdEverything = true});
    const auto buffer =
        sim::audioBuffer(sim::pcmFormat(44100, 2, true), {ramp(441, 0), ramp(441, 0)});
    EXPECT_TRUE(converted(*buffer).empty());
}

TEST_F(Conversion, EveryFailureIsItsOwnCaseWithTheStatusWhereThereIsOne) {
    using Case = CaptureError::Case;
    const auto format = sim::pcmFormat(44100, 2, false);
    struct Fault {
        const char* name;
        std::function<void(sim::SimSampleBuffer&)> apply;
        sim::SimMedia::Faults media;
        CaptureError::Case expected;
        OSStatus status = 0;
    };
    const auto none = [](auto&) {};
    // clang-format off
    const std::vector<Fault> faults = {
        {"no format description", [](auto& b) { b.hasFormatDescription = false; }, {}, Case::missingFormatDescription},
        {"not audio", [](auto& b) { b.description.reset(); }, {}, Case::missingStreamDescription},
        {"big-endian", [](auto& b) { b.description->mFormatFlags |= kAudioFormatFlagIsBigEndian; }, {},
         Case::unsupportedSourceFormat},
        {"size query fails", [](auto& b) { b.sizeStatus = -12731; }, {}, Case::audioBufferListUnavailable, -12731},
        {"size of zero", [](auto& b) { b.sizeNeeded = 0; }, {}, Case::audioBufferListUnavailable},
        {"implausible size", [](auto& b) { b.sizeNeeded = audioBufferListSize(4096) + 1; }, {},
         Case::audioBufferListUnavailable},
        {"fill fails", [](auto& b) { b.fillStatus = -12737; }, {}, Case::audioBufferListUnavailable, -12737},
        {"fewer records than channels", [](auto& b) { b.announcedCount = 1; }, {}, Case::audioBufferListUnavailable},
        {"no data", [](auto& b) { b.nullData = true; }, {}, Case::audioBufferListUnavailable},
        {"more frames than bytes", [](auto& b) { b.frames += 1; }, {}, Case::audioBufferListUnavailable},
        {"negative frames", [](auto& b) { b.frames = -1; }, {}, Case::bufferAllocationFailed},
        {"too many frames", [](auto& b) { b.frames = std::int64_t{1} << 32; }, {}, Case::bufferAllocationFailed},
        {"no target format", none, {.targetFormat = true}, Case::unsupportedTargetFormat},
        {"no converter", none, {.converter = true}, Case::converterUnavailable},
        {"no copy buffer", none, {.pcmBufferCall = 1}, Case::bufferAllocationFailed},
        {"no output buffer", none, {.pcmBufferCall = 2}, Case::bufferAllocationFailed},
    };
    // clang-format on
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        auto buffer = sim::audioBuffer(format, {ramp(441, 0), ramp(441, 0)});
        fault.apply(*buffer);
        platform.media.setFaults(fault.media);
        EXPECT_EQ(std::get<CaptureError>(failure(*buffer)),
                  CaptureError(fault.expected, fault.status));
    }
    const PlatformError converterError{"convertToBuffer", -50, "The converter said no."};
    platform.media.setFaults({.convertError = converterError});
    state = {};
    const auto buffer = sim::audioBuffer(format, {ramp(441, 0), ramp(441, 0)});
    EXPECT_EQ(localizedDescription(failure(*buffer)), "The converter said no.");
}

} // namespace
} // namespace tovanel
