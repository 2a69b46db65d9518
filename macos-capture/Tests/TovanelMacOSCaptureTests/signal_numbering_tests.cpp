// The self-numbering signal and its checker: exact codes, and every kind of fault injected once
// into a synthetic capture is found once, at its place, whatever pieces the stream comes in.
#include "signals/frame_numbering.h"
#include "signals/numbering_checker.h"
#include "signals/raw_pcm.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovanel::signals {
namespace {

using Kind = NumberingFault::Kind;
using Samples = std::vector<float>;

Samples numbered(std::uint32_t start, std::size_t frames) {
    return NumberedSignalGenerator(start).next(frames);
}

Samples silence(std::size_t frames) {
    return Samples(frames * 2, 0.0f);
}

Samples joined(std::initializer_list<Samples> parts) {
    Samples all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

void insertFrame(Samples& samples, std::size_t at, float left, float right) {
    samples.insert(samples.begin() + static_cast<std::ptrdiff_t>(at * 2), {left, right});
}

// Feeds the stream in pieces whose sizes cycle through `pieces` (bytes); empty: in one piece.
NumberingReport check(const Samples& samples, const std::vector<std::size_t>& pieces = {},
                      double tolerance = 0) {
    NumberingChecker checker(tolerance);
    const auto bytes = rawBytes(samples);
    if (pieces.empty()) {
        checker.push(bytes);
    } else {
        std::size_t offset = 0;
        for (std::size_t i = 0; offset < bytes.size(); ++i) {
            const std::size_t size = std::min(pieces[i % pieces.size()], bytes.size() - offset);
            checker.push({bytes.data() + offset, size});
            offset += size;
        }
    }
    return checker.finish();
}

const std::vector<std::vector<std::size_t>> kPiecePatterns = {{},  {1}, {3, 5, 7}, {13, 253, 4097},
                                                              {8}, {4}, {9600, 1}};

TEST(NumberingCode, EveryCodeIsExactNonZeroWithinBoundsAndDecodesToItself) {
    for (std::uint32_t code = 0; code <= 0xFFFF; ++code) {
        const float sample = numberingSample(static_cast<std::uint16_t>(code));
        ASSERT_EQ(static_cast<double>(sample), (2.0 * code - 65535.0) / 131072.0) << code;
        ASSERT_NE(sample, 0.0f) << code;
        ASSERT_LT(std::fabs(sample), 0.95f) << code;
        ASSERT_EQ(numberingCode(sample), code) << code;
    }
}

TEST(NumberingCode, ValuesBetweenCodesDecodeOnlyWithinTheTolerance) {
    const float exact = numberingSample(40000);
    const float nudged = std::nextafter(exact, 1.0f);
    EXPECT_EQ(numberingCode(nudged), std::nullopt);
    EXPECT_EQ(numberingCode(nudged, 1e-6), 40000);
    EXPECT_EQ(numberingCode(exact + 3e-6f, 1e-6), std::nullopt);
    for (float other : {0.0f, -0.0f, 0.9f, -0.6f, std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(numberingCode(other, kLargestNumberingTolerance), std::nullopt) << other;
    }
}

TEST(NumberingCode, FramesCarryTheirWholeIndex) {
    for (std::uint32_t index : {0u, 1u, 0xFFFFu, 0x10000u, 0x12345678u, 0xFFFFFFFFu}) {
        const NumberedFrame frame = numberedFrame(index);
        EXPECT_EQ(frameIndex(frame.left, frame.right), index);
        // Swapped channels carry a different index, or none.
        if ((index & 0xFFFF) != (index >> 16)) {
            EXPECT_NE(frameIndex(frame.right, frame.left), index);
        }
    }
}

TEST(NumberingGenerator, PiecesJoinIntoOneSequenceAndWrapAfterTwoToThe32) {
    NumberedSignalGenerator generator(0xFFFFFFFEu);
    const Samples first = generator.next(1);
    const Samples rest = generator.next(3);
    EXPECT_EQ(joined({first, rest}), numbered(0xFFFFFFFEu, 4));
    EXPECT_EQ(frameIndex(rest[2], rest[3]), 0u);
    EXPECT_EQ(generator.nextIndex(), 2u);
}

TEST(NumberingChecker, RejectsATolerancePastHalfAStep) {
    EXPECT_THROW(NumberingChecker(kNumberingStep / 2), std::invalid_argument);
    EXPECT_THROW(NumberingChecker(-1e-9), std::invalid_argument);
    EXPECT_NO_THROW(NumberingChecker{kLargestNumberingTolerance});
}

struct CleanCase {
    const char* name;
    std::uint32_t start;
    std::size_t frames;
    std::size_t leading;
    std::size_t trailing;
};

TEST(NumberingChecker, CleanCapturesAreCleanInAnyPieces) {
    const CleanCase cases[] = {
        {"from the first frame", 0, 9000, 0, 0},
        {"from mid-signal", 1234567, 9000, 0, 0},
        {"mid-signal between silences", 98765, 9000, 4321, 77},
        {"across the 16-bit carry", 0xFFFF - 100, 300, 3, 0},
        {"across the 32-bit wrap", 0xFFFFFFFFu - 1000, 3000, 0, 5},
        {"a single frame", 42, 1, 10, 10},
    };
    for (const auto& c : cases) {
        const Samples capture =
            joined({silence(c.leading), numbered(c.start, c.frames), silence(c.trailing)});
        for (const auto& pieces : kPiecePatterns) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " +
                         (pieces.empty() ? std::string("all") : std::to_string(pieces[0])));
            const NumberingReport report = check(capture, pieces);
            EXPECT_TRUE(report.clean());
            EXPECT_EQ(report.frames, c.leading + c.frames + c.trailing);
            EXPECT_EQ(report.captured, c.frames);
            EXPECT_EQ(report.leadingSilence, c.leading);
            EXPECT_EQ(report.trailingSilence, c.trailing);
            EXPECT_EQ(report.firstIndex, c.start);
            EXPECT_EQ(report.lastIndex, static_cast<std::uint32_t>(c.start + c.frames - 1));
            EXPECT_EQ(report.faultCount, 0u);
            EXPECT_EQ(report.trailingBytes, 0u);
        }
    }
}

struct FaultCase {
    const char* name;
    std::function<void(Samples&)> inject;
    Kind kind;
    std::uint64_t position; // frame offset in the faulty stream
    std::uint64_t frames;
    bool inserted;
    std::uint64_t lost, repeated, altered, silent;
    std::uint64_t captured; // the signal has 10000 frames
};

TEST(NumberingChecker, EachInjectedFaultIsFoundOnceAtItsPlace) {
    constexpr std::uint32_t kStart = 500000;
    const FaultCase cases[] = {
        {"one dropped frame", [](Samples& s) { s.erase(s.begin() + 2000, s.begin() + 2002); },
         Kind::Lost, 1000, 1, false, 1, 0, 0, 0, 9999},
        {"one added frame (repeated)", [](Samples& s) { insertFrame(s, 2000, s[3998], s[3999]); },
         Kind::Repeated, 2000, 1, false, 0, 1, 0, 0, 10001},
        {"one added foreign frame", [](Samples& s) { insertFrame(s, 3000, 0.3f, -0.3f); },
         Kind::Altered, 3000, 1, true, 0, 0, 1, 0, 10000},
        {"one altered frame (last bit of one sample)",
         [](Samples& s) {
             s[8000] = std::bit_cast<float>(std::bit_cast<std::uint32_t>(s[8000]) ^ 1);
         },
         Kind::Altered, 4000, 1, false, 0, 0, 1, 0, 9999},
        {"one frame altered into another frame's number",
         [](Samples& s) {
             const NumberedFrame other = numberedFrame(kStart + 4500 + 777);
             s[9000] = other.left;
             s[9001] = other.right;
         },
         Kind::Altered, 4500, 1, false, 0, 0, 1, 0, 9999},
        {"one pop", [](Samples& s) { s[10001] = 0.9f; }, Kind::Altered, 5000, 1, false, 0, 0, 1, 0,
         9999},
        {"ten frames silenced",
         [](Samples& s) { std::fill(s.begin() + 12000, s.begin() + 12020, 0.0f); }, Kind::Silence,
         6000, 10, false, 0, 0, 0, 10, 9990},
        {"ten silent frames inserted", [](Samples& s) { s.insert(s.begin() + 14000, 20, 0.0f); },
         Kind::Silence, 7000, 10, true, 0, 0, 0, 10, 10000},
        {"a jump back of 300 frames",
         [](Samples& s) {
             const Samples again(s.begin() + 2 * 7700, s.begin() + 2 * 8000);
             s.insert(s.begin() + 2 * 8000, again.begin(), again.end());
         },
         Kind::Repeated, 8000, 300, false, 0, 300, 0, 0, 10300},
        {"a dropped second frame", [](Samples& s) { s.erase(s.begin() + 2, s.begin() + 4); },
         Kind::Lost, 1, 1, false, 1, 0, 0, 0, 9999},
        {"a pop in the last frame", [](Samples& s) { s[s.size() - 1] = -0.9f; }, Kind::Altered,
         9999, 1, false, 0, 0, 1, 0, 9999},
    };
    for (const auto& c : cases) {
        Samples capture = numbered(kStart, 10000);
        c.inject(capture);
        for (const auto& pieces : kPiecePatterns) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " +
                         (pieces.empty() ? std::string("all") : std::to_string(pieces[0])));
            const NumberingReport report = check(capture, pieces);
            EXPECT_FALSE(report.clean());
            ASSERT_EQ(report.faultCount, 1u);
            ASSERT_EQ(report.faults.size(), 1u);
            const NumberingFault& fault = report.faults[0];
            EXPECT_EQ(fault.kind, c.kind);
            EXPECT_EQ(fault.position, c.position);
            EXPECT_EQ(fault.frames, c.frames);
            EXPECT_EQ(fault.inserted, c.inserted);
            EXPECT_EQ(report.lost, c.lost);
            EXPECT_EQ(report.repeated, c.repeated);
            EXPECT_EQ(report.altered, c.altered);
            EXPECT_EQ(report.silent, c.silent);
            EXPECT_EQ(report.inserted, c.inserted ? c.frames : 0);
            EXPECT_EQ(report.captured, c.captured);
            EXPECT_EQ(report.firstIndex, kStart);
        }
    }
}

TEST(NumberingChecker, LostAndRepeatedFramesNameTheIndicesAroundTheJump) {
    Samples capture = numbered(100, 1000);
    capture.erase(capture.begin() + 2 * 400, capture.begin() + 2 * 450); // 50 lost
    const NumberingReport report = check(capture);
    ASSERT_EQ(report.faults.size(), 1u);
    EXPECT_EQ(report.faults[0].expectedIndex, 500u);
    EXPECT_EQ(report.faults[0].foundIndex, 550u);
    EXPECT_EQ(report.lost, 50u);
    EXPECT_EQ(report.lastIndex, 1099u);
}

TEST(NumberingChecker, CountsEveryFaultAndListsTheFirstOnesInOrder) {
    Samples capture = numbered(0, 48000);
    for (std::size_t k = 0; k < 40; ++k) {
        capture[2 * (1000 + k * 1000)] = 0.9f;
    }
    const NumberingReport report = check(capture, {4097});
    EXPECT_EQ(report.altered, 40u);
    EXPECT_EQ(report.faultCount, 40u);
    ASSERT_EQ(report.faults.size(), NumberingReport::kMaxListedFaults);
    for (std::size_t k = 0; k < report.faults.size(); ++k) {
        EXPECT_EQ(report.faults[k].position, 1000 + k * 1000);
    }
}

TEST(NumberingChecker, ATolerancePassesSmallErrorsThatExactDecodingRejects) {
    Samples capture = numbered(777, 2000);
    for (float& sample : capture) {
        sample = std::nextafter(sample, 1.0f);
    }
    const NumberingReport exact = check(capture);
    EXPECT_EQ(exact.captured, 0u);
    EXPECT_EQ(exact.altered, 2000u);
    const NumberingReport tolerant = check(capture, {}, 1e-6);
    EXPECT_TRUE(tolerant.clean());
    EXPECT_EQ(tolerant.captured, 2000u);
    EXPECT_EQ(tolerant.tolerance, 1e-6);
}

TEST(NumberingChecker, AStreamWithoutTheSignalIsNotClean) {
    Samples other(20000);
    for (std::size_t i = 0; i < other.size(); ++i) {
        other[i] = 0.25f * std::sin(static_cast<float>(i) * 0.01f) + 0.001f;
    }
    const NumberingReport report = check(other);
    EXPECT_FALSE(report.clean());
    EXPECT_EQ(report.captured, 0u);
    EXPECT_FALSE(report.firstIndex.has_value());

    EXPECT_FALSE(check(silence(100)).clean());
    EXPECT_EQ(check(silence(100)).leadingSilence, 100u);
    EXPECT_FALSE(check({}).clean());
}

TEST(NumberingChecker, APartialLastFrameIsReportedNotExamined) {
    NumberingChecker checker;
    const auto bytes = rawBytes(numbered(5, 10));
    checker.push(bytes);
    checker.push({bytes.data(), 3});
    const NumberingReport report = checker.finish();
    EXPECT_TRUE(report.clean());
    EXPECT_EQ(report.captured, 10u);
    EXPECT_EQ(report.trailingBytes, 3u);
}

TEST(NumberingChecker, TakesNothingAfterFinishingAndOnlyWholeFrames) {
    NumberingChecker checker;
    const Samples odd = {numberingSample(1)};
    EXPECT_THROW(checker.pushFrames(odd), std::invalid_argument);
    checker.finish();
    EXPECT_THROW(checker.finish(), std::logic_error);
    EXPECT_THROW(checker.pushFrames(numbered(0, 1)), std::logic_error);
}

} // namespace
} // namespace tovanel::signals
