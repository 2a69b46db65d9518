// The private PulseAudio server of the integration tests: it answers, it has the sinks the
// tests rely on with their exact descriptions, and what is played into a sink comes back out of
// its monitor bit for bit (the loopback every capture test builds on).
#include "pulse/pulse_test.h"
#include "signals/frame_numbering.h"
#include "signals/numbering_checker.h"
#include "signals/raw_pcm.h"
#include "signals/signal_reports.h"
#include "signals/sine_generator.h"
#include "signals/tone_analysis.h"
#include "signals/wav_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace tovanel::test {
namespace {

using ::testing::HasSubstr;

class PrivatePulseServer : public PulseServerTest {
  protected:
    // A stream that joins a sink already running starts a little in the past (the sink rewinds
    // to play it at once), and that first stretch never reaches the monitor, which has already
    // delivered it: the signal is preceded by silence that may be lost.
    static constexpr std::size_t kLeadInFrames = 9600;

    // Plays `signal` into `sink` while parec records its monitor; returns the recording.
    std::vector<float> loopback(const std::string& sink, const std::vector<float>& signal) {
        const auto recording = server().record(sink + ".monitor", scratch() / "capture.raw");
        recording->waitUntilStreaming();
        std::vector<float> played(kLeadInFrames * 2, 0.0f);
        played.insert(played.end(), signal.begin(), signal.end());
        server().play(sink, played, scratch().path());
        // The monitor delivers what the sink rendered a fragment later.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return recording->stop();
    }
};

TEST_F(PrivatePulseServer, AnswersAndHasTheTestSinksWithTheirExactDescriptions) {
    EXPECT_THAT(server().pactlOutput({"info"}), HasSubstr("Server Name: pulseaudio"));
    const std::vector<SinkInfo> sinks = server().sinks();
    ASSERT_EQ(sinks.size(), 2u);
    struct Expected {
        const char* name;
        const char* description;
    };
    for (const Expected expected :
         {Expected{"builtin", "Built-in Output"}, Expected{"blackhole", "BlackHole 2ch"}}) {
        const auto sink = server().sink(expected.name);
        ASSERT_TRUE(sink.has_value()) << expected.name;
        EXPECT_EQ(sink->description, expected.description);
        EXPECT_EQ(sink->sampleSpec, "float32le 2ch 48000Hz");
        EXPECT_EQ(sink->monitorSource, std::string(expected.name) + ".monitor");
        EXPECT_FALSE(sink->muted);
    }
    EXPECT_EQ(server().defaultSink(), "builtin");
    EXPECT_EQ(server().defaultSource(), "builtin.monitor");
}

TEST_F(PrivatePulseServer, TheProcessAndItsChildrenReachOnlyThisServer) {
    const char* address = std::getenv("PULSE_SERVER");
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(std::string(address), server().serverAddress());
    EXPECT_EQ(std::getenv("PULSE_SINK"), nullptr);
    // A plain child, with nothing but the inherited environment, sees the same server.
    const CommandResult info = runCommand({"pactl", "get-default-sink"}, {});
    ASSERT_TRUE(info.ok()) << info.standardError;
    EXPECT_EQ(info.standardOutput, "builtin\n");
}

TEST_F(PrivatePulseServer, DefaultDevicesGuardPutsTheDefaultsBack) {
    {
        DefaultDevicesGuard guard(server());
        server().setDefaultSink("blackhole");
        server().setDefaultSource("blackhole.monitor");
        EXPECT_EQ(server().defaultSink(), "blackhole");
        EXPECT_EQ(server().defaultSource(), "blackhole.monitor");
    }
    EXPECT_EQ(server().defaultSink(), "builtin");
    EXPECT_EQ(server().defaultSource(), "builtin.monitor");
}

TEST_F(PrivatePulseServer, ThePathThroughEachSinkIsBitExact) {
    constexpr std::uint32_t kFirstIndex = 1000000;
    constexpr std::size_t kFrames = 48000;
    const std::vector<float> signal = signals::NumberedSignalGenerator(kFirstIndex).next(kFrames);
    for (const char* sink : {"builtin", "blackhole"}) {
        SCOPED_TRACE(sink);
        const std::vector<float> captured = loopback(sink, signal);
        keepOnFailure(std::string(sink) + "-numbered", captured);
        signals::NumberingChecker checker; // tolerance 0: every sample exactly as played
        checker.pushFrames(captured);
        const signals::NumberingReport report = checker.finish();
        signals::NumberingExpectations expectations;
        expectations.exactCaptured = kFrames;
        expectations.firstIndex = kFirstIndex;
        const auto problems = signals::numberingProblems(report, expectations);
        EXPECT_TRUE(problems.empty()) << signals::numberingReportLine(report, problems);
        EXPECT_GT(report.leadingSilence, 0u) << "the recording started before the playback";
    }
}

TEST_F(PrivatePulseServer, AToneComesBackWithItsFrequencyLevelAndUnbrokenPhase) {
    const std::vector<float> signal = signals::SineGenerator(1000, -12).next(72000);
    const std::vector<float> captured = loopback("builtin", signal);
    keepOnFailure("tone", captured);
    const signals::ToneReport report = signals::analyseTone(captured);
    signals::ToneExpectations expectations;
    expectations.frequencyHz = 1000;
    expectations.frequencyToleranceHz = 0.01;
    expectations.levelDbfs = -12;
    expectations.levelToleranceDb = 0.01;
    expectations.minimumAnalysedFrames = 48000;
    const auto problems = signals::toneProblems(report, expectations);
    EXPECT_TRUE(problems.empty()) << signals::toneReportLine(report, problems);
}

TEST_F(PrivatePulseServer, EvidenceIsKeptAsAWavFileInTheTestsTmpdir) {
    const std::vector<float> samples = signals::SineGenerator(440, -20).next(4800);
    const std::string path = saveEvidence("check", samples);
    const char* tmpdir = std::getenv("TMPDIR");
    ASSERT_NE(tmpdir, nullptr);
    EXPECT_EQ(path, std::string(tmpdir) +
                        "/PrivatePulseServer.EvidenceIsKeptAsAWavFileInTheTestsTmpdir-check.wav");
    const std::string file = readFile(path);
    std::filesystem::remove(path);
    ASSERT_EQ(file.size(), 58u + samples.size() * 4);
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(file.substr(50, 4), "data");
}

} // namespace
} // namespace tovanel::test
