// sanitizedInterleavedFloatPCM: bit-exact results for every class of value, every length and
// alignment, compared with a plain scalar reference.
#include "pcm/sanitize.h"
#include "reference_sanitize.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace tovanel {
namespace {

using test::randomPatternFromEveryClass;
using test::referenceSanitized;

using Bytes = std::vector<std::uint8_t>;

Bytes blockOf(const std::vector<std::uint32_t>& samples) {
    Bytes block(samples.size() * 4);
    if (!block.empty()) {
        std::memcpy(block.data(), samples.data(), block.size());
    }
    return block;
}

std::vector<std::uint32_t> samplesOf(const ByteBlock& block) {
    std::vector<std::uint32_t> samples(block.size() / 4);
    if (!samples.empty()) {
        std::memcpy(samples.data(), block.data(), samples.size() * 4);
    }
    return samples;
}

std::uint32_t sanitizedOne(std::uint32_t bits) {
    const auto result = sanitizedInterleavedFloatPCM(blockOf({bits}));
    EXPECT_EQ(result.size(), 4u);
    return samplesOf(result).at(0);
}

std::uint32_t bitsOf(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

struct ValueCase {
    const char* name;
    std::uint32_t input;
    std::uint32_t expected;
};

class SanitizedValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(SanitizedValue, IsExactlyTheExpectedBits) {
    EXPECT_EQ(sanitizedOne(GetParam().input), GetParam().expected)
        << std::hex << "input 0x" << GetParam().input;
}

constexpr std::uint32_t kUpper = kUpperSampleBoundBits;
constexpr std::uint32_t kLower = kLowerSampleBoundBits;

INSTANTIATE_TEST_SUITE_P(
    EdgeValues, SanitizedValue,
    ::testing::Values(
        ValueCase{"QuietNaN", 0x7FC00000, 0}, ValueCase{"NegativeQuietNaN", 0xFFC00000, 0},
        ValueCase{"SignallingNaN", 0x7F800001, 0},
        ValueCase{"NegativeSignallingNaN", 0xFF800001, 0},
        ValueCase{"NaNWithFullPayload", 0x7FFFFFFF, 0},
        ValueCase{"NegativeNaNWithFullPayload", 0xFFFFFFFF, 0},
        ValueCase{"PositiveInfinity", 0x7F800000, 0}, ValueCase{"NegativeInfinity", 0xFF800000, 0},
        ValueCase{"One", bitsOf(1.0f), kUpper}, ValueCase{"PointNineSix", bitsOf(0.96f), kUpper},
        ValueCase{"LargestFinite", bitsOf(std::numeric_limits<float>::max()), kUpper},
        ValueCase{"MinusOne", bitsOf(-1.0f), kLower}, ValueCase{"MinusTwo", bitsOf(-2.0f), kLower},
        ValueCase{"MostNegativeFinite", bitsOf(std::numeric_limits<float>::lowest()), kLower},
        ValueCase{"JustAboveUpperBound", kUpper + 1, kUpper},
        ValueCase{"JustBelowLowerBound", kLower + 1, kLower},
        ValueCase{"UpperBound", kUpper, kUpper}, ValueCase{"LowerBound", kLower, kLower},
        ValueCase{"JustInsideUpperBound", kUpper - 1, kUpper - 1},
        ValueCase{"JustInsideLowerBound", kLower - 1, kLower - 1},
        ValueCase{"Half", bitsOf(0.5f), bitsOf(0.5f)},
        ValueCase{"PositiveZero", 0x00000000, 0x00000000},
        ValueCase{"NegativeZero", 0x80000000, 0x80000000},
        ValueCase{"SmallestSubnormal", 0x00000001, 0x00000001},
        ValueCase{"NegativeSubnormal", 0x80000001, 0x80000001},
        ValueCase{"LargestSubnormal", 0x007FFFFF, 0x007FFFFF},
        ValueCase{"SmallestNormal", 0x00800000, 0x00800000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SanitizedBlock, BoundsAreTheExactBinary32Values) {
    EXPECT_EQ(std::bit_cast<float>(kUpperSampleBoundBits), 0.95f);
    EXPECT_EQ(std::bit_cast<float>(kLowerSampleBoundBits), -0.95f);
}

TEST(SanitizedBlock, LengthIsCutToWholeSamples) {
    for (std::size_t length : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 11u, 12u}) {
        Bytes input(length, 0x11);
        EXPECT_EQ(sanitizedInterleavedFloatPCM(input).size(), length / 4 * 4) << length;
    }
}

TEST(SanitizedBlock, NineBytesKeepTheTwoWholeSamplesSanitised) {
    Bytes input = blockOf({bitsOf(2.0f), 0x7FC00000});
    input.push_back(0xAB);
    EXPECT_EQ(samplesOf(sanitizedInterleavedFloatPCM(input)),
              (std::vector<std::uint32_t>{kUpper, 0}));
}

TEST(SanitizedBlock, LeavesItsInputUnchanged) {
    const Bytes original = blockOf({0x7F800000, bitsOf(3.0f), bitsOf(0.25f)});
    Bytes input = original;
    (void)sanitizedInterleavedFloatPCM(input);
    EXPECT_EQ(input, original);
}

TEST(SanitizedBlock, MatchesTheReferenceAtEveryAlignmentAndLength) {
    std::mt19937 random(20261206);
    for (std::size_t samples : {0u, 1u, 3u, 7u, 253u, 9600u}) {
        std::vector<std::uint32_t> values(samples);
        for (auto& value : values) {
            value = randomPatternFromEveryClass(random);
        }
        for (std::size_t offset = 0; offset < 16; ++offset) {
            // Place the samples `offset` bytes into a larger buffer, so the input is misaligned.
            std::vector<std::uint8_t> storage(offset + samples * 4 + 3);
            if (samples > 0) {
                std::memcpy(storage.data() + offset, values.data(), samples * 4);
            }
            const std::span<const std::uint8_t> input(storage.data() + offset, samples * 4);

            const auto samplesOut = samplesOf(sanitizedInterleavedFloatPCM(input));
            ASSERT_EQ(samplesOut.size(), samples);
            for (std::size_t i = 0; i < samples; ++i) {
                ASSERT_EQ(samplesOut[i], referenceSanitized(values[i]))
                    << "offset " << offset << " sample " << i << std::hex << " input 0x"
                    << values[i];
            }
        }
        // The form that sanitises a block it is given, in that block's own memory.
        ByteBlock owned(blockOf(values));
        const std::uint8_t* const memory = owned.data();
        const ByteBlock inPlace = sanitizedInterleavedFloatPCM(std::move(owned));
        EXPECT_EQ(inPlace.data(), memory) << samples;
        const auto samplesInPlace = samplesOf(inPlace);
        ASSERT_EQ(samplesInPlace.size(), samples);
        for (std::size_t i = 0; i < samples; ++i) {
            ASSERT_EQ(samplesInPlace[i], referenceSanitized(values[i]))
                << "in place, sample " << i << std::hex << " input 0x" << values[i];
        }
    }
}

TEST(SanitizedBlock, GivenBlockWithAPartialSampleLosesItAndKeepsTheRest) {
    for (std::size_t extra : {1u, 2u, 3u}) {
        Bytes input = blockOf({bitsOf(2.0f), 0x7FC00000, bitsOf(-0.5f)});
        input.insert(input.end(), extra, 0xAB);
        EXPECT_EQ(samplesOf(sanitizedInterleavedFloatPCM(ByteBlock(input))),
                  (std::vector<std::uint32_t>{kUpper, 0, bitsOf(-0.5f)}))
            << extra;
    }
}

TEST(SanitizedBlock, AppliedTwiceGivesTheSameBytes) {
    std::mt19937 random(7);
    std::vector<std::uint32_t> values(4099);
    for (auto& value : values) {
        value = randomPatternFromEveryClass(random);
    }
    Bytes input = blockOf(values);
    input.push_back(1); // a trailing partial sample, dropped by the first pass
    const ByteBlock once = sanitizedInterleavedFloatPCM(input);
    EXPECT_EQ(sanitizedInterleavedFloatPCM(once), once);
}

TEST(SanitizedBlock, EveryOutputSampleIsFiniteAndWithinBounds) {
    std::mt19937 random(99);
    std::vector<std::uint32_t> values(100000);
    for (auto& value : values) {
        value = randomPatternFromEveryClass(random);
    }
    for (std::uint32_t bits : samplesOf(sanitizedInterleavedFloatPCM(blockOf(values)))) {
        const float x = std::bit_cast<float>(bits);
        ASSERT_TRUE(std::isfinite(x));
        ASSERT_LE(x, 0.95f);
        ASSERT_GE(x, -0.95f);
    }
}

} // namespace
} // namespace tovanel

namespace tovanel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ByteBlockValue, CopiesAreIndependentAndMovesLeaveAnEmptyBlock) {
    const Bytes bytes{1, 2, 3, 4, 5};
    ByteBlock original{std::span<const std::uint8_t>(bytes)};
    ByteBlock copy = original;
    copy.data()[0] = 9;
    EXPECT_EQ(original.bytes()[0], 1);
    EXPECT_FALSE(copy == original);

    ByteBlock moved = std::move(original);
    EXPECT_EQ(moved.size(), 5u);
    EXPECT_TRUE(
        original.empty()); // NOLINT(bugprone-use-after-move): the moved-from state is defined
    EXPECT_EQ(ByteBlock(), ByteBlock::forOverwrite(0));
    EXPECT_EQ((ByteBlock{1, 2}), ByteBlock(std::span<const std::uint8_t>(bytes).first(2)));
}

} // namespace
} // namespace tovanel
