// InputDeviceAudioCapture over the simulated platform: device selection, the queue's set-up and
// every failing call, the status timer, and the bytes and counters of every buffer.
#include "input_capture/input_device_audio_capture.h"
#include "sim/output.h"
#include "sim/sim_platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <thread>

namespace tovanel {
namespace {

using namespace platform;
using namespace test; // the shared helpers and the stream's bounds

class InputSource : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    sim::SimAudioHardware& hw = platform.audioHardware;
    sim::SimAudioQueues& queues = platform.audioQueues;
    std::shared_ptr<sim::RecordingOutput> output = std::make_shared<sim::RecordingOutput>();
    test::StatusLog log;
    std::shared_ptr<InputDeviceAudioCapture> source =
        std::make_shared<InputDeviceAudioCapture>(output, kShowFailure, log.callback());
    test::ScopedEnv allowAny{"TOVANEL_ALLOW_ANY_INPUT", std::nullopt};
    const std::string uid = "\357\273\277BlackHole2ch_UID"; // a byte-order mark leads
    AudioObjectID blackHole = hw.add({"BlackHole 2ch", uid, {2}, {2}, {}});
    AudioObjectID speakers = hw.add({"Built-in Output", "o", {}, {2}, {{0, true}}});
    const std::string format = "BlackHole 2ch 48000Hz 2ch CoreAudio input";

    void SetUp() override { hw.defaults[kAudioHardwarePropertyDefaultOutputDevice] = speakers; }
    // Both phases of start, with a pending Microphone request granted from another thread in
    // between; returns what went to standard error.
    std::string start() {
        ::testing::internal::CaptureStderr();
        source->start();
        platform.dispatch.runMainLoop();
        if (auto& pending = platform.capturePermission.pending) {
            EXPECT_TRUE(queues.calls().empty()) << "no queue while the prompt is up";
            std::thread([&] { pending(true); }).join();
            platform.dispatch.runMainLoop();
        }
        platform.dispatch.fireTimers();
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(InputSource, SelectsTheLoopbackDeviceAndPrimesThreeBuffersBeforeStarting) {
    platform.capturePermission.status = AudioAuthorization::notDetermined; // then granted
    EXPECT_EQ(start(), "tovanel-input-device-capture started\n");
    EXPECT_EQ(log.lines(), (Lines{"ok: selected virtual system-audio input BlackHole 2ch",
                                  "ok: opening virtual input device BlackHole 2ch",
                                  "ok: opening CoreAudio input queue",
                                  "ok: inputBuffers=0 audioBytes=0 format=" + format,
                                  "ok: inputBuffers=0 audioBytes=0 format=" + format,
                                  "ok: inputBuffers=0 audioBytes=0 format=" + format}));
    EXPECT_EQ(hw.defaults[kAudioHardwarePropertyDefaultInputDevice], blackHole);
    std::string calls;
    for (const auto& record : queues.calls()) {
        calls += std::to_string(int(record.call)) + ":" + record.argument + " ";
    }
    EXPECT_EQ(calls, "0:48000/1819304813/9/8/1/8/2/32/0/ 1:" + uid +
                         " 2:38400 3: 2:38400 3: 2:38400 3: 4: ")
        << "the UID byte for byte";
}

TEST_F(InputSource, AnUnreadableUidStillSelectsTheDeviceButBindsNoQueue) {
    hw.devices[blackHole].uid.reset();
    hw.defaults[kAudioHardwarePropertyDefaultOutputDevice] = blackHole;
    start();
    EXPECT_EQ(log.lines()[0], "ok: selected virtual system-audio input BlackHole 2ch, restored "
                              "output Built-in Output");
    EXPECT_EQ(hw.defaults[kAudioHardwarePropertyDefaultInputDevice], blackHole);
    EXPECT_EQ(queues.calls().at(1).call, sim::SimAudioQueues::Call::allocateBuffer);
}

TEST_F(InputSource, WithoutALoopbackDeviceOnlyExactlyOneLiftsTheRequirement) {
    hw.devices[blackHole].name = "USB Microphone";
    const std::string message =
        "macOS 13 requires a virtual system-audio device. Set Sound Input to BlackHole 2ch and "
        "keep Sound Output on your speaker, then restart PC Tovanel Sender. Current input: Unknown "
        "Input";
    for (const char* value : {"true", "01", " 1", "1 ", ""}) {
        test::ScopedEnv env("TOVANEL_ALLOW_ANY_INPUT", value);
        EXPECT_EXIT(source->start(), ExitedWithCode(1),
                    "^tovanel-input-device-capture: " + message + "\nonFailure<" + message + ">$");
    }
    test::ScopedEnv env("TOVANEL_ALLOW_ANY_INPUT", "1");
    start();
    EXPECT_EQ(log.lines()[0], "ok: opening virtual input device Unknown Input");
    EXPECT_EQ(log.lines()[2],
              "ok: inputBuffers=0 audioBytes=0 format=Unknown Input 48000Hz 2ch CoreAudio input");
}

// Denied, restricted, refused when asked, or unknowable: the source ends before any queue exists.
TEST_F(InputSource, WithoutTheMicrophonePermissionNoQueueIsMade) {
    using A = AudioAuthorization;
    const std::string denied =
        "Microphone access is denied, so the input device would record only silence. Allow the "
        "application that started this program, PC Tovanel Sender or your terminal, in System "
        "Settings, Privacy & Security, Microphone, then start it again.";
    for (const auto& [status, message] : std::vector<std::pair<A, std::string>>{
             {A::denied, denied},
             {A::notDetermined, denied},
             {A::restricted, "Microphone access is restricted on this Mac by a management profile "
                             "or Screen Time, so the input device would record only silence; only "
                             "an administrator can allow it in System Settings, Privacy & "
                             "Security, Microphone."},
             {A::authorized, "Microphone access cannot be checked: no AVFoundation"}}) {
        platform.capturePermission.status = status;
        if (status == A::authorized) { // the last case: the status cannot be learnt
            platform.capturePermission.failure = PlatformError{"dlopen", 0, "no AVFoundation"};
        }
        EXPECT_EXIT((source->start(), platform.capturePermission.pending(false), // when asked
                     platform.dispatch.runMainLoop()),
                    ExitedWithCode(1),
                    "^tovanel-input-device-capture: " + message + "\nonFailure<" + message + ">$");
    }
}

TEST_F(InputSource, EveryFailingQueueCallEndsTheProcessWithItsStatus) {
    using C = sim::SimAudioQueues::Call;
    // clang-format off
    const std::vector<std::tuple<C, OSStatus, int, std::string>> cases = {
        {C::newInput, 1718449215, 1, "AudioQueueNewInput failed: 1718449215"},
        {C::newInput, 0, 1, "AudioQueueNewInput failed: 0"}, // no queue
        {C::setCurrentDevice, -66680, 1, "AudioQueueSetProperty CurrentDevice failed: -66680"},
        {C::allocateBuffer, -108, 3, "AudioQueueAllocateBuffer failed: -108"},
        {C::allocateBuffer, 0, 2, "AudioQueueAllocateBuffer failed: 0"}, // no buffer
        {C::enqueueBuffer, -66687, 2, "AudioQueueEnqueueBuffer failed: -66687"},
        {C::start, -66681, 1, "AudioQueueStart failed: -66681"},
    };
    // clang-format on
    for (const auto& [call, status, occurrence, message] : cases) {
        EXPECT_EXIT(
            {
                queues.fail(call, status, occurrence);
                source->start();
                platform.dispatch.runMainLoop();
            },
            ExitedWithCode(1), "tovanel-input-device-capture: " + message + "\nonFailure<");
    }
}

TEST_F(InputSource, EachBufferIsSanitisedCountedWrittenAndHandedBack) {
    start();
    std::vector<std::uint8_t> ten = bytesOf({2.0f, fromBits(0xFF800000), 0.5f});
    ten.resize(10);
    // clang-format off
    const std::vector<std::tuple<std::vector<std::uint8_t>, std::optional<std::uint32_t>,
                                 std::vector<std::size_t>, std::string>> cases = {
        {bytesOf(std::vector<float>(9600, 0.25f)), {}, {38400}, "1 audioBytes=38400"},
        {ten, {}, {38400, 8}, "2 audioBytes=38408"},                         // a partial sample
        {{1, 2}, {}, {38400, 8, 0}, "3 audioBytes=38408"},                   // only a partial one
        {{}, {}, {38400, 8, 0}, "3 audioBytes=38408"},                       // empty: nothing
        {std::vector<std::uint8_t>(38400, 0), 40000, {38400, 8, 0, 38400}, "4 audioBytes=76808"},
    };
    // clang-format on
    for (const auto& [bytes, claimed, writes, counters] : cases) {
        const std::size_t lines = log.lines().size();
        ASSERT_TRUE(queues.deliver(bytes, claimed));
        EXPECT_EQ(queues.enqueuedCount(), 3u) << "handed back";
        EXPECT_EQ(log.lines().size(), lines) << "a buffer handed back says nothing";
        EXPECT_EQ(output->sizes(), writes);
        platform.dispatch.fireTimers();
        EXPECT_EQ(log.lines().back(), "ok: inputBuffers=" + counters + " format=" + format);
    }
    const auto written = output->bytes();
    EXPECT_EQ(test::wordsOf({written.begin() + 38400, written.begin() + 38408}),
              (std::vector<std::uint32_t>{test::kHi, 0}));
    queues.fail(sim::SimAudioQueues::Call::enqueueBuffer, -66687, 9); // a failed hand-back
    ASSERT_TRUE(queues.deliver(bytesOf({0.1f, 0.1f})));
    EXPECT_EQ(log.lines().back(), "ok: inputBuffers=5 audioBytes=76816 enqueueError=-66687");
    EXPECT_EQ(queues.enqueuedCount(), 2u);
    const std::size_t callsBefore = queues.calls().size();
    InputDeviceAudioCapture::inputCallback(nullptr, nullptr, nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(queues.calls().size(), callsBefore) << "no source: not even a hand-back";
    std::thread queueThread([&] { // buffers arrive on another thread while the timer reads
        for (int i = 0; i < 300; ++i) {
            queues.deliver(bytesOf({0.1f, 0.1f}));
        }
    });
    for (int i = 0; i < 100; ++i) {
        platform.dispatch.fireTimers();
    }
    queueThread.join();
    platform.dispatch.fireTimers();
    EXPECT_EQ(log.lines().back(), "ok: inputBuffers=305 audioBytes=79216 format=" + format);
}

} // namespace
} // namespace tovanel
