// The test tone and its analysis: frequency and level read back precisely, and a lost frame, a
// repeated frame, an altered frame, a pop or a dropout injected once is found once, at its place,
// as what it is.
#include "signals/sample_bounds.h"
#include "signals/sine_generator.h"
#include "signals/tone_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovanel::signals {
namespace {

using Kind = ToneFault::Kind;
using Samples = std::vector<float>;

// A capture as it usually looks: silence, the tone from somewhere in its middle, silence.
Samples capture(double frequency, double level, std::size_t frames, std::size_t leading = 4800,
                std::size_t trailing = 2400, std::uint64_t startFrame = 7777) {
    Samples samples(leading * 2, 0.0f);
    const Samples tone = SineGenerator(frequency, level, startFrame).next(frames);
    samples.insert(samples.end(), tone.begin(), tone.end());
    samples.insert(samples.end(), trailing * 2, 0.0f);
    return samples;
}

TEST(SineGenerator, PiecesJoinExactlyAndBothChannelsCarryTheTone) {
    SineGenerator pieces(997, -6);
    Samples joined = pieces.next(100);
    const Samples more = pieces.next(333);
    joined.insert(joined.end(), more.begin(), more.end());
    EXPECT_EQ(joined, SineGenerator(997, -6).next(433));
    const Samples later = SineGenerator(997, -6, 100).next(333);
    EXPECT_EQ(more, later);
    EXPECT_EQ(joined[0], 0.0f);
    for (std::size_t i = 0; i < joined.size(); i += 2) {
        ASSERT_EQ(joined[i], joined[i + 1]);
    }
}

TEST(SineGenerator, PeakMatchesTheLevel) {
    for (double level : {-0.5, -6.0, -12.0, -40.0}) {
        const Samples tone = SineGenerator(1000, level).next(480);
        float peak = 0;
        for (float v : tone) {
            peak = std::max(peak, std::fabs(v));
        }
        EXPECT_NEAR(peak, amplitudeOfDbfs(level), amplitudeOfDbfs(level) * 1e-6) << level;
    }
}

TEST(SineGenerator, RefusesTonesThatWouldClipOrCannotExist) {
    EXPECT_THROW(SineGenerator(1000, 0), std::invalid_argument);
    EXPECT_THROW(SineGenerator(1000, -0.4), std::invalid_argument);
    EXPECT_THROW(SineGenerator(0, -12), std::invalid_argument);
    EXPECT_THROW(SineGenerator(24000, -12), std::invalid_argument);
    EXPECT_THROW(SineGenerator(-5, -12), std::invalid_argument);
}

struct ToneCase {
    double frequency;
    double level;
};

const ToneCase kTones[] = {{1000, -12}, {997, -20}, {440, -6}, {3000, -30}, {250, -1}};

TEST(ToneAnalysis, ReadsFrequencyAndLevelOfACleanCapture) {
    for (const auto& tone : kTones) {
        SCOPED_TRACE(std::to_string(tone.frequency) + " Hz at " + std::to_string(tone.level));
        const ToneReport report = analyseTone(capture(tone.frequency, tone.level, 96000));
        ASSERT_TRUE(report.found());
        for (const auto& channel : report.channels) {
            EXPECT_NEAR(channel.frequencyHz, tone.frequency, 0.001);
            EXPECT_NEAR(channel.levelDbfs, tone.level, 0.01);
            EXPECT_NEAR(channel.rmsDbfs, tone.level, 0.01);
            EXPECT_NEAR(channel.peakDbfs, tone.level, 0.01);
        }
        EXPECT_TRUE(report.continuous());
        EXPECT_EQ(report.faultCount, 0u);
        EXPECT_TRUE(report.bounds.clean());
        EXPECT_NEAR(static_cast<double>(report.leadingSilence), 4800, 2);
        EXPECT_NEAR(static_cast<double>(report.trailingSilence), 2400, 2);
        EXPECT_EQ(report.frames, 4800u + 96000u + 2400u);
        EXPECT_EQ(report.analysedFrames + 2 * report.edgeFrames + report.leadingSilence +
                      report.trailingSilence,
                  report.frames);
    }
}

TEST(ToneAnalysis, AFrequencyOffByAFractionOfAHertzIsMeasured) {
    const ToneReport report = analyseTone(capture(1000.3, -12, 3 * 48000));
    EXPECT_NEAR(report.channels[0].frequencyHz, 1000.3, 0.001);
}

struct ToneFaultCase {
    const char* name;
    std::function<void(Samples&, std::size_t frame)> inject;
    Kind kind;
    std::int64_t frames; // Discontinuity: +lost/-repeated; Dropout: length
    unsigned channels;
};

TEST(ToneAnalysis, EachInjectedFaultIsFoundOnceAsWhatItIs) {
    const ToneFaultCase cases[] = {
        {"one dropped frame",
         [](Samples& s, std::size_t f) { s.erase(s.begin() + 2 * f, s.begin() + 2 * f + 2); },
         Kind::Discontinuity, 1, 3},
        {"one added (repeated) frame",
         [](Samples& s, std::size_t f) {
             const float left = s[2 * f - 2];
             const float right = s[2 * f - 1];
             s.insert(s.begin() + 2 * f, {left, right});
         },
         Kind::Discontinuity, -1, 3},
        {"three dropped frames",
         [](Samples& s, std::size_t f) { s.erase(s.begin() + 2 * f, s.begin() + 2 * f + 6); },
         Kind::Discontinuity, 3, 3},
        {"one altered frame",
         [](Samples& s, std::size_t f) {
             s[2 * f] += 0.02f;
             s[2 * f + 1] += 0.02f;
         },
         Kind::Glitch, 0, 3},
        {"one pop in the left channel", [](Samples& s, std::size_t f) { s[2 * f] = 0.9f; },
         Kind::Glitch, 0, 1},
        {"a dropout of 20 frames",
         [](Samples& s, std::size_t f) {
             std::fill(s.begin() + 2 * f, s.begin() + 2 * f + 40, 0.0f);
         },
         Kind::Dropout, 20, 3},
    };
    for (const auto& tone : {ToneCase{1000, -12}, ToneCase{441, -20}}) {
        for (const auto& c : cases) {
            for (std::size_t at : {30011u, 61234u}) {
                SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(at) + ", " +
                             std::to_string(tone.frequency) + " Hz");
                Samples samples = capture(tone.frequency, tone.level, 96000, 4800, 2400);
                const std::size_t frame = 4800 + at;
                c.inject(samples, frame);
                const ToneReport report = analyseTone(samples);
                ASSERT_TRUE(report.found());
                ASSERT_EQ(report.faultCount, 1u);
                const ToneFault& fault = report.faults.at(0);
                EXPECT_EQ(fault.kind, c.kind);
                EXPECT_NEAR(static_cast<double>(fault.position), static_cast<double>(frame), 2);
                if (c.kind != Kind::Glitch) {
                    EXPECT_EQ(fault.frames, c.frames);
                }
                EXPECT_EQ(fault.channels, c.channels);
                EXPECT_FALSE(report.continuous());
                // The fault does not disturb what is measured around it.
                EXPECT_NEAR(report.channels[0].frequencyHz, tone.frequency, 0.01);
                EXPECT_NEAR(report.channels[0].levelDbfs, tone.level, 0.05);
            }
        }
    }
}

TEST(ToneAnalysis, CountsSamplesThatAreNotFiniteOrOutOfBounds) {
    Samples samples = capture(1000, -12, 48000);
    samples[20001] = std::numeric_limits<float>::quiet_NaN();
    samples[30002] = std::numeric_limits<float>::infinity();
    samples[40000] = 0.97f;
    samples[50001] = -0.951f;
    const ToneReport report = analyseTone(samples);
    EXPECT_EQ(report.bounds.nonFinite, 2u);
    EXPECT_EQ(report.bounds.firstNonFinite, 20001u);
    EXPECT_EQ(report.bounds.outOfBounds, 2u);
    EXPECT_EQ(report.bounds.firstOutOfBounds, 40000u);
    EXPECT_FALSE(report.bounds.clean());
    EXPECT_EQ(report.glitches, 4u);
}

TEST(ToneAnalysis, FindsNoToneInSilenceOrInTooShortACapture) {
    EXPECT_FALSE(analyseTone(Samples(96000, 0.0f)).found());
    EXPECT_FALSE(analyseTone({}).found());
    EXPECT_FALSE(analyseTone(capture(1000, -12, 1000)).found());
    Samples leftOnly = capture(1000, -12, 48000);
    for (std::size_t i = 1; i < leftOnly.size(); i += 2) {
        leftOnly[i] = 0;
    }
    const ToneReport report = analyseTone(leftOnly);
    EXPECT_TRUE(report.channels[0].found);
    EXPECT_FALSE(report.channels[1].found);
    EXPECT_FALSE(report.found());
}

struct BoundsCase {
    float value;
    bool nonFinite;
    bool outOfBounds;
};

TEST(SampleBounds, ClassifiesEveryKindOfValue) {
    const BoundsCase cases[] = {
        {0.0f, false, false},
        {0.95f, false, false},
        {-0.95f, false, false},
        {std::nextafter(0.95f, 1.0f), false, true},
        {-1.0f, false, true},
        {std::numeric_limits<float>::quiet_NaN(), true, false},
        {-std::numeric_limits<float>::infinity(), true, false},
        {std::numeric_limits<float>::denorm_min(), false, false},
    };
    for (const auto& c : cases) {
        const Samples samples = {0.1f, c.value, 0.2f};
        const SampleBoundsReport report = checkSampleBounds(samples, 1000);
        EXPECT_EQ(report.nonFinite, c.nonFinite ? 1u : 0u) << c.value;
        EXPECT_EQ(report.outOfBounds, c.outOfBounds ? 1u : 0u) << c.value;
        EXPECT_EQ(report.firstNonFinite,
                  c.nonFinite ? std::optional<std::uint64_t>(1001) : std::nullopt);
        EXPECT_EQ(report.clean(), !c.nonFinite && !c.outOfBounds) << c.value;
    }
}

TEST(SampleBounds, PiecesAddUpToTheWhole) {
    const Samples samples = {0.1f, 0.99f, std::numeric_limits<float>::quiet_NaN(), 0.5f, -2.0f};
    SampleBoundsReport total = checkSampleBounds(std::span(samples).first(2), 0);
    add(total, checkSampleBounds(std::span(samples).subspan(2), 2));
    const SampleBoundsReport whole = checkSampleBounds(samples);
    EXPECT_EQ(total.samples, whole.samples);
    EXPECT_EQ(total.nonFinite, 1u);
    EXPECT_EQ(total.outOfBounds, 2u);
    EXPECT_EQ(total.firstNonFinite, 2u);
    EXPECT_EQ(total.firstOutOfBounds, 1u);
    EXPECT_EQ(total.largestMagnitude, 2.0f);
}

} // namespace
} // namespace tovanel::signals
