// The program against a sound server that fails under it: killed, stopped for a while, losing
// the captured sink; and a sender that ends at once. Each test starts a private server of its
// own, so it may do to it what no shared server could take.
#include "eventually.h"
#include "pulse/child_process.h"
#include "pulse/pulse_environment.h"
#include "status_file_watch.h"
#include "test_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>
#include <thread>

namespace tovanel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ChildOptions;
using test::ChildProcess;
using test::readFile;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kProgram = TOVANEL_EXECUTABLE;
const std::string kTestSender = TOVANEL_TEST_SENDER;
const std::string kPrivatePulse = TOVANEL_PRIVATE_PULSE;
const std::string kBanner = "tovanel-macos-capture started\n";

class OwnServer : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto started = test::runCommand(
            {"bash", kPrivatePulse, "start", pulseDirectory(), "--sink", "builtin=Built-in Output",
             "--sink", "blackhole=BlackHole 2ch", "--default-sink", "builtin"},
            {}, 20s);
        if (!started.ok()) {
            const std::string why =
                "no private PulseAudio server could start: " + started.standardError;
            if (test::underContinuousIntegration()) {
                FAIL() << why;
            }
            GTEST_SKIP() << why;
        }
        server.emplace(test::PulseServer::inDirectory(pulseDirectory()));
        appDirectory = fs::canonical(dir.path()).string() + "/app";
        fs::create_directories(appDirectory);
        fs::copy_file(kProgram, appDirectory + "/tovanel-macos-capture");
        fs::copy_file(kTestSender, appDirectory + "/tovanel-sender");
        fs::create_directories(dir / "tmp");
        fs::create_directories(dir / "records");
    }

    void TearDown() override {
        if (server) {
            (void)::kill(serverPid(), SIGCONT);
            (void)test::runCommand({"bash", kPrivatePulse, "stop", pulseDirectory()}, {}, 20s);
        }
    }

    std::string pulseDirectory() const { return dir / "pulse"; }
    pid_t serverPid() const { return std::stoi(readFile(pulseDirectory() + "/pid")); }
    std::string statusFile() const { return dir / "tmp/tovanel-sender-48100-status.txt"; }

    std::unique_ptr<ChildProcess> start(std::vector<std::string> argv,
                                        test::EnvironmentChanges extra = {}) {
        ChildOptions options;
        options.argv = std::move(argv);
        options.environment = server->environment();
        options.environment["TMPDIR"] = dir / "tmp";
        options.environment["TOVANEL_TEST_SENDER_DIR"] = dir / "records";
        for (auto& [name, value] : extra) {
            options.environment[name] = value;
        }
        options.standardOutput = dir / "stdout";
        options.standardError = dir / "stderr";
        auto child = std::make_unique<ChildProcess>(options);
        EXPECT_TRUE(test::eventually(
            [&] { return readFile(dir / "stderr").find("started") != std::string::npos; }, 10s))
            << readFile(dir / "stderr");
        return child;
    }

    std::unique_ptr<ChildProcess> startCapture() { return start({kProgram}); }
    std::unique_ptr<ChildProcess> startApp(test::EnvironmentChanges extra = {}) {
        return start({appDirectory + "/tovanel-macos-capture", "--app"}, std::move(extra));
    }

    // Waits for the program to end; its status and how long that took after `since`.
    std::pair<std::optional<int>, std::chrono::milliseconds>
    endOf(ChildProcess& program, std::chrono::steady_clock::time_point since,
          std::chrono::milliseconds limit) {
        const auto status = program.waitFor(limit);
        return {status, std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - since)};
    }

    test::TestDirectory dir;
    std::optional<test::PulseServer> server;
    std::string appDirectory;
};

TEST_F(OwnServer, AKilledServerStopsCaptureWithTheReasonWithinTwoSeconds) {
    auto capture = startCapture();
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(serverPid(), SIGKILL), 0);
    const auto [status, took] = endOf(*capture, killed, 5s);
    ASSERT_TRUE(status.has_value()) << "still running after the server died";
    EXPECT_EQ(*status, 1);
    EXPECT_LT(took, 2s);
    const std::string standardError = readFile(dir / "stderr");
    EXPECT_THAT(standardError, StartsWith(kBanner + "tovanel-macos-capture: capture stopped: "));
    EXPECT_GT(standardError.size(), kBanner.size() + 60) << "a reason follows the prefix";
    std::cout << "capture mode ended " << took.count()
              << " ms after the server was killed: " << standardError.substr(kBanner.size());
}

TEST_F(OwnServer, AKilledServerLeavesTheFailureAsTheStatusFilesLastWord) {
    auto app = startApp();
    ASSERT_TRUE(test::eventually(
        [&] { return readFile(statusFile()).rfind("ok: screenFrames=", 0) == 0; }, 10s));
    ASSERT_EQ(::kill(serverPid(), SIGKILL), 0);
    const auto status = app->waitFor(5s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 1);
    EXPECT_THAT(readFile(statusFile()), StartsWith("macOS capture failed: capture stopped: "));
}

TEST_F(OwnServer, UnloadingTheCapturedSinkStopsCapture) {
    auto capture = startCapture();
    const std::string modules = server->pactlOutput({"list", "short", "modules"});
    std::string builtinModule;
    std::istringstream lines(modules);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("sink_name=builtin") != std::string::npos) {
            builtinModule = line.substr(0, line.find('\t'));
        }
    }
    ASSERT_FALSE(builtinModule.empty()) << modules;
    const auto unloaded = std::chrono::steady_clock::now();
    server->pactlOutput({"unload-module", builtinModule});
    const auto [status, took] = endOf(*capture, unloaded, 5s);
    ASSERT_TRUE(status.has_value()) << "still running after its sink went away";
    EXPECT_EQ(*status, 1);
    EXPECT_LT(took, 2s);
    EXPECT_THAT(readFile(dir / "stderr"),
                StartsWith(kBanner + "tovanel-macos-capture: capture stopped: "));
}

// A stopped server sends nothing and answers nothing. Capture has no round trip to wait for, so
// the program just receives no audio; when the server goes on, so does the stream.
TEST_F(OwnServer, AServerStoppedForThreeSecondsDelaysCaptureButNeitherEndsNorHangsIt) {
    auto capture = startCapture();
    const std::string output = dir / "stdout";
    ASSERT_TRUE(test::eventually([&] { return fs::file_size(output) > 48000 * 8 / 10; }, 10s));
    ASSERT_EQ(::kill(serverPid(), SIGSTOP), 0);
    std::this_thread::sleep_for(3s);
    const auto sizeWhileStopped = fs::file_size(output);
    ASSERT_EQ(::kill(serverPid(), SIGCONT), 0);
    EXPECT_TRUE(capture->running());
    EXPECT_TRUE(
        test::eventually([&] { return fs::file_size(output) > sizeWhileStopped + 48000 * 8; }, 5s))
        << "no audio after the server went on";
    EXPECT_TRUE(capture->running());
    EXPECT_EQ(readFile(dir / "stderr"), kBanner);
}

TEST_F(OwnServer, ASenderEndingAtOnceEndsAppModeAtTheNextWrite) {
    // Keep the sink busy at a short latency, so the first write comes as soon as capture starts.
    ChildOptions tone;
    tone.argv = {"bash", "-c",
                 "\"$0\" tone --seconds 120 | pacat --raw --format=float32le --rate=48000 "
                 "--channels=2 --latency-msec=10 -d builtin",
                 TOVANEL_SIGNAL_TOOL};
    tone.environment = server->environment();
    ChildProcess playing(tone);
    struct Count {
        int runs = 0;
        int reached = 0; // the handler's line reached the file before the program ended
        int last = 0;    // and was still its content afterwards
    };
    std::map<std::string, Count> counts;
    for (int run = 0; run < 20; ++run) {
        for (const std::string exitStatus : {"0", "7"}) {
            if (exitStatus == "0" && run >= 3) {
                continue; // nothing is ever written for 0; three runs show it
            }
            fs::remove(statusFile());
            test::StatusFileWatch watch(dir / "tmp", "tovanel-sender-48100-status.txt");
            ChildOptions options;
            options.argv = {appDirectory + "/tovanel-macos-capture", "--app"};
            options.environment = server->environment();
            options.environment["TMPDIR"] = dir / "tmp";
            options.environment["TOVANEL_TEST_SENDER_DIR"] = dir / "records";
            options.environment["TOVANEL_TEST_SENDER_EXIT_STATUS"] = exitStatus;
            options.environment["TOVANEL_TEST_SENDER_EXIT_AFTER"] = "0";
            ChildProcess app(options);
            const auto status = app.waitFor(10s);
            ASSERT_TRUE(status.has_value()) << "app mode went on without its sender";
            EXPECT_EQ(*status, 128 + SIGPIPE);
            std::this_thread::sleep_for(50ms); // the watch reads the last replacement
            const std::string line = "tovanel-sender exited: " + exitStatus;
            Count& count = counts[exitStatus];
            ++count.runs;
            const auto seen = watch.contents();
            count.reached += std::find(seen.begin(), seen.end(), line) != seen.end();
            const std::string last = readFile(statusFile());
            count.last += last == line;
            EXPECT_TRUE(last == line || last.rfind("ok: ", 0) == 0)
                << "the file holds one whole message: " << last;
        }
    }
    EXPECT_EQ(counts["0"].reached, 0);
    EXPECT_GT(counts["7"].reached, 0);
    std::cout << "sender exiting 7 at once, " << counts["7"].runs << " runs: its line reached "
              << "the status file in " << counts["7"].reached << ", and stayed its last word in "
              << counts["7"].last << "\n";
}

} // namespace
} // namespace tovanel
