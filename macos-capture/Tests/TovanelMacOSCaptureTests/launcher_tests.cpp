// Start-up and app mode: the mode from the name and switch, the failure path every source
// shares, and the supervisor's configuration, sender launch, stale-sender pattern, status file
// and reactions to its callbacks.
#include "capture/capture_source.h"
#include "launcher/entry_point.h"
#include "launcher/launch_mode.h"
#include "sim/sim_platform.h"
#include "supervisor/sender_paths.h"
#include "supervisor/stale_sender.h"
#include "supervisor/tovanel_sender_app.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <regex.h>
#include <unistd.h>

namespace tovanel {
namespace {

using namespace platform;
using ::testing::ExitedWithCode;
using Args = std::vector<std::string>;

TEST(LaunchMode, AppModeByExactNameOrTheSwitchAnywhere) {
    const std::vector<std::pair<Args, LaunchMode>> cases = {
        {{}, LaunchMode::capture},
        {{"tovanel-macos-capture"}, LaunchMode::capture},
        {{"/Applications/PC Tovanel Sender.app/Contents/MacOS/PC Tovanel Sender"}, LaunchMode::app},
        {{"Tovanel Sender"}, LaunchMode::app},
        {{"./tovanel sender"}, LaunchMode::capture},
        {{"/x/Tovanel Sender 2"}, LaunchMode::capture},
        {{"/x/Tovanel Sender/tool"}, LaunchMode::capture},
        {{"tool", "-v", "--app"}, LaunchMode::app},
        {{"--app"}, LaunchMode::app},
        {{"tool", "--APP"}, LaunchMode::capture},
        {{"tool", "--app=1"}, LaunchMode::capture},
    };
    for (const auto& [arguments, mode] : cases) {
        EXPECT_EQ(selectLaunchMode(arguments), mode) << (arguments.empty() ? "" : arguments[0]);
    }
    EXPECT_EQ(executableFileName("a/b/c"), "c");
    EXPECT_EQ(executableFileName("c"), "c");
    EXPECT_EQ(executableFileName("a/"), "");
}

TEST(FailPath, WritesOneLineCallsOnFailureWithTheBareMessageAndExitsWithOne) {
    const auto shown = [](const std::string& m) { std::fprintf(stderr, "<%s>", m.c_str()); };
    EXPECT_EXIT(failCaptureSource("p: ", "", shown), ExitedWithCode(1), "^p: \n<>$");
    EXPECT_EXIT(failCaptureSource("p: ", "it broke", MessageCallback{}), ExitedWithCode(1),
                "^p: it broke\n$");
    ::testing::internal::CaptureStderr();
    writeStartedBanner("tovanel-input-device-capture started\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tovanel-input-device-capture started\n");
    reportStatus(MessageCallback{}, []() -> std::string {
        ADD_FAILURE() << "a line was built for nobody";
        return "";
    });
}

TEST(StaleSenders, ThePatternMatchesOnlyThisPathAndExactlyThisPort) {
    const std::string path = "/tmp/a.b+(c)[d]{1}^$|?*\\/tovanel-sender";
    regex_t pattern;
    ASSERT_EQ(
        ::regcomp(&pattern, staleSenderPattern(path, "48100").c_str(), REG_EXTENDED | REG_NOSUB),
        0);
    const std::vector<std::pair<std::string, bool>> lines = {
        {path + " --port 48100 --input stdin", true},
        {path + " --port 48100", true},
        {"/tmp/aXb+(c)[d]{1}^$|?*\\/tovanel-sender --port 48100", false},
        {path + " --port 481000 --input stdin", false},
        {path + " --port 4810", false},
        {"/other/tovanel-sender --port 48100", false},
    };
    for (const auto& [line, expected] : lines) {
        EXPECT_EQ(::regexec(&pattern, line.c_str(), 0, nullptr, 0) == 0, expected) << line;
    }
    ::regfree(&pattern);
}

class Supervisor : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    test::TempDir dir;
    test::ScopedEnv tmp{"TMPDIR", dir.path.string()};
    test::ScopedEnv port{"TOVANEL_PORT", std::nullopt};
    test::ScopedEnv input{"TOVANEL_INPUT", std::nullopt};
    std::shared_ptr<TovanelSenderApp> app = std::make_shared<TovanelSenderApp>();
    std::string program = dir / "PC Tovanel Sender";

    // Runs start (the simulated main loop returns once it has nothing to do).
    LaunchRequest start() {
        app->start({program});
        const auto launches = platform.processes.launches();
        EXPECT_EQ(launches.size(), 2u);
        return launches.back();
    }
    std::string statusFile(const std::string& portValue = "48100") {
        return dir / ("tovanel-sender-" + portValue + "-status.txt");
    }
};

TEST_F(Supervisor, EmptiesTheStatusFileEndsAStaleSenderThenLaunchesTheSenderBesideUs) {
    const LaunchRequest sender = start();
    const LaunchRequest pkill = platform.processes.launches()[0];
    EXPECT_EQ(pkill.executable, "/usr/bin/pkill");
    EXPECT_EQ(pkill.arguments, (Args{"-f", staleSenderPattern(dir / "tovanel-sender", "48100")}));
    EXPECT_EQ(sender.executable, dir / "tovanel-sender");
    EXPECT_EQ(sender.arguments,
              (Args{"--port", "48100", "--input", "stdin", "--status-file", statusFile()}));
    EXPECT_NE(sender.standardInput, nullptr);
    EXPECT_EQ(sender.standardOutput, ChildOutput::ourStandardError);
    EXPECT_EQ(sender.standardError, ChildOutput::ourStandardError);
    EXPECT_EQ(test::readFile(statusFile()), "ok: requesting ScreenCaptureKit content");
    EXPECT_EQ(platform.screenCapture.events, Args{"content(0,0)"})
        << "the screen source by default";
}

TEST_F(Supervisor, PortAndInputAreTakenVerbatimAndOnlyExactlyDeviceChoosesTheInputSource) {
    for (const char* value : {"Device", " device", "screen", ""}) {
        test::ScopedEnv choice("TOVANEL_INPUT", value);
        auto& fresh = sim::SimPlatform::installFresh();
        std::make_shared<TovanelSenderApp>()->start({program});
        EXPECT_EQ(fresh.screenCapture.events.size(), 1u) << value;
    }
    test::ScopedEnv choice("TOVANEL_INPUT", "device");
    test::ScopedEnv weird("TOVANEL_PORT", "../x");
    auto& fresh = sim::SimPlatform::installFresh();
    fresh.audioHardware.add({"BlackHole 2ch", "b", {2}, {2}, {}});
    std::make_shared<TovanelSenderApp>()->start({program});
    EXPECT_TRUE(fresh.screenCapture.events.empty());
    EXPECT_FALSE(fresh.audioQueues.calls().empty()) << "the input source set up its queue";
    EXPECT_EQ(fresh.processes.launches()[1].arguments[1], "../x");
    EXPECT_EQ(fresh.processes.launches()[1].arguments[5], dir / "tovanel-sender-.._x-status.txt")
        << "a slash never leads out of the temporary directory";
    test::ScopedEnv empty("TOVANEL_PORT", "");
    std::make_shared<TovanelSenderApp>()->start({program});
    EXPECT_EQ(fresh.processes.launches().back().arguments[5], dir / "tovanel-sender--status.txt");
}

TEST_F(Supervisor, TheStatusFileFollowsStatusLinesAndTheSendersEnd) {
    const LaunchRequest sender = start();
    auto content = sim::content({{1, 1}});
    content->windows = 2;
    content->applications = 3;
    platform.screenCapture.answer(content, std::nullopt);
    EXPECT_EQ(test::readFile(statusFile()),
              "ok: starting display capture displays=1 windows=2 apps=3");
    sender.terminationHandler({TerminationStatus::Reason::exit, 0});
    EXPECT_EQ(test::readFile(statusFile()),
              "ok: starting display capture displays=1 windows=2 apps=3");
    sender.terminationHandler({TerminationStatus::Reason::uncaughtSignal, 15});
    EXPECT_EQ(test::readFile(statusFile()), "tovanel-sender exited: 15");
    sender.terminationHandler({TerminationStatus::Reason::exit, 3});
    EXPECT_EQ(test::readFile(statusFile()), "tovanel-sender exited: 3");
    app.reset();
    sender.terminationHandler({TerminationStatus::Reason::exit, 4}); // the supervisor is gone
    EXPECT_EQ(test::readFile(statusFile()), "tovanel-sender exited: 3");
}

TEST_F(Supervisor, ACaptureFailureIsTheStatusFilesLastWord) {
    EXPECT_EXIT(
        {
            start();
            platform.screenCapture.answer(nullptr, std::nullopt);
        },
        ExitedWithCode(1), "tovanel-macos-capture: no shareable content available\n");
    EXPECT_EQ(test::readFile(statusFile()), "macOS capture failed: no shareable content available");
}

TEST_F(Supervisor, ASenderThatCannotStartEndsTheProcessBeforeAnyCapture) {
    std::ofstream(statusFile()) << "ok: left by an earlier run";
    platform.processes.failures[dir / "tovanel-sender"] =
        PlatformError{"posix_spawn", 2, "No such file or directory"};
    EXPECT_EXIT(app->start({program}), ExitedWithCode(1),
                "^PC Tovanel Sender failed to start: No such file or directory\n$");
    EXPECT_EQ(test::readFile(statusFile()), "") << "emptied before the launch";
    for (const Args& argv : {Args{}, Args{""}}) {
        EXPECT_EXIT(app->start(argv), ExitedWithCode(1),
                    "^PC Tovanel Sender failed to start: the program's own path is unknown");
    }
}

TEST_F(Supervisor, AStatusFileThatCannotBeWrittenIsSaidOnceAndStartGoesOn) {
    test::ScopedEnv missing("TMPDIR", dir / "missing");
    ::testing::internal::CaptureStderr();
    start();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("PC Tovanel Sender: the status file cannot be written: ", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
}

TEST_F(Supervisor, TheSenderIsLookedForBesideTheRealExecutable) {
    std::filesystem::create_directories(dir.path / "real");
    std::ofstream(dir.path / "real" / "prog") << "";
    std::filesystem::create_symlink(dir.path / "real", dir.path / "linked");
    std::filesystem::create_symlink(dir.path / "linked" / "prog", dir.path / "Tovanel Sender");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path / "real");
    const std::string real = std::filesystem::canonical(dir.path / "real").string();
    EXPECT_EQ(senderExecutablePath({dir / "Tovanel Sender"}), real + "/tovanel-sender");
    EXPECT_EQ(senderExecutablePath({"../Tovanel Sender"}), real + "/tovanel-sender");
    EXPECT_EQ(senderExecutablePath({"prog"}), real + "/tovanel-sender") << "found on the PATH";
    EXPECT_EQ(senderExecutablePath({}), std::nullopt);
    std::filesystem::current_path(cwd);
}

TEST_F(Supervisor, CaptureModeRunsTheScreenSourceOnStandardOutputAndAppModeActivates) {
    EXPECT_EQ(runEntryPoint({"tovanel-macos-capture"}), 0);
    EXPECT_EQ(platform.screenCapture.events, Args{"content(0,0)"});
    EXPECT_EQ(platform.application.activations, 0);
    EXPECT_EQ(platform.processes.launches().size(), 0u);
    EXPECT_EQ(runEntryPoint({program}), 0);
    EXPECT_EQ(platform.application.activations, 1);
    EXPECT_EQ(platform.processes.launches().size(), 2u);
}

} // namespace
} // namespace tovanel
