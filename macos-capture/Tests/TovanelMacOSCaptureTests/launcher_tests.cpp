// Start-up and app mode: the mode from the name and switch, the failure path every source shares,
// and the supervisor's choices (the integration cases run the program against the real pkill).
#include "launcher/capture_source.h"
#include "launcher/entry_point.h"
#include "launcher/launch_mode.h"
#include "platform/posix/unique_fd.h"
#include "sim/sim_platform.h"
#include "supervisor/sender_paths.h"
#include "supervisor/tovanel_sender_app.h"
#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace tovanel {
namespace {

using namespace platform;
using Args = std::vector<std::string>;

TEST(Launcher, AppModeByExactNameOrTheSwitchAndOneFailurePath) {
    // clang-format off
    const std::vector<std::pair<Args, bool>> cases = {
        {{}, false}, {{"tovanel-macos-capture"}, false}, {{"Tovanel Sender"}, true},
        {{"/Applications/PC Tovanel Sender.app/Contents/MacOS/PC Tovanel Sender"}, true},
        {{"./tovanel sender"}, false}, {{"/x/Tovanel Sender/tool"}, false},
        {{"tool", "-v", "--app"}, true}, {{"--app"}, true}, {{"tool", "--APP", "--app=1"}, false}};
    // clang-format on
    for (const auto& [arguments, app] : cases) {
        EXPECT_EQ(selectLaunchMode(arguments) == LaunchMode::app, app) << arguments.size();
    }
    EXPECT_DEATH((void)platform::current(), "^tovanel: platform used before it was installed\n$");
    sim::SimPlatform::installFresh(); // its processes end the process for real
    EXPECT_EXIT(failCaptureSource("p: ", "", test::kShowFailure), ::testing::ExitedWithCode(1),
                "^p: \nonFailure<>$");
    EXPECT_EXIT((std::atexit([] { std::fputs("an exit handler ran", stderr); }), // stays silent
                 failCaptureSource("p: ", "it broke", {})),
                ::testing::ExitedWithCode(1), "^p: it broke\n$");
}

class Supervisor : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    test::TempDir dir;
    test::ScopedEnv tmp{"TMPDIR", dir.path.string()};
    test::ScopedEnv port{"TOVANEL_PORT", std::nullopt};
    test::ScopedEnv input{"TOVANEL_INPUT", std::nullopt};
    std::string program = dir / "PC Tovanel Sender";
    std::string statusFile = dir / "tovanel-sender-48100-status.txt";
};

// Every port by every input value: the status file's name, both launches' arguments, which source
// starts; pkill that cannot be launched holds nothing up and says nothing.
TEST_F(Supervisor, TakesPortAndInputVerbatimForTheFileTheSenderPkillAndTheSource) {
    const std::string real = std::filesystem::canonical(dir.path);
    std::string escaped; // the test folder's name holds a "." (tovanel.XXXXXX)
    for (const char c : real) {
        escaped += c == '.' ? std::string("\\.") : std::string(1, c);
    }
    const std::string sender = real + "/tovanel-sender";
    std::ofstream(real + "/PC Tovanel Sender") << "";
    // clang-format off
    const std::vector<std::tuple<std::optional<std::string>, std::string, std::string>> ports = {
        {std::nullopt, "48100", "tovanel-sender-48100-status.txt"},
        {"", "", "tovanel-sender--status.txt"},
        {"a/b", "a/b", "tovanel-sender-a_b-status.txt"}};
    // clang-format on
    for (const auto& [port, argument, file] : ports) {
        for (const std::string input : {"device", "Device", " device"}) {
            SCOPED_TRACE(argument + "|" + input);
            sim::SimPlatform& sim = sim::SimPlatform::installFresh();
            sim.audioHardware.add({"BlackHole 2ch", "b", {2}, {2}, {}});
            const bool pkillFails = input == " device";
            if (pkillFails) {
                sim.processes.unlaunchable.insert("/usr/bin/pkill");
            }
            test::ScopedEnv portValue("TOVANEL_PORT", port);
            test::ScopedEnv inputValue("TOVANEL_INPUT", input);
            ::testing::internal::CaptureStderr();
            std::make_shared<TovanelSenderApp>()->start({real + "/PC Tovanel Sender"});
            const std::string said = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(said, input == "device" ? "tovanel-input-device-capture started\n" : "");
            const auto launches = sim.processes.launches();
            ASSERT_EQ(launches.size(), pkillFails ? 1u : 2u);
            if (!pkillFails) {
                EXPECT_EQ(launches[0].executable, "/usr/bin/pkill");
                EXPECT_EQ(launches[0].arguments,
                          (Args{"-f", escaped + "/tovanel-sender.*--port " + argument + "( |$)"}));
            }
            EXPECT_EQ(launches.back().executable, sender);
            EXPECT_EQ(launches.back().arguments,
                      (Args{"--port", argument, "--input", "stdin", "--status-file", dir / file}));
            EXPECT_TRUE(std::filesystem::exists(dir / file));
            EXPECT_EQ(sim.screenCapture.events.empty(), input == "device");
            EXPECT_EQ(sim.audioQueues.calls().empty(), input != "device");
        }
    }
}

TEST_F(Supervisor, KeepsTheStatusFileForTheSenderAndRecordsOnlyAnUnsuccessfulEnd) {
    auto app = std::make_shared<TovanelSenderApp>();
    app->start({program}); // the simulated main loop returns once it has nothing to do
    const LaunchRequest sender = platform.processes.launches().at(1);
    platform.screenCapture.answer(sim::content({{1, 1}}), std::nullopt);
    using R = TerminationStatus::Reason;
    for (const auto& [status, expected] : std::vector<std::pair<TerminationStatus, std::string>>{
             {{R::exit, 0}, "ok: starting display capture displays=1 windows=41 apps=17"},
             {{R::uncaughtSignal, 15}, "tovanel-sender exited: 15"},
             {{R::exit, 3}, "tovanel-sender exited: 3"}}) {
        sender.terminationHandler(status);
        EXPECT_EQ(test::readFile(statusFile), expected);
    }
    app.reset();
    sender.terminationHandler({R::exit, 4}); // the supervisor is gone: nothing happens
    EXPECT_EQ(test::readFile(statusFile), "tovanel-sender exited: 3");
}

// A status tick that lands after the failure was written, just before the process ends, finds the
// file closed.
TEST_F(Supervisor, ACaptureFailureIsTheFilesLastWordEvenWithALateStatusTick) {
    EXPECT_EXIT(
        {
            auto app = std::make_shared<TovanelSenderApp>();
            app->start({program});
            platform.screenCapture.answer(sim::content({{1, 1}}), std::nullopt);
            platform.screenCapture.stream->startCompletion(std::nullopt);
            platform.processes.beforeExit = [&] {
                platform.dispatch.fireTimers();
                std::fputs("late tick\n", stderr);
            };
            platform.screenCapture.stream->delegate.lock()->streamDidStopWithError({"", 0, "gone"});
        },
        ::testing::ExitedWithCode(1), "capture stopped: gone\nlate tick\n$");
    EXPECT_EQ(test::readFile(statusFile), "macOS capture failed: capture stopped: gone");
}

TEST_F(Supervisor, SaysWhatKeepsItFromItsFileOrItsSender) {
    test::ScopedEnv missing("TMPDIR", dir / "missing");
    ::testing::internal::CaptureStderr();
    std::make_shared<TovanelSenderApp>()->start({program});
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("PC Tovanel Sender: the status file cannot be written: ", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "said once, and start went on";
    EXPECT_EQ(platform.processes.launches().size(), 2u);
    for (const Args& argv : {Args{}, Args{""}}) {
        EXPECT_EXIT(std::make_shared<TovanelSenderApp>()->start(argv), ::testing::ExitedWithCode(1),
                    "\nPC Tovanel Sender failed to start: the program.s own path is unknown");
    }
}

TEST_F(Supervisor, TheSenderIsBesideTheRealExecutableModesStartTheirComponentATerminalIsRefused) {
    std::filesystem::create_directories(dir.path / "real");
    std::ofstream(dir.path / "real" / "prog") << "";
    std::filesystem::create_symlink(dir.path / "real" / "prog", dir.path / "Tovanel Sender");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path / "real");
    const std::string expected = std::filesystem::canonical(dir.path / "real") / "tovanel-sender";
    for (const std::string& argument0 :
         {dir / "Tovanel Sender", std::string("../Tovanel Sender"), std::string("prog")}) {
        EXPECT_EQ(senderExecutablePath({argument0}), expected) << argument0;
    }
    std::filesystem::current_path(cwd);
    // Sudden termination in app mode only; a terminal refused before anything is touched.
    int terminal = -1, pty = -1;
    ASSERT_EQ(::openpty(&terminal, &pty, nullptr, nullptr, nullptr), 0);
    const posix::UniqueFd ends[] = {posix::UniqueFd(terminal), posix::UniqueFd(pty)};
    const posix::UniqueFd file(::open((dir / "out").c_str(), O_WRONLY | O_CREAT, 0600));
    const std::string refusal =
        "tovanel-macos-capture: standard output is a terminal, which cannot take the raw PCM "
        "stream; pipe it into a reader or redirect it to a file, for example: "
        "tovanel-macos-capture > capture.f32\n";
    for (const auto& [arguments, standardOutput, status, said, app] :
         std::vector<std::tuple<Args, int, int, std::string, unsigned>>{
             {{"tovanel-macos-capture"}, pty, 2, refusal, 0},
             {{"tovanel-macos-capture"}, file.get(), 0, "", 0},
             {{program}, pty, 0, "", 1},
             {{"tool", "--app"}, file.get(), 0, "", 1}}) {
        sim::SimApplication& application = platform.application; // counted afresh in each case
        application.activations = application.latencyCriticalActivities = 0;
        application.suddenTerminations = 0;
        platform.screenCapture.events.clear();
        const std::size_t launched = platform.processes.launches().size();
        std::fflush(stdout);
        const posix::UniqueFd saved(::dup(STDOUT_FILENO));
        ::dup2(standardOutput, STDOUT_FILENO);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(runEntryPoint(arguments), status);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), said);
        ::dup2(saved.get(), STDOUT_FILENO);
        EXPECT_EQ(platform.screenCapture.events, status == 0 ? Args{"content(0,0)"} : Args{});
        EXPECT_EQ(application.latencyCriticalActivities, status == 0 ? 1 : 0);
        EXPECT_EQ(application.suddenTerminations, int(app)) << "one call, app mode only";
        EXPECT_EQ(application.activations, int(app));
        EXPECT_EQ(platform.processes.launches().size(), launched + 2 * app);
    }
}

} // namespace
} // namespace tovanel
