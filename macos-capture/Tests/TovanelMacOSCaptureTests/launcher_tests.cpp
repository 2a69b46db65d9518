// Keyword list, mode selection, the capture-source failure path and construction of both sources.
#include "capture/capture_source.h"
#include "capture/input_device_audio_capture.h"
#include "capture/system_audio_capture.h"
#include "devices/virtual_input_keywords.h"
#include "launcher/launch_mode.h"
#include "probes/input_device_audio_capture_probe.h"
#include "probes/system_audio_capture_probe.h"
#include "sim/output.h"
#include "sim/sim_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovanel {

namespace {

using ::testing::ElementsAre;
using ::testing::StrEq;

std::vector<unsigned> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(VirtualInputKeywords, HoldsTheNineEntriesInOrder) {
    EXPECT_THAT(virtualInputKeywords,
                ElementsAre("blackhole", "soundflower", "loopback", "vb-cable", "background music",
                            "aggregate", "multi-output", "multi output",
                            "\xEB\x8B\xA4\xEC\xA4\x91 \xEC\xB6\x9C\xEB\xA0\xA5"));
}

TEST(VirtualInputKeywords, KoreanEntryIsThirteenExactUtf8Bytes) {
    std::vector<unsigned> bytes;
    for (unsigned char c : virtualInputKeywords[8]) {
        bytes.push_back(c);
    }
    EXPECT_THAT(bytes, ElementsAre(0xEB, 0x8B, 0xA4, 0xEC, 0xA4, 0x91, 0x20, 0xEC, 0xB6, 0x9C, 0xEB,
                                   0xA0, 0xA5));
}

TEST(VirtualInputKeywords, EveryEntryIsLowerCaseWithItsByteCount) {
    const std::size_t expectedSizes[] = {9, 11, 8, 8, 16, 9, 12, 12, 13};
    for (std::size_t i = 0; i < virtualInputKeywords.size(); ++i) {
        EXPECT_EQ(virtualInputKeywords[i].size(), expectedSizes[i]) << virtualInputKeywords[i];
        for (char c : virtualInputKeywords[i]) {
            EXPECT_FALSE(c >= 'A' && c <= 'Z') << virtualInputKeywords[i];
        }
    }
    EXPECT_EQ(bytesOf(virtualInputKeywords[6])[5], static_cast<unsigned>('-'));
}

struct ModeCase {
    const char* name;
    std::vector<std::string> arguments;
    LaunchMode expected;
};

class LaunchModeSelection : public ::testing::TestWithParam<ModeCase> {};

TEST_P(LaunchModeSelection, DecidesFromFileNameAndSwitch) {
    EXPECT_EQ(selectLaunchMode(GetParam().arguments), GetParam().expected);
}

constexpr auto capture = LaunchMode::capture;
constexpr auto app = LaunchMode::app;

INSTANTIATE_TEST_SUITE_P(
    Table, LaunchModeSelection,
    ::testing::Values(
        ModeCase{"PlainCaptureName", {"/usr/local/bin/tovanel-macos-capture"}, capture},
        ModeCase{"BundleExecutable",
                 {"/Applications/PC Tovanel Sender.app/Contents/MacOS/PC Tovanel Sender"},
                 app},
        ModeCase{"ShortAppName", {"Tovanel Sender"}, app},
        ModeCase{"ShortAppNameInDirectory", {"./dir/Tovanel Sender"}, app},
        ModeCase{"DirectoryNamedLikeAppDoesNotCount", {"/x/Tovanel Sender/capture"}, capture},
        ModeCase{"LowerCaseName", {"/bin/tovanel sender"}, capture},
        ModeCase{"HyphenInsteadOfSpace", {"/bin/Tovanel-Sender"}, capture},
        ModeCase{"TrailingSpace", {"/bin/Tovanel Sender "}, capture},
        ModeCase{"LeadingSpace", {"/bin/ Tovanel Sender"}, capture},
        ModeCase{"TrailingSlashLeavesEmptyName", {"/bin/Tovanel Sender/"}, capture},
        ModeCase{"PrefixOfName", {"/bin/PC Tovanel Send"}, capture},
        ModeCase{"SwitchFirst", {"/bin/capture", "--app", "x"}, app},
        ModeCase{"SwitchLast", {"/bin/capture", "a", "b", "--app"}, app},
        ModeCase{"SwitchAsElementZero", {"--app"}, app},
        ModeCase{"SwitchUpperCase", {"/bin/capture", "--APP"}, capture},
        ModeCase{"SwitchSingleHyphen", {"/bin/capture", "-app"}, capture},
        ModeCase{"SwitchWithSuffix", {"/bin/capture", "--app=1"}, capture},
        ModeCase{"SwitchWithTrailingSpace", {"/bin/capture", "--app "}, capture},
        ModeCase{"SwitchAsPathTail", {"/bin/--app"}, capture},
        ModeCase{"OtherArgumentsIgnored", {"/bin/capture", "--port", "1"}, capture},
        ModeCase{"AppNameWithOtherArguments", {"Tovanel Sender", "--verbose"}, app},
        ModeCase{"EmptyArgumentVector", {}, capture}, ModeCase{"EmptyElementZero", {""}, capture}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExecutableFileName, IsEverythingAfterTheLastSlash) {
    EXPECT_EQ(executableFileName("/a/b/c"), "c");
    EXPECT_EQ(executableFileName("c"), "c");
    EXPECT_EQ(executableFileName("/a/"), "");
    EXPECT_EQ(executableFileName(""), "");
}

// The failure path, as both sources use it.
struct FailCase {
    const char* name;
    std::string_view prefix;
    std::string message;
};

class FailPath : public ::testing::TestWithParam<FailCase> {};

TEST_P(FailPath, WritesOneLineThenCallsOnFailureWithTheBareMessageThenExitsOne) {
    const auto& param = GetParam();
    const std::string line = std::string(param.prefix) + param.message + "\n";
    // onFailure reports what it got on stderr, after the fail line: the order shows too.
    MessageCallback onFailure = [](const std::string& message) {
        std::fputs(("[onFailure:" + message + "]").c_str(), stderr);
    };
    EXPECT_EXIT(failCaptureSource(param.prefix, param.message, onFailure),
                ::testing::ExitedWithCode(1), StrEq(line + "[onFailure:" + param.message + "]"));
}

TEST_P(FailPath, WithoutOnFailureTheLineIsTheOnlyReport) {
    const auto& param = GetParam();
    EXPECT_EXIT(failCaptureSource(param.prefix, param.message, MessageCallback{}),
                ::testing::ExitedWithCode(1),
                StrEq(std::string(param.prefix) + param.message + "\n"));
}

TEST_P(FailPath, ExitsNormallySoExitHandlersRun) {
    // exit(1), not _exit: stdio buffers are flushed and exit handlers run.
    const auto& param = GetParam();
    EXPECT_EXIT(
        {
            std::atexit([] { std::fputs("[atexit]", stderr); });
            failCaptureSource(param.prefix, param.message, MessageCallback{});
        },
        ::testing::ExitedWithCode(1),
        StrEq(std::string(param.prefix) + param.message + "\n[atexit]"));
}

INSTANTIATE_TEST_SUITE_P(
    BothSources, FailPath,
    ::testing::Values(
        FailCase{"ScreenSource", SystemAudioCapture::failPrefix, "capture stopped: gone"},
        FailCase{"InputSource", InputDeviceAudioCapture::failPrefix, "AudioQueueStart failed: -50"},
        FailCase{"ScreenSourceEmptyMessage", SystemAudioCapture::failPrefix, ""},
        FailCase{"InputSourceEmptyMessage", InputDeviceAudioCapture::failPrefix, ""},
        FailCase{"MessageWithPercentSigns", SystemAudioCapture::failPrefix, "100% %s %n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureSourceTexts, PrefixesAndBannersAreExact) {
    EXPECT_EQ(SystemAudioCapture::failPrefix, "tovanel-macos-capture: ");
    EXPECT_EQ(SystemAudioCapture::failPrefix.size(), 23u);
    EXPECT_EQ(InputDeviceAudioCapture::failPrefix, "tovanel-input-device-capture: ");
    EXPECT_EQ(InputDeviceAudioCapture::failPrefix.size(), 30u);
    EXPECT_EQ(SystemAudioCapture::startedBanner, "tovanel-macos-capture started\n");
    EXPECT_EQ(InputDeviceAudioCapture::startedBanner, "tovanel-input-device-capture started\n");
}

TEST(StartedBanner, IsWrittenToStandardErrorExactly) {
    ::testing::internal::CaptureStderr();
    writeStartedBanner(InputDeviceAudioCapture::startedBanner);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tovanel-input-device-capture started\n");
}

TEST(ReportStatus, BuildsNoLineWhenOnStatusIsAbsent) {
    int built = 0;
    reportStatus(MessageCallback{}, [&] {
        ++built;
        return std::string("ok: x");
    });
    EXPECT_EQ(built, 0);

    std::vector<std::string> lines;
    reportStatus([&](const std::string& line) { lines.push_back(line); },
                 [&] {
                     ++built;
                     return std::string("ok: x");
                 });
    EXPECT_EQ(built, 1);
    EXPECT_THAT(lines, ElementsAre("ok: x"));
}

class CaptureSourceConstruction : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    std::shared_ptr<sim::RecordingOutput> output = std::make_shared<sim::RecordingOutput>();
    int callbackCalls = 0;
    MessageCallback counting = [this](const std::string&) { ++callbackCalls; };
};

TEST_F(CaptureSourceConstruction, SystemAudioCaptureMakesItsThreeQueuesAndDoesNothingElse) {
    ::testing::internal::CaptureStderr();
    auto source = std::make_shared<SystemAudioCapture>(output, counting, counting);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_THAT(
        platform.dispatch.queueLabels(),
        ElementsAre("tovanel.capture.samples", "tovanel.capture.screen", "tovanel.capture.status"));
    EXPECT_THAT(
        SystemAudioCaptureProbe::queueLabels(*source),
        ElementsAre("tovanel.capture.samples", "tovanel.capture.screen", "tovanel.capture.status"));
    EXPECT_TRUE(SystemAudioCaptureProbe::holdsDefaults(*source));
    EXPECT_TRUE(platform.dispatch.timers().empty());
    EXPECT_TRUE(output->bytes().empty());
    EXPECT_EQ(callbackCalls, 0);
}

TEST_F(CaptureSourceConstruction, InputDeviceAudioCaptureMakesItsQueueAndDoesNothingElse) {
    ::testing::internal::CaptureStderr();
    auto source = std::make_shared<InputDeviceAudioCapture>(output, counting, MessageCallback{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_THAT(platform.dispatch.queueLabels(), ElementsAre("tovanel.input-device.capture"));
    EXPECT_EQ(InputDeviceAudioCaptureProbe::queue(*source), "tovanel.input-device.capture");
    EXPECT_TRUE(InputDeviceAudioCaptureProbe::holdsDefaults(*source));
    EXPECT_TRUE(platform.dispatch.timers().empty());
    EXPECT_TRUE(output->bytes().empty());
    EXPECT_EQ(callbackCalls, 0);
}

} // namespace
} // namespace tovanel
