// SystemAudioCapture over the simulated platform: set-up stages and their lines and failures,
// the stream's settings and outputs, the status timer, the stop notification, and the sample
// handler's counting, conversion, failure reports and bytes on the wire.
#include "capture/system_audio_capture.h"
#include "probes/system_audio_capture_probe.h"
#include "sim/output.h"
#include "sim/sample_buffer.h"
#include "sim/sim_platform.h"
#include "status_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>

namespace tovanel {
namespace {

using namespace platform;
using Probe = SystemAudioCaptureProbe;
using sim::SimShareableContent;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using ::testing::StrEq;

const PlatformError kBoom{"test", -3802,
                          "The user declined TCCs for application, window, display capture"};

std::shared_ptr<ShareableContent>
content(std::vector<std::pair<std::int64_t, std::int64_t>> displays, std::size_t windows = 41,
        std::size_t apps = 17) {
    return std::make_shared<SimShareableContent>(std::move(displays), windows, apps);
}

std::vector<float> ramp(std::size_t frames, float start, float step) {
    std::vector<float> values(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        values[i] = start + step * static_cast<float>(i);
    }
    return values;
}

std::vector<float> floatsOf(const std::vector<std::uint8_t>& bytes) {
    std::vector<float> values(bytes.size() / 4);
    if (!values.empty()) {
        std::memcpy(values.data(), bytes.data(), values.size() * 4);
    }
    return values;
}

class ScreenCaptureSource : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    std::shared_ptr<sim::RecordingOutput> output = std::make_shared<sim::RecordingOutput>();
    test::StatusLog status;

    std::shared_ptr<SystemAudioCapture> makeSource(bool withStatus = true) {
        MessageCallback onFailure = [](const std::string& message) {
            std::fputs(("[onFailure:" + message + "]").c_str(), stderr);
        };
        return std::make_shared<SystemAudioCapture>(
            output, onFailure, withStatus ? status.callback() : MessageCallback{});
    }

    // Runs the source up to a started stream; returns what it wrote to standard error meanwhile.
    std::string startRunning(SystemAudioCapture& source) {
        source.start();
        platform.screenCapture.completeContentRequest(content({{1920, 1080}}), std::nullopt);
        ::testing::internal::CaptureStderr();
        platform.screenCapture.lastStream()->completeStart(std::nullopt);
        const std::string standardError = ::testing::internal::GetCapturedStderr();
        sim::drain(Probe::statusQueue(source)); // the timer's first tick
        return standardError;
    }

    void deliverAudio(SystemAudioCapture& source, std::shared_ptr<const SampleBuffer> buffer,
                      StreamOutputType reported = StreamOutputType::audio) {
        ASSERT_TRUE(platform.screenCapture.lastStream()->deliver(
            std::move(buffer), StreamOutputType::audio, reported));
        sim::drain(Probe::sampleQueue(source));
    }

    void addSpeakers(bool virtualDefault) {
        sim::SimAudioHardware::Device speaker;
        speaker.name = "Built-in Output";
        speaker.outputBuffers = {2};
        speaker.outputVolume[0] = {};
        const auto speakerID = platform.audioHardware.addDevice(speaker);
        sim::SimAudioHardware::Device blackHole;
        blackHole.name = "BlackHole 2ch";
        blackHole.inputBuffers = {2};
        blackHole.outputBuffers = {2};
        const auto blackHoleID = platform.audioHardware.addDevice(blackHole);
        platform.audioHardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice,
                                          virtualDefault ? blackHoleID : speakerID);
    }
};

// --- set-up -----------------------------------------------------------------------------------

TEST_F(ScreenCaptureSource, FirstLinesWithoutARestoredOutput) {
    addSpeakers(false);
    auto source = makeSource();
    source->start();
    EXPECT_THAT(status.lines(), ElementsAre("ok: requesting ScreenCaptureKit content"));
    EXPECT_THAT(platform.screenCapture.events(), ElementsAre("content(false,false)"));
    EXPECT_THAT(platform.audioHardware.writes(), IsEmpty());
}

TEST_F(ScreenCaptureSource, FirstLinesWithARestoredOutput) {
    addSpeakers(true);
    auto source = makeSource();
    source->start();
    EXPECT_THAT(status.lines(), ElementsAre("ok: restored PC tovanel output Built-in Output",
                                            "ok: requesting ScreenCaptureKit content"));
    EXPECT_EQ(platform.audioHardware.writes().size(), 2u);
}

TEST_F(ScreenCaptureSource, WithoutOnStatusNoLineIsMadeButSetUpRunsTheSame) {
    addSpeakers(true);
    auto source = makeSource(false);
    const std::string standardError = startRunning(*source);
    EXPECT_EQ(standardError, "tovanel-macos-capture started\n");
    EXPECT_EQ(platform.audioHardware.writes().size(), 2u); // the output is still restored
    deliverAudio(*source, sim::audioSampleBuffer(sim::floatDescription(48000, 2, false),
                                                 {ramp(8, 0, 0.01f), ramp(8, 0, -0.01f)}));
    platform.dispatch.fireTimers();
    sim::drain(Probe::statusQueue(*source));
    EXPECT_THAT(status.lines(), IsEmpty());
    EXPECT_EQ(output->bytes().size(), 64u);
}

TEST_F(ScreenCaptureSource, ContentArrivingAfterTheSourceIsGoneDoesNothing) {
    auto source = makeSource();
    source->start();
    source.reset();
    platform.screenCapture.completeContentRequest(content({{1920, 1080}}), std::nullopt);
    EXPECT_THAT(platform.screenCapture.events(), ElementsAre("content(false,false)"));
    EXPECT_EQ(platform.screenCapture.lastStream(), nullptr);
    EXPECT_THAT(status.lines(), ElementsAre("ok: requesting ScreenCaptureKit content"));
}

TEST_F(ScreenCaptureSource, BuildsTheStreamForTheFirstOfSeveralDisplays) {
    auto source = makeSource();
    source->start();
    platform.screenCapture.completeContentRequest(content({{3024, 1964}, {5120, 2880}}, 41, 17),
                                                  std::nullopt);
    EXPECT_THAT(status.lines(),
                ElementsAre("ok: requesting ScreenCaptureKit content",
                            "ok: starting display capture displays=2 windows=41 apps=17"));
    const auto stream = platform.screenCapture.lastStream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->display().width, 3024);
    EXPECT_EQ(stream->display().height, 1964);
    StreamConfiguration expected;
    expected.width = 3024;
    expected.height = 1964;
    expected.minimumFrameInterval = {1, 30};
    expected.queueDepth = 3;
    expected.showsCursor = false;
    expected.capturesAudio = true;
    expected.sampleRate = 48000;
    expected.channelCount = 2;
    expected.excludesCurrentProcessAudio = true;
    EXPECT_EQ(stream->configuration(), expected);
    EXPECT_THAT(platform.screenCapture.events(),
                ElementsAre("content(false,false)", "filter(3024x1964)", "stream",
                            "output(screen,tovanel.capture.screen)",
                            "output(audio,tovanel.capture.samples)", "start"));
    EXPECT_TRUE(Probe::hasStream(*source)); // kept before the start completes
}

TEST_F(ScreenCaptureSource, EmptyCountsArePlainZeros) {
    auto source = makeSource();
    source->start();
    platform.screenCapture.completeContentRequest(content({{1, 1}}, 0, 0), std::nullopt);
    EXPECT_EQ(status.last(), "ok: starting display capture displays=1 windows=0 apps=0");
}

// Each set-up failure ends the process with its line on stderr and the bare message to onFailure.
struct SetUpFailure {
    const char* name;
    std::function<void(sim::SimPlatform&)> provoke;
    std::string message;
    std::string bannerFirst = {}; // what standard error shows before the failure line
};

class SetUpFailures : public ScreenCaptureSource,
                      public ::testing::WithParamInterface<SetUpFailure> {};

TEST_P(SetUpFailures, EndTheProcessThroughFail) {
    auto source = makeSource();
    source->start();
    const std::string& message = GetParam().message;
    EXPECT_EXIT(GetParam().provoke(platform), ::testing::ExitedWithCode(1),
                StrEq(GetParam().bannerFirst + "tovanel-macos-capture: " + message +
                      "\n[onFailure:" + message + "]"));
}

INSTANTIATE_TEST_SUITE_P(
    Stages, SetUpFailures,
    ::testing::Values(
        SetUpFailure{"ContentError",
                     [](auto& p) { p.screenCapture.completeContentRequest(nullptr, kBoom); },
                     "shareable content unavailable: " + kBoom.description},
        SetUpFailure{"ErrorWinsOverContent",
                     [](auto& p) {
                         p.screenCapture.completeContentRequest(content({{1, 1}}), kBoom);
                     },
                     "shareable content unavailable: " + kBoom.description},
        SetUpFailure{"NeitherContentNorError",
                     [](auto& p) { p.screenCapture.completeContentRequest(nullptr, std::nullopt); },
                     "no shareable content available"},
        SetUpFailure{
            "NoDisplay",
            [](auto& p) { p.screenCapture.completeContentRequest(content({}), std::nullopt); },
            "no display available for ScreenCaptureKit audio capture"},
        SetUpFailure{"AudioOutputRefused",
                     [](auto& p) {
                         p.screenCapture.failAddingOutput(StreamOutputType::audio,
                                                          {"add", -1, "audio refused"});
                         p.screenCapture.completeContentRequest(content({{1, 1}}), std::nullopt);
                     },
                     "failed to add audio output: audio refused"},
        SetUpFailure{"ScreenOutputRefusedUsesTheSameText",
                     [](auto& p) {
                         p.screenCapture.failAddingOutput(StreamOutputType::screen,
                                                          {"add", -1, "screen refused"});
                         p.screenCapture.completeContentRequest(content({{1, 1}}), std::nullopt);
                     },
                     "failed to add audio output: screen refused"},
        SetUpFailure{"StartFails",
                     [](auto& p) {
                         p.screenCapture.completeContentRequest(content({{1, 1}}), std::nullopt);
                         p.screenCapture.lastStream()->completeStart(kBoom);
                     },
                     "failed to start capture: " + kBoom.description},
        SetUpFailure{"StreamStops",
                     [](auto& p) {
                         p.screenCapture.completeContentRequest(content({{1, 1}}), std::nullopt);
                         p.screenCapture.lastStream()->completeStart(std::nullopt);
                         p.screenCapture.lastStream()->stop({"stop", -3817, "stopped by the user"});
                     },
                     "capture stopped: stopped by the user", "tovanel-macos-capture started\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScreenCaptureSource, AScreenOutputFailureNeverAddsTheAudioOutput) {
    // onFailure runs just before the exit: it shows what the service was asked for by then.
    MessageCallback showEvents = [this](const std::string&) {
        for (const auto& event : platform.screenCapture.events()) {
            std::fputs((event + ";").c_str(), stderr);
        }
    };
    auto source = std::make_shared<SystemAudioCapture>(output, showEvents, MessageCallback{});
    source->start();
    platform.screenCapture.failAddingOutput(StreamOutputType::screen, {"add", -1, "no"});
    EXPECT_EXIT(platform.screenCapture.completeContentRequest(content({{1, 1}}), std::nullopt),
                ::testing::ExitedWithCode(1),
                StrEq("tovanel-macos-capture: failed to add audio output: no\n"
                      "content(false,false);filter(1x1);stream;"
                      "output(screen,tovanel.capture.screen);"));
}

TEST_F(ScreenCaptureSource, StartedBannerThenTimerWhoseFirstLineComesAtOnce) {
    auto source = makeSource();
    const std::string standardError = startRunning(*source);
    EXPECT_EQ(standardError, "tovanel-macos-capture started\n");
    const auto timers = platform.dispatch.timers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].queueLabel, "tovanel.capture.status");
    EXPECT_EQ(timers[0].interval, std::chrono::seconds(1));
    EXPECT_EQ(status.last(), "ok: screenFrames=0 audioBuffers=0 audioBytes=0 format=none");
}

TEST_F(ScreenCaptureSource, TimerLinesShowGrowingTotals) {
    auto source = makeSource();
    startRunning(*source);
    auto& stream = *platform.screenCapture.lastStream();
    for (int i = 0; i < 3; ++i) {
        stream.deliver(sim::screenSampleBuffer(), StreamOutputType::screen);
    }
    sim::drain(Probe::screenQueue(*source));
    deliverAudio(*source, sim::audioSampleBuffer(sim::floatDescription(48000, 2, false),
                                                 {ramp(100, 0, 0.001f), ramp(100, 0, 0.001f)}));
    platform.dispatch.fireTimers();
    sim::drain(Probe::statusQueue(*source));
    EXPECT_EQ(status.last(),
              "ok: screenFrames=3 audioBuffers=1 audioBytes=800 format=converted Float32 PCM");
    deliverAudio(*source, sim::audioSampleBuffer(sim::floatDescription(48000, 2, false),
                                                 {ramp(10, 0, 0.001f), ramp(10, 0, 0.001f)}));
    platform.dispatch.fireTimers();
    sim::drain(Probe::statusQueue(*source));
    EXPECT_EQ(status.last(),
              "ok: screenFrames=3 audioBuffers=2 audioBytes=880 format=converted Float32 PCM");
}

TEST_F(ScreenCaptureSource, ATickThatRunsAfterTheSourceIsGoneSaysNothing) {
    auto source = makeSource();
    startRunning(*source);
    const std::size_t before = status.lines().size();
    // Hold the status queue so a tick waits behind it, then let the source go.
    auto& statusQueue = Probe::statusQueue(*source);
    std::promise<void> release;
    std::promise<void> holding;
    statusQueue.async([&, future = release.get_future().share()] {
        holding.set_value();
        future.wait();
    });
    holding.get_future().wait();
    platform.dispatch.fireTimers();
    source.reset(); // the tick is already queued; only its weak reference is left
    release.set_value();
    sim::drain(statusQueue); // the simulated timer keeps the queue alive
    EXPECT_EQ(status.lines().size(), before);
}

// --- the sample handler -------------------------------------------------------------------------

TEST_F(ScreenCaptureSource, ScreenBuffersAndUnknownTypesAreOnlyCountedOrIgnored) {
    auto source = makeSource();
    startRunning(*source);
    auto& stream = *platform.screenCapture.lastStream();
    stream.deliver(sim::screenSampleBuffer(), StreamOutputType::screen);
    stream.deliver(sim::screenSampleBuffer(), StreamOutputType::audio, StreamOutputType{7});
    sim::drain(Probe::screenQueue(*source));
    sim::drain(Probe::sampleQueue(*source));
    EXPECT_EQ(Probe::screenFrames(*source), 1);
    EXPECT_EQ(Probe::audioBuffers(*source), 0);
    EXPECT_TRUE(output->bytes().empty());
    EXPECT_EQ(status.lines().size(), 3u); // set-up lines and the first timer line only
}

TEST_F(ScreenCaptureSource, TargetFormatBuffersAreWrittenAsLittleEndianLeftRightPairs) {
    auto source = makeSource();
    startRunning(*source);
    const auto left = ramp(480, -0.5f, 0.001f);
    const auto right = ramp(480, 0.25f, -0.0005f);
    deliverAudio(*source,
                 sim::audioSampleBuffer(sim::floatDescription(48000, 2, false), {left, right}));
    deliverAudio(*source, sim::audioSampleBuffer(sim::floatDescription(48000, 2, false),
                                                 {{0.1f, 2.0f}, {std::nanf(""), -0.3f}}));
    const auto bytes = output->bytes();
    ASSERT_EQ(bytes.size(), 8u * 482);
    EXPECT_THAT(output->writeSizes(), ElementsAre(8u * 480, 8u * 2));
    const auto samples = floatsOf(bytes);
    for (std::size_t i = 0; i < 480; ++i) {
        ASSERT_EQ(samples[2 * i], left[i]);
        ASSERT_EQ(samples[2 * i + 1], right[i]);
    }
    // Sanitised on the way out: clamped and made finite.
    EXPECT_EQ(std::bit_cast<std::uint32_t>(samples[960]), std::bit_cast<std::uint32_t>(0.1f));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(samples[961]), 0u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(samples[962]), 0x3F733333u);
    EXPECT_FALSE(Probe::hasConverter(*source));
    EXPECT_FALSE(Probe::hasSourceFormatDescription(*source));
    EXPECT_EQ(Probe::audioBytes(*source), 8 * 482);
}

struct CapacityCase {
    const char* name;
    AudioStreamBasicDescription description;
    std::size_t frames;
    std::uint32_t capacity;
};

class OutputCapacity : public ScreenCaptureSource,
                       public ::testing::WithParamInterface<CapacityCase> {};

TEST_P(OutputCapacity, IsTheConvertedFrameCountTruncatedPlusSixteen) {
    auto source = makeSource();
    startRunning(*source);
    const auto& param = GetParam();
    std::vector<std::vector<float>> channels(param.description.mChannelsPerFrame,
                                             ramp(param.frames, 0, 0.0001f));
    deliverAudio(*source, sim::audioSampleBuffer(param.description, channels));
    EXPECT_THAT(platform.media.outputCapacities(), ElementsAre(param.capacity));
    EXPECT_EQ(platform.media.convertersMade(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, OutputCapacity,
    ::testing::Values(
        CapacityCase{"Int16At44100", sim::integerDescription(44100, 2, true, 16), 1024, 1130},
        CapacityCase{"MonoFloatAt24000", sim::floatDescription(24000, 1, false), 1024, 2064},
        CapacityCase{"InterleavedFloatAt48000", sim::floatDescription(48000, 2, true), 480, 496}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScreenCaptureSource, ConverterIsKeptForEqualDescriptionsAndReplacedForOthers) {
    auto source = makeSource();
    startRunning(*source);
    const auto stereo = [](const AudioStreamBasicDescription& description) {
        return sim::audioSampleBuffer(description, {ramp(441, 0, 0.001f), ramp(441, 0, 0.001f)});
    };
    deliverAudio(*source, stereo(sim::integerDescription(44100, 2, true, 16)));
    deliverAudio(*source, stereo(sim::integerDescription(44100, 2, true, 16)));
    EXPECT_EQ(platform.media.convertersMade(), 1u);
    // Target-format buffers in between leave the converter alone.
    deliverAudio(*source, stereo(sim::floatDescription(48000, 2, false)));
    deliverAudio(*source, stereo(sim::integerDescription(44100, 2, true, 16)));
    EXPECT_EQ(platform.media.convertersMade(), 1u);
    deliverAudio(*source, stereo(sim::floatDescription(44100, 2, true)));
    EXPECT_EQ(platform.media.convertersMade(), 2u);
    EXPECT_TRUE(Probe::hasConverter(*source));
}

TEST_F(ScreenCaptureSource, AConverterThatHoldsEverythingWritesAndReportsNothing) {
    auto source = makeSource();
    startRunning(*source);
    sim::SimMedia::Faults faults;
    faults.converterHoldsEverything = true;
    platform.media.setFaults(faults);
    const std::size_t linesBefore = status.lines().size();
    ::testing::internal::CaptureStderr();
    deliverAudio(*source, sim::audioSampleBuffer(sim::integerDescription(44100, 2, true, 16),
                                                 {ramp(441, 0, 0.001f), ramp(441, 0, 0.001f)}));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(output->bytes().empty());
    EXPECT_EQ(status.lines().size(), linesBefore);
    EXPECT_EQ(Probe::audioBuffers(*source), 1);
    EXPECT_EQ(Probe::audioBytes(*source), 0);
    EXPECT_EQ(Probe::lastAudioDescription(*source), "none");
}

// Every way one buffer fails: one stderr line, one status line, counted, and capture goes on.
struct BufferFailure {
    const char* name;
    sim::SampleBufferFaults bufferFaults;
    sim::SimMedia::Faults mediaFaults;
    AudioStreamBasicDescription description;
    std::string expected;
};

std::string captureErrorText(int code) {
    return "The operation couldn\xE2\x80\x99t be completed. (TovanelMacOSCapture.CaptureError "
           "error " +
           std::to_string(code) + ".)";
}

sim::SampleBufferFaults bufferFaults(std::function<void(sim::SampleBufferFaults&)> set) {
    sim::SampleBufferFaults faults;
    set(faults);
    return faults;
}

sim::SimMedia::Faults mediaFaults(std::function<void(sim::SimMedia::Faults&)> set) {
    sim::SimMedia::Faults faults;
    set(faults);
    return faults;
}

const AudioStreamBasicDescription kInt16 = sim::integerDescription(44100, 2, true, 16);
const AudioStreamBasicDescription kTarget = sim::floatDescription(48000, 2, false);

class BufferFailures : public ScreenCaptureSource,
                       public ::testing::WithParamInterface<BufferFailure> {};

TEST_P(BufferFailures, AreReportedTwiceAndCaptureContinues) {
    auto source = makeSource();
    startRunning(*source);
    // A good buffer first, so the description has been set.
    deliverAudio(*source, sim::audioSampleBuffer(kTarget, {ramp(4, 0, 0.1f), ramp(4, 0, 0.1f)}));
    const auto& param = GetParam();
    platform.media.setFaults(param.mediaFaults);
    ::testing::internal::CaptureStderr();
    deliverAudio(*source,
                 sim::audioSampleBuffer(param.description, {ramp(64, 0, 0.01f), ramp(64, 0, 0.01f)},
                                        param.bufferFaults));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "audio conversion failed: " + param.expected + "\n");
    EXPECT_EQ(status.last(),
              "ok: screenFrames=0 audioBuffers=2 audioBytes=32 conversionError=" + param.expected);
    EXPECT_EQ(output->bytes().size(), 32u);
    EXPECT_EQ(Probe::lastAudioDescription(*source), "converted Float32 PCM");

    platform.media.setFaults({});
    deliverAudio(*source, sim::audioSampleBuffer(kTarget, {ramp(4, 0, 0.1f), ramp(4, 0, 0.1f)}));
    EXPECT_EQ(output->bytes().size(), 64u);
    EXPECT_EQ(Probe::audioBuffers(*source), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, BufferFailures,
    ::testing::Values(
        BufferFailure{"SizeQueryFails",
                      bufferFaults([](auto& f) { f.sizeQueryStatus = -12731; }),
                      {},
                      kInt16,
                      captureErrorText(0)},
        BufferFailure{"SizeIsZero",
                      bufferFaults([](auto& f) { f.sizeNeeded = 0; }),
                      {},
                      kInt16,
                      captureErrorText(0)},
        BufferFailure{"FillFails",
                      bufferFaults([](auto& f) { f.fillStatus = -12737; }),
                      {},
                      kInt16,
                      captureErrorText(0)},
        BufferFailure{"DataMissing",
                      bufferFaults([](auto& f) { f.nullData = true; }),
                      {},
                      kInt16,
                      captureErrorText(0)},
        BufferFailure{"FewerFramesThanAnnounced",
                      bufferFaults([](auto& f) { f.numSamples = 65; }),
                      {},
                      kInt16,
                      captureErrorText(0)},
        BufferFailure{"NoFormatDescription",
                      bufferFaults([](auto& f) { f.withoutFormatDescription = true; }),
                      {},
                      kInt16,
                      captureErrorText(1)},
        BufferFailure{"NoStreamDescription",
                      bufferFaults([](auto& f) { f.withoutStreamDescription = true; }),
                      {},
                      kInt16,
                      captureErrorText(2)},
        BufferFailure{"NotLinearPCM",
                      {},
                      {},
                      [] {
                          auto description = kInt16;
                          description.mFormatID = fourCharCode("aac ");
                          return description;
                      }(),
                      captureErrorText(3)},
        BufferFailure{"NoTargetFormat",
                      {},
                      mediaFaults([](auto& f) { f.failTargetFormat = true; }),
                      kInt16,
                      captureErrorText(4)},
        BufferFailure{"NoConverter",
                      {},
                      mediaFaults([](auto& f) { f.failConverter = true; }),
                      kInt16,
                      captureErrorText(5)},
        BufferFailure{
            "SourceRateZero", {}, {}, sim::integerDescription(0, 2, true, 16), captureErrorText(5)},
        BufferFailure{"NoCopyBuffer",
                      {},
                      mediaFaults([](auto& f) { f.failCopyBuffer = true; }),
                      kInt16,
                      captureErrorText(6)},
        BufferFailure{"NoOutputBuffer",
                      {},
                      mediaFaults([](auto& f) { f.failOutputBuffer = true; }),
                      kInt16,
                      captureErrorText(6)},
        BufferFailure{"NegativeSampleCount",
                      bufferFaults([](auto& f) { f.numSamples = -1; }),
                      {},
                      kInt16,
                      captureErrorText(6)},
        BufferFailure{
            "ConverterError",
            {},
            mediaFaults([](auto& f) {
                f.converterError = PlatformError{
                    "convert", -50,
                    "The operation couldn\xE2\x80\x99t be completed. (OSStatus error -50.)"};
            }),
            kInt16,
            "The operation couldn\xE2\x80\x99t be completed. (OSStatus error -50.)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScreenCaptureSource, AListAnnouncingMoreBuffersThanItHoldsIsReadOnlyAsFarAsItReaches) {
    auto source = makeSource();
    startRunning(*source);
    const auto left = ramp(16, 0.1f, 0.01f);
    const auto right = ramp(16, -0.1f, -0.01f);
    deliverAudio(*source, sim::audioSampleBuffer(kTarget, {left, right}, bufferFaults([](auto& f) {
                                                     f.announcedBufferCount = 1000;
                                                 })));
    const auto samples = floatsOf(output->bytes());
    ASSERT_EQ(samples.size(), 32u);
    EXPECT_EQ(samples[30], left[15]);
    EXPECT_EQ(samples[31], right[15]);
}

// Found by fuzzing: the frame count alone used to size the copy's PCM buffer before the list was
// checked, so a buffer announcing a billion frames over 64 reserved 8 GB before it was refused.
TEST_F(ScreenCaptureSource, AFrameCountTheListCannotBackIsRefusedBeforeAnyBufferIsMade) {
    auto source = makeSource();
    startRunning(*source);
    ::testing::internal::CaptureStderr();
    deliverAudio(*source, sim::audioSampleBuffer(
                              kTarget, {ramp(64, 0, 0.01f), ramp(64, 0, 0.01f)},
                              bufferFaults([](auto& f) { f.numSamples = 1'000'000'000; })));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "audio conversion failed: " + captureErrorText(0) + "\n");
    EXPECT_THAT(platform.media.outputCapacities(), IsEmpty()); // no buffer in the target layout
    EXPECT_TRUE(output->bytes().empty());
    EXPECT_EQ(Probe::audioBuffers(*source), 1);
}

TEST_F(ScreenCaptureSource, WithoutOnStatusAFailureIsOnlyTheStandardErrorLine) {
    auto source = makeSource(false);
    startRunning(*source);
    ::testing::internal::CaptureStderr();
    deliverAudio(*source, sim::audioSampleBuffer(
                              kInt16, {{0.1f}, {0.1f}},
                              bufferFaults([](auto& f) { f.withoutFormatDescription = true; })));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "audio conversion failed: " + captureErrorText(1) + "\n");
    EXPECT_THAT(status.lines(), IsEmpty());
    EXPECT_EQ(Probe::audioBuffers(*source), 1);
}

TEST(CaptureErrorText, NamesTheDomainAndTheCodeButNotTheStatus) {
    EXPECT_EQ(
        CaptureError(CaptureError::Case::audioBufferListUnavailable, -12737).localizedDescription(),
        captureErrorText(0));
    EXPECT_EQ(CaptureError(CaptureError::Case::bufferAllocationFailed).localizedDescription(),
              captureErrorText(6));
}

} // namespace
} // namespace tovanel
