// Both capture sources over the simulated platform: set-up and its lines, every fatal error as
// the process ends with it, the status timer, and the bytes and counters of every buffer.
#include "capture/input_device_audio_capture.h"
#include "capture/system_audio_capture.h"
#include "pcm/sanitize.h"
#include "sim/output.h"
#include "sim/sample_buffer.h"
#include "sim/sim_platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <thread>

namespace tovanel {
namespace {

using namespace platform;
using ::testing::ExitedWithCode;
using Lines = std::vector<std::string>;

const PlatformError kBoom{"test", -3801, "The user declined TCCs"};

// The failure callback of a death test: it shows what it was given after fail's own line.
MessageCallback showFailure() {
    return
        [](const std::string& message) { std::fprintf(stderr, "onFailure<%s>", message.c_str()); };
}

class ScreenSource : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    std::shared_ptr<sim::RecordingOutput> output = std::make_shared<sim::RecordingOutput>();
    test::StatusLog log;
    std::shared_ptr<SystemAudioCapture> source =
        std::make_shared<SystemAudioCapture>(output, showFailure(), log.callback());

    // Runs set-up to the end with the given content; returns what went to standard error.
    std::string
    startRunning(std::shared_ptr<ShareableContent> content = sim::content({{1920, 1080}})) {
        source->start();
        platform.screenCapture.answer(std::move(content), std::nullopt);
        ::testing::internal::CaptureStderr();
        platform.screenCapture.stream->startCompletion(std::nullopt);
        settle();
        return ::testing::internal::GetCapturedStderr();
    }
    // Waits until every queue the source was given has run what it was handed.
    void settle() {
        for (const auto& registered : platform.screenCapture.stream->outputs) {
            sim::drain(*registered.queue);
        }
        for (const auto& timer : platform.dispatch.timers()) {
            sim::drain(*timer->queue);
        }
    }
    void deliverAudio(std::shared_ptr<const SampleBuffer> buffer) {
        platform.screenCapture.stream->deliver(std::move(buffer), StreamOutputType::audio);
    }
    std::string tick() {
        settle(); // what was delivered is counted before the tick reads it
        platform.dispatch.fireTimers();
        settle();
        return log.lines().back();
    }
};

TEST_F(ScreenSource, SetsUpTheStreamInOrderAndReportsEachStage) {
    EXPECT_EQ(
        platform.dispatch.queueLabels(),
        (Lines{"tovanel.capture.samples", "tovanel.capture.screen", "tovanel.capture.status"}));
    EXPECT_TRUE(log.lines().empty()) << "constructing reports nothing";
    const std::string banner = startRunning(sim::content({{1512, 982}, {3840, 2160}}));
    EXPECT_EQ(banner, "tovanel-macos-capture started\n");
    EXPECT_EQ(platform.screenCapture.events, (Lines{"content(0,0)", "filter(1512x982)", "stream",
                                                    "output(0,tovanel.capture.screen)",
                                                    "output(1,tovanel.capture.samples)", "start"}));
    StreamConfiguration expected{1512, 982, {1, 30}, 3, false, true, 48000, 2, true};
    EXPECT_EQ(platform.screenCapture.stream->configuration, expected);
    ASSERT_EQ(platform.dispatch.timers().size(), 1u);
    EXPECT_EQ(platform.dispatch.timers()[0]->queue->label(), "tovanel.capture.status");
    EXPECT_EQ(platform.dispatch.timers()[0]->interval, std::chrono::seconds(1));
    EXPECT_EQ(log.lines(), (Lines{"ok: requesting ScreenCaptureKit content",
                                  "ok: starting display capture displays=2 windows=41 apps=17",
                                  "ok: screenFrames=0 audioBuffers=0 audioBytes=0 format=none"}));
}

TEST_F(ScreenSource, ARestoredOutputIsTheFirstLine) {
    auto& hw = platform.audioHardware;
    hw.defaults[kAudioHardwarePropertyDefaultOutputDevice] =
        hw.add({"BlackHole 2ch", "b", {2}, {2}, {}});
    hw.add({"Built-in Output", "o", {}, {2}, {{0, true}}});
    source->start();
    EXPECT_EQ(log.lines(), (Lines{"ok: restored PC tovanel output Built-in Output",
                                  "ok: requesting ScreenCaptureKit content"}));
}

TEST_F(ScreenSource, EveryFatalErrorEndsTheProcessWithItsLineAndTheBareMessage) {
    struct Case {
        std::string message;
        std::shared_ptr<ShareableContent> content;
        bool contentError;
        std::optional<StreamOutputType> failingOutput;
        int after; // 1: the start fails; 2: the stream starts, then stops
    };
    const auto one = sim::content({{1, 1}});
    const std::string boom = "The user declined TCCs";
    // clang-format off
    const std::vector<Case> cases = {
        {"shareable content unavailable: " + boom, one, true, {}, 0},
        {"no shareable content available", nullptr, false, {}, 0},
        {"no display available for ScreenCaptureKit audio capture", sim::content({}), false, {}, 0},
        {"failed to add audio output: " + boom, one, false, StreamOutputType::screen, 0},
        {"failed to add audio output: " + boom, one, false, StreamOutputType::audio, 0},
        {"failed to start capture: " + boom, one, false, {}, 1},
        {"capture stopped: " + boom, one, false, {}, 2},
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
                stream.startCompletion(c.after == 1 ? std::optional(kBoom) : std::nullopt);
                stream.delegate.lock()->streamDidStopWithError(kBoom);
            },
            ExitedWithCode(1),
            "tovanel-macos-capture: " + c.message + "\nonFailure<" + c.message + ">$");
    }
}

TEST_F(ScreenSource, ContentArrivingAfterTheSourceIsGoneDoesNothing) {
    source->start();
    source.reset();
    platform.screenCapture.answer(sim::content({}), std::nullopt);
    EXPECT_EQ(platform.screenCapture.stream, nullptr);
}

TEST_F(ScreenSource, CountsEachBufferWritesSanitisedFramesAndReportsFailuresTwice) {
    startRunning();
    auto& stream = *platform.screenCapture.stream;
    stream.deliver(std::make_shared<sim::SimSampleBuffer>(), StreamOutputType::screen);
    stream.deliver(std::make_shared<sim::SimSampleBuffer>(), StreamOutputType::screen,
                   static_cast<StreamOutputType>(7)); // neither screen nor audio: ignored
    const std::vector<float> left = {0.5f, test::fromBits(0x7FC00000), 2.0f};
    const std::vector<float> right = {-0.25f, -3.0f, test::fromBits(0x80000000)};
    deliverAudio(sim::audioBuffer(sim::pcmFormat(48000, 2, false), {left, right}));
    EXPECT_EQ(tick(),
              "ok: screenFrames=1 audioBuffers=1 audioBytes=24 format=converted Float32 PCM");
    EXPECT_EQ(output->bytes(),
              test::bytesOf({0.5f, -0.25f, 0.0f, test::fromBits(kLowerSampleBoundBits),
                             test::fromBits(kUpperSampleBoundBits), test::fromBits(0x80000000)}));
    auto bad = std::make_shared<sim::SimSampleBuffer>();
    bad->hasFormatDescription = false;
    const std::string description = "The operation couldn\xE2\x80\x99t be completed. "
                                    "(TovanelMacOSCapture.CaptureError error 1.)";
    ::testing::internal::CaptureStderr();
    deliverAudio(bad);
    settle();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "audio conversion failed: " + description + "\n");
    EXPECT_EQ(log.lines().back(),
              "ok: screenFrames=1 audioBuffers=2 audioBytes=24 conversionError=" + description);
    platform.media.setFaults({false, false, 0, std::nullopt, true}); // nothing to write
    deliverAudio(sim::audioBuffer(sim::pcmFormat(44100, 2, false), {{0.1f}, {0.2f}}));
    EXPECT_EQ(tick(),
              "ok: screenFrames=1 audioBuffers=3 audioBytes=24 format=converted Float32 PCM");
    EXPECT_EQ(output->sizes(), (std::vector<std::size_t>{24})) << "an empty block is not written";
    // Without callbacks nothing is built, but failures still reach standard error.
    source = std::make_shared<SystemAudioCapture>(output, MessageCallback{}, MessageCallback{});
    const std::size_t lines = log.lines().size();
    startRunning();
    ::testing::internal::CaptureStderr();
    deliverAudio(bad);
    settle();
    EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("audio conversion failed: ", 0), 0u);
    EXPECT_EQ(log.lines().size(), lines);
    EXPECT_EXIT(platform.screenCapture.stream->delegate.lock()->streamDidStopWithError(kBoom),
                ExitedWithCode(1),
                "^tovanel-macos-capture: capture stopped: The user declined TCCs\n$");
}

TEST_F(ScreenSource, CountersAreReadSafelyWhileThreeQueuesWriteAndTick) {
    startRunning();
    const auto buffer =
        sim::audioBuffer(sim::pcmFormat(48000, 2, false),
                         {std::vector<float>(480, 0.1f), std::vector<float>(480, 0.2f)});
    std::thread ticking([&] {
        for (int i = 0; i < 200; ++i) {
            platform.dispatch.fireTimers();
        }
    });
    for (int i = 0; i < 200; ++i) {
        deliverAudio(buffer);
        platform.screenCapture.stream->deliver(buffer, StreamOutputType::screen);
    }
    ticking.join();
    EXPECT_EQ(tick(), "ok: screenFrames=200 audioBuffers=200 audioBytes=768000 format=converted "
                      "Float32 PCM");
    EXPECT_EQ(output->bytes().size(), 768000u);
}

class InputSource : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    sim::SimAudioHardware& hw = platform.audioHardware;
    std::shared_ptr<sim::RecordingOutput> output = std::make_shared<sim::RecordingOutput>();
    test::StatusLog log;
    std::shared_ptr<InputDeviceAudioCapture> source =
        std::make_shared<InputDeviceAudioCapture>(output, showFailure(), log.callback());
    test::ScopedEnv allowAny{"TOVANEL_ALLOW_ANY_INPUT", std::nullopt};
    AudioObjectID blackHole = hw.add({"BlackHole 2ch",
                                      "\xEF\xBB\xBF"
                                      "BlackHole2ch_UID",
                                      {2},
                                      {2},
                                      {}});
    AudioObjectID speakers = hw.add({"Built-in Output", "o", {}, {2}, {{0, true}}});

    void SetUp() override { hw.defaults[kAudioHardwarePropertyDefaultOutputDevice] = speakers; }
    // Both phases of start; returns what went to standard error.
    std::string startRunning() {
        ::testing::internal::CaptureStderr();
        source->start();
        platform.dispatch.runMainLoop();
        sim::drain(*platform.dispatch.timers().at(0)->queue);
        return ::testing::internal::GetCapturedStderr();
    }
    std::vector<sim::SimAudioQueues::Call> calls() {
        std::vector<sim::SimAudioQueues::Call> made;
        for (const auto& record : platform.audioQueues.calls()) {
            made.push_back(record.call);
        }
        return made;
    }
};

TEST_F(InputSource, SelectsTheLoopbackDeviceAndPrimesThreeBuffersBeforeStarting) {
    using C = sim::SimAudioQueues::Call;
    EXPECT_EQ(platform.dispatch.queueLabels(), Lines{"tovanel.input-device.capture"});
    EXPECT_EQ(startRunning(), "tovanel-input-device-capture started\n");
    const std::string format = "BlackHole 2ch 48000Hz 2ch CoreAudio input";
    EXPECT_EQ(log.lines(), (Lines{"ok: selected virtual system-audio input BlackHole 2ch",
                                  "ok: opening virtual input device BlackHole 2ch",
                                  "ok: opening CoreAudio input queue",
                                  "ok: inputBuffers=0 audioBytes=0 format=" + format,
                                  "ok: inputBuffers=0 audioBytes=0 format=" + format}));
    EXPECT_EQ(hw.defaults[kAudioHardwarePropertyDefaultInputDevice], blackHole);
    EXPECT_EQ(calls(), (std::vector<C>{C::newInput, C::setCurrentDevice, C::allocateBuffer,
                                       C::enqueueBuffer, C::allocateBuffer, C::enqueueBuffer,
                                       C::allocateBuffer, C::enqueueBuffer, C::start}));
    const auto records = platform.audioQueues.calls();
    EXPECT_EQ(records[0].argument, "48000/1819304813/9/8/1/8/2/32/0/");
    EXPECT_EQ(records[1].argument, "\xEF\xBB\xBF"
                                   "BlackHole2ch_UID")
        << "byte for byte";
    EXPECT_EQ(records[2].argument, "38400");
    EXPECT_EQ(platform.dispatch.timers()[0]->queue->label(), "tovanel.input-device.capture");
    EXPECT_EQ(platform.dispatch.timers()[0]->interval, std::chrono::seconds(1));
}

TEST_F(InputSource, AnUnreadableUidStillSelectsTheDeviceButBindsNoQueue) {
    hw.devices[blackHole].uid.reset();
    hw.defaults[kAudioHardwarePropertyDefaultOutputDevice] = blackHole;
    startRunning();
    EXPECT_EQ(log.lines()[0], "ok: selected virtual system-audio input BlackHole 2ch, restored "
                              "output Built-in Output");
    EXPECT_EQ(hw.defaults[kAudioHardwarePropertyDefaultInputDevice], blackHole);
    for (const auto& record : platform.audioQueues.calls()) {
        EXPECT_NE(record.call, sim::SimAudioQueues::Call::setCurrentDevice);
    }
}

TEST_F(InputSource, WithoutALoopbackDeviceOnlyExactlyOneLiftsTheRequirement) {
    hw.devices[blackHole].name = "USB Microphone";
    const std::string message =
        "macOS 13 requires a virtual system-audio device. Set Sound Input to BlackHole 2ch and "
        "keep Sound Output on your speaker, then restart PC Tovanel Sender. Current input: Unknown "
        "Input";
    for (const char* value : {"true", "yes", "01", " 1", "1 ", ""}) {
        test::ScopedEnv env("TOVANEL_ALLOW_ANY_INPUT", value);
        EXPECT_EXIT(source->start(), ExitedWithCode(1),
                    "^tovanel-input-device-capture: " + message + "\nonFailure<" + message + ">$")
            << value;
    }
    test::ScopedEnv env("TOVANEL_ALLOW_ANY_INPUT", "1");
    startRunning();
    EXPECT_EQ(log.lines()[0], "ok: opening virtual input device Unknown Input");
    EXPECT_EQ(log.lines()[2],
              "ok: inputBuffers=0 audioBytes=0 format=Unknown Input 48000Hz 2ch CoreAudio input");
}

TEST_F(InputSource, EveryFailingQueueCallEndsTheProcessWithItsStatus) {
    using C = sim::SimAudioQueues::Call;
    struct Case {
        C call;
        OSStatus status;
        int occurrence;
        std::string message;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {C::newInput, 1718449215, 1, "AudioQueueNewInput failed: 1718449215"},
        {C::newInput, 0, 1, "AudioQueueNewInput failed: 0"},
        {C::setCurrentDevice, -66680, 1, "AudioQueueSetProperty CurrentDevice failed: -66680"},
        {C::allocateBuffer, -108, 3, "AudioQueueAllocateBuffer failed: -108"},
        {C::allocateBuffer, 0, 2, "AudioQueueAllocateBuffer failed: 0"},
        {C::enqueueBuffer, -66687, 2, "AudioQueueEnqueueBuffer failed: -66687"},
        {C::start, -66681, 1, "AudioQueueStart failed: -66681"},
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                platform.audioQueues.fail(c.call, c.status, c.occurrence);
                source->start();
                platform.dispatch.runMainLoop();
            },
            ExitedWithCode(1), "tovanel-input-device-capture: " + c.message + "\nonFailure<");
    }
}

TEST_F(InputSource, EachBufferIsSanitisedCountedWrittenAndHandedBack) {
    startRunning();
    auto& queues = platform.audioQueues;
    const std::vector<float> hostile = {2.0f, test::fromBits(0xFF800000), 0.5f, -0.5f};
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::optional<std::uint32_t> claimed;
        std::vector<std::size_t> writes;
        std::string line;
    };
    std::vector<std::uint8_t> ten = test::bytesOf(hostile);
    ten.resize(10);
    const std::vector<Case> cases = {
        {test::bytesOf(std::vector<float>(9600, 0.25f)), {}, {38400}, "1 audioBytes=38400"},
        {ten, {}, {38400, 8}, "2 audioBytes=38408"},
        {{1, 2}, {}, {38400, 8, 0}, "3 audioBytes=38408"},
        {{}, {}, {38400, 8, 0}, "3 audioBytes=38408"},
        {std::vector<std::uint8_t>(38400, 0), 40000, {38400, 8, 0, 38400}, "4 audioBytes=76808"},
    };
    for (const Case& c : cases) {
        const std::size_t lines = log.lines().size();
        ASSERT_TRUE(queues.deliver(c.bytes, c.claimed));
        EXPECT_EQ(queues.enqueuedCount(), 3u) << "handed back";
        EXPECT_EQ(log.lines().size(), lines) << "a buffer handed back says nothing";
        EXPECT_EQ(output->sizes(), c.writes);
        platform.dispatch.fireTimers();
        sim::drain(*platform.dispatch.timers()[0]->queue);
        EXPECT_EQ(log.lines().back(), "ok: inputBuffers=" + c.line +
                                          " format=BlackHole 2ch 48000Hz 2ch CoreAudio input");
    }
    const auto bytes = output->bytes();
    EXPECT_EQ(test::wordsOf({bytes.begin() + 38400, bytes.begin() + 38408}),
              (std::vector<std::uint32_t>{kUpperSampleBoundBits, 0}));
    EXPECT_EQ(test::wordsOf({bytes.end() - 4, bytes.end()}), std::vector<std::uint32_t>{0})
        << "nothing beyond the buffer's capacity was read";
}

TEST_F(InputSource, AFailedHandBackIsOneLineAndNullUserDataIsIgnored) {
    startRunning();
    auto& queues = platform.audioQueues;
    queues.fail(sim::SimAudioQueues::Call::enqueueBuffer, -66687, 4);
    ASSERT_TRUE(queues.deliver(test::bytesOf({0.1f, 0.1f})));
    EXPECT_EQ(log.lines().back(), "ok: inputBuffers=1 audioBytes=8 enqueueError=-66687");
    EXPECT_EQ(queues.enqueuedCount(), 2u);
    const std::size_t callsBefore = queues.calls().size();
    InputDeviceAudioCapture::inputCallback(nullptr, nullptr, nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(queues.calls().size(), callsBefore);
    // Buffers may arrive on another thread while the timer reads the counters.
    std::thread queueThread([&] {
        for (int i = 0; i < 300; ++i) {
            queues.deliver(test::bytesOf({0.1f, 0.1f}));
        }
    });
    for (int i = 0; i < 100; ++i) {
        platform.dispatch.fireTimers();
    }
    queueThread.join();
    platform.dispatch.fireTimers();
    sim::drain(*platform.dispatch.timers()[0]->queue);
    EXPECT_EQ(log.lines().back().rfind("ok: inputBuffers=301 audioBytes=2408 format=", 0), 0u);
}

} // namespace
} // namespace tovanel
