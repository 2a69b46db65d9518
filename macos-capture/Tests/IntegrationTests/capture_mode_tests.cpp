// Capture mode of the built executable against the private PulseAudio server: what the default
// sink plays comes out on standard output as the PCM stream, the default output is moved off a
// virtual device, a reader that goes away ends the program, and a missing server is reported.
#include "eventually.h"
#include "pulse/pulse_test.h"
#include "signals/frame_numbering.h"
#include "signals/numbering_checker.h"
#include "signals/raw_pcm.h"
#include "signals/sine_generator.h"
#include "signals/tone_analysis.h"
#include "test_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace tovanel {
namespace {

using namespace std::chrono_literals;
using test::ChildOptions;
using test::ChildProcess;
using test::DefaultDevicesGuard;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kExecutable = TOVANEL_EXECUTABLE;
const std::string kBanner = "tovanel-macos-capture started\n";

// Waits until the file holds `text`, or the time is up.
bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds timeout) {
    return test::eventually([&] { return test::readFile(path).find(text) != std::string::npos; },
                            timeout);
}

std::vector<float> silence(double seconds) {
    return std::vector<float>(static_cast<std::size_t>(seconds * 48000) * 2, 0.0f);
}

class CaptureMode : public test::PulseServerTest {
  protected:
    std::string capturePath() const { return scratch() / "capture.raw"; }
    std::string errorPath() const { return scratch() / "stderr"; }

    // The program in capture mode, started and past its set-up.
    std::unique_ptr<ChildProcess> startCapture() {
        ChildOptions options;
        options.argv = {kExecutable};
        options.environment = server().environment();
        options.standardOutput = capturePath();
        options.standardError = errorPath();
        auto capture = std::make_unique<ChildProcess>(options);
        EXPECT_TRUE(waitForText(errorPath(), kBanner, 10s)) << test::readFile(errorPath());
        return capture;
    }

    // Plays `samples` after a short silence (a stream joining a running sink loses its first few
    // milliseconds), lets the tail arrive, stops the capture and returns what it wrote.
    std::vector<float> playAndCollect(ChildProcess& capture, std::vector<float> samples) {
        std::vector<float> played = silence(0.2);
        played.insert(played.end(), samples.begin(), samples.end());
        server().play("builtin", played, scratch().path());
        std::this_thread::sleep_for(300ms);
        capture.stop(SIGTERM);
        auto recording = signals::readRawPcmFile(capturePath());
        EXPECT_EQ(recording.trailingBytes, 0u) << "the stream holds whole frames only";
        keepOnFailure("capture", recording.samples);
        return std::move(recording.samples);
    }
};

TEST_F(CaptureMode, ATonePlayedIntoTheDefaultSinkComesOutAsFloatStereoAt48k) {
    DefaultDevicesGuard guard(server());
    server().setDefaultSink("builtin");
    auto capture = startCapture();
    signals::SineGenerator tone(1000.0, -6.0);
    const auto samples = playAndCollect(*capture, tone.next(10 * 48000));

    const auto report = signals::analyseTone(samples);
    ASSERT_TRUE(report.found());
    for (const auto& channel : report.channels) {
        EXPECT_NEAR(channel.frequencyHz, 1000.0, 1.0);
        EXPECT_NEAR(channel.levelDbfs, -6.0, 0.5);
    }
    EXPECT_GE(report.analysedFrames, 9u * 48000);
    EXPECT_EQ(report.bounds.nonFinite, 0u);
    EXPECT_EQ(report.bounds.outOfBounds, 0u);
    EXPECT_TRUE(report.continuous())
        << report.discontinuities << " discontinuities, " << report.glitches << " glitches, "
        << report.dropouts << " dropouts";
    EXPECT_EQ(test::readFile(errorPath()), kBanner);
}

TEST_F(CaptureMode, EveryFramePassesBitForBit) {
    DefaultDevicesGuard guard(server());
    server().setDefaultSink("builtin");
    auto capture = startCapture();
    signals::NumberedSignalGenerator numbers(1000);
    const auto samples = playAndCollect(*capture, numbers.next(5 * 48000));

    signals::NumberingChecker checker(0);
    checker.pushFrames(samples);
    const auto report = checker.finish();
    EXPECT_TRUE(report.clean());
    EXPECT_EQ(report.captured, 5u * 48000);
    EXPECT_EQ(report.lost, 0u);
    EXPECT_EQ(report.repeated, 0u);
    EXPECT_EQ(report.altered, 0u);
    EXPECT_EQ(report.firstIndex, 1000u);
}

TEST_F(CaptureMode, MovesTheDefaultOutputOffAVirtualDeviceAndLeavesItThere) {
    DefaultDevicesGuard guard(server());
    server().setDefaultSink("blackhole");
    for (int run = 0; run < 2; ++run) {
        auto capture = startCapture();
        EXPECT_EQ(server().defaultSink(), "builtin") << "run " << run;
        capture->stop(SIGTERM);
    }
}

struct ReaderGoneCase {
    const char* name;
    const char* sigpipe; // what the shell does with SIGPIPE before starting the program
};

class ReaderGone : public CaptureMode, public ::testing::WithParamInterface<ReaderGoneCase> {};

TEST_P(ReaderGone, EndsTheProgramAtTheNextWriteWithNothingReported) {
    const std::string statusPath = scratch() / "status";
    ChildOptions options;
    options.argv = {"bash",
                    "-c",
                    std::string(GetParam().sigpipe) +
                        "; \"$0\" 2>\"$1\" | head -c 100000 >/dev/null; "
                        "echo \"${PIPESTATUS[0]}\" >\"$2\"",
                    kExecutable,
                    errorPath(),
                    statusPath};
    options.environment = server().environment();
    ChildProcess pipeline(options);
    // The sink's monitor records silence while nothing plays, so the reader fills at once.
    const auto status = pipeline.waitFor(15s);
    ASSERT_TRUE(status.has_value()) << "the program went on after its reader left";
    EXPECT_EQ(test::readFile(statusPath), std::to_string(128 + SIGPIPE) + "\n");
    EXPECT_EQ(test::readFile(errorPath()), kBanner);
}

INSTANTIATE_TEST_SUITE_P(SigpipeDispositions, ReaderGone,
                         ::testing::Values(ReaderGoneCase{"Default", "trap - PIPE"},
                                           ReaderGoneCase{"Ignored", "trap '' PIPE"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureMode, WithoutAServerItFailsAtOnceWithTheReason) {
    ChildOptions options;
    options.argv = {kExecutable};
    options.environment = server().environment();
    options.environment["PULSE_SERVER"] = "unix:" + (scratch() / "no-server-here");
    options.standardOutput = capturePath();
    options.standardError = errorPath();
    ChildProcess capture(options);
    const auto status = capture.waitFor(10s);
    ASSERT_TRUE(status.has_value()) << "no answer from a missing server must not hang";
    EXPECT_EQ(*status, 1);
    const std::string standardError = test::readFile(errorPath());
    EXPECT_THAT(standardError,
                StartsWith("tovanel-macos-capture: shareable content unavailable: "));
    EXPECT_THAT(standardError, HasSubstr("Connection refused"));
    EXPECT_EQ(standardError.back(), '\n');
    EXPECT_EQ(test::readFile(capturePath()), "");
}

} // namespace
} // namespace tovanel
