// SystemAudioCapture over the simulated platform: set-up and its lines, every fatal error as the
// process ends with it, the status timer, and the bytes and counters of every buffer.
#include "platform/never_destroyed.h"
#include "platform/portable/dispatch.h"
#include "screen_capture/system_audio_capture.h"
#include "sim/output.h"
#include "sim/sample_buffer.h"
#include "sim/sim_platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>

namespace tovanel {
namespace {

using namespace platform;
using namespace test; // the shared helpers and the stream's bounds

const PlatformError kBoom{"test", -3801, "The user declined TCCs"};

class ScreenSource : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    std::shared_ptr<sim::RecordingOutput> output = std::make_shared<sim::RecordingOutput>();
    test::StatusLog log;
    std::shared_ptr<SystemAudioCapture> source =
        std::make_shared<SystemAudioCapture>(output, kShowFailure, log.callback());

    // Runs set-up to the end; returns what went to standard error.
    std::string start(std::shared_ptr<ShareableContent> content = sim::content({{1920, 1080}})) {
        source->start();
        platform.screenCapture.answer(std::move(content), std::nullopt);
        ::testing::internal::CaptureStderr();
        platform.screenCapture.stream->startCompletion(std::nullopt);
        platform.dispatch.fireTimers();
        return ::testing::internal::GetCapturedStderr();
    }
    void deliver(std::shared_ptr<const SampleBuffer> buffer) {
        platform.screenCapture.stream->deliver(std::move(buffer), StreamOutputType::audio);
    }
    std::string tick() {
        platform.dispatch.fireTimers();
        return log.lines().back();
    }
};

TEST_F(ScreenSource, SetsUpTheStreamInOrderAndReportsEachStage) {
    EXPECT_EQ(start(sim::content({{1512, 982}, {3840, 2160}})), "tovanel-macos-capture started\n");
    EXPECT_EQ(platform.screenCapture.events, (Lines{"content(0,0)", "filter(1512x982)", "stream",
                                                    "output(0,tovanel.capture.screen)",
                                                    "output(1,tovanel.capture.samples)", "start"}));
    const StreamConfiguration expected{1512, 982, {1, 30}, 3, false, true, 48000, 2, true};
    EXPECT_EQ(platform.screenCapture.stream->configuration, expected);
    EXPECT_EQ(log.lines(), (Lines{"ok: requesting ScreenCaptureKit content",
                                  "ok: starting display capture displays=2 windows=41 apps=17",
                                  "ok: screenFrames=0 audioBuffers=0 audioBytes=0 format=none",
                                  "ok: screenFrames=0 audioBuffers=0 audioBytes=0 format=none"}));
    auto& hw = platform.audioHardware; // a virtual default output, for a second source
    hw.defaults[kAudioHardwarePropertyDefaultOutputDevice] =
        hw.add({"BlackHole 2ch", "b", {2}, {2}, {}});
    hw.add({"Built-in Output", "o", {}, {2}, {{0, true}}});
    test::StatusLog restored;
    std::make_shared<SystemAudioCapture>(output, kShowFailure, restored.callback())->start();
    EXPECT_EQ(restored.lines().at(0), "ok: restored PC tovanel output Built-in Output");
}

TEST_F(ScreenSource, EveryFatalErrorEndsTheProcessWithItsLineAndTheBareMessage) {
    struct Case {
        std::string message;
        std::shared_ptr<ShareableContent> content;
        bool contentError;
        std::optional<StreamOutputType> failingOutput;
        bool startFails;
    };
    const auto one = sim::content({{1, 1}});
    const std::string boom = "The user declined TCCs";
    // clang-format off
    const std::vector<Case> cases = {
        {"shareable content unavailable: " + boom, one, true, {}, false},
        {"no shareable content available", nullptr, false, {}, false},
        {"no display available for ScreenCaptureKit audio capture", sim::content({}), false, {}, false},
        {"failed to add audio output: " + boom, one, false, StreamOutputType::screen, false},
        {"failed to add audio output: " + boom, one, false, StreamOutputType::audio, false},
        {"failed to start capture: " + boom, one, false, {}, true},
        {"capture stopped: " + boom, one, false, {}, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                if (c.failingOutput) {
                    platform.screenCapture.outputFaults[*c.failingOutput] = kBoom;
                }
                source->start();
                platform.screenCapture.answer(c.content,
                                              c.contentError ? std::optional(kBoom) : std::nullopt);
                auto& stream = *platform.screenCapture.stream;
                stream.startCompletion(c.startFails ? std::optional(kBoom) : std::nullopt);
                stream.delegate.lock()->streamDidStopWithError(kBoom);
            },
            ExitedWithCode(1),
            "tovanel-macos-capture: " + c.message + "\nonFailure<" + c.message + ">$");
    }
    source->start(); // content arriving after the source is gone does nothing
    source.reset();
    platform.screenCapture.answer(one, std::nullopt);
    EXPECT_EQ(platform.screenCapture.stream, nullptr);
}

TEST_F(ScreenSource, CountsEachBufferWritesSanitisedFramesAndReportsFailuresTwice) {
    start();
    auto& stream = *platform.screenCapture.stream;
    stream.deliver(std::make_shared<sim::SimSampleBuffer>(), StreamOutputType::screen);
    stream.deliver(std::make_shared<sim::SimSampleBuffer>(), StreamOutputType::screen,
                   static_cast<StreamOutputType>(7)); // neither screen nor audio: ignored
    const std::vector<float> left = {0.5f, fromBits(0x7FC00000), 2.0f};
    const std::vector<float> right = {-0.25f, -3.0f, fromBits(0x80000000)};
    deliver(sim::audioBuffer(sim::pcmFormat(48000, 2, false), {left, right}));
    EXPECT_EQ(tick(),
              "ok: screenFrames=1 audioBuffers=1 audioBytes=24 format=converted Float32 PCM");
    EXPECT_EQ(output->bytes(), bytesOf({0.5f, -0.25f, 0.0f, fromBits(test::kLo),
                                        fromBits(test::kHi), fromBits(0x80000000)}));
    auto bad = std::make_shared<sim::SimSampleBuffer>();
    bad->hasFormatDescription = false;
    const std::string description = "The operation couldn\xE2\x80\x99t be completed. "
                                    "(TovanelMacOSCapture.CaptureError error 1.)";
    ::testing::internal::CaptureStderr();
    deliver(bad);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "audio conversion failed: " + description + "\n");
    EXPECT_EQ(log.lines().back(),
              "ok: screenFrames=1 audioBuffers=2 audioBytes=24 conversionError=" + description);
    platform.media.setFaults({false, false, 0, std::nullopt, true}); // nothing to write
    deliver(sim::audioBuffer(sim::pcmFormat(44100, 2, false), {{0.1f}, {0.2f}}));
    EXPECT_EQ(tick(),
              "ok: screenFrames=1 audioBuffers=3 audioBytes=24 format=converted Float32 PCM");
    EXPECT_EQ(output->sizes(), (std::vector<std::size_t>{24})) << "an empty block is not written";
}

// On the real timer: the first line at once, then one a second, neither faster nor piling up.
TEST(ScreenSourceStatus, ComesOnceASecondOnARealTimer) {
    static NeverDestroyed<portable::PortableDispatch> dispatch;
    sim::SimPlatform& sim = sim::SimPlatform::installFresh(&dispatch.get());
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::chrono::steady_clock::time_point> ticks;
    const auto source = std::make_shared<SystemAudioCapture>(
        std::make_shared<sim::RecordingOutput>(), MessageCallback{}, [&](const std::string& line) {
            std::lock_guard lock(mutex);
            if (line.starts_with("ok: screenFrames=")) {
                ticks.push_back(std::chrono::steady_clock::now());
                arrived.notify_one();
            }
        });
    source->start();
    sim.screenCapture.answer(sim::content({{1, 1}}), std::nullopt);
    ::testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    sim.screenCapture.stream->startCompletion(std::nullopt);
    sim.screenCapture.stream->startCompletion = nullptr; // then `source` alone owns the source
    (void)::testing::internal::GetCapturedStderr();
    std::unique_lock lock(mutex); // let go of first: the source's end waits for a tick running
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return ticks.size() >= 4; }))
        << ticks.size() << " status lines in 10 s";
    EXPECT_LT(ticks[0] - started, std::chrono::milliseconds(500)) << "the first at once";
    EXPECT_GE(ticks[3] - ticks[0], std::chrono::milliseconds(2950)) << "three intervals";
    EXPECT_LT(ticks[3] - ticks[0], std::chrono::milliseconds(3900));
}

} // namespace
} // namespace tovanel
