// The supervisor's pure parts and callbacks: the stale-sender pattern matched by the system's
// own extended regular expressions against real command lines, where the sender and the status
// file are, and the status file under the sender's exit, capture failures and many status lines
// from many threads at once.
#include "sim/sim_platform.h"
#include "supervisor/sender_paths.h"
#include "supervisor/stale_sender.h"
#include "supervisor/tovanel_sender_app.h"
#include "test_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

namespace tovanel {

struct TovanelSenderAppProbe {
    static void setStatusFile(TovanelSenderApp& app, std::string path) {
        app.statusFileURL = std::move(path);
    }
    static void senderEnded(TovanelSenderApp& app, platform::TerminationStatus status) {
        app.senderEnded(status);
    }
    static void captureFailed(TovanelSenderApp& app, const std::string& message) {
        app.captureFailed(message);
    }
    static void statusReported(TovanelSenderApp& app, const std::string& line) {
        app.statusReported(line);
    }
};

namespace {

namespace fs = std::filesystem;
using Probe = TovanelSenderAppProbe;
using test::readFile;
using test::ScopedEnvironment;
using test::TestDirectory;

// Whether pkill -f with `pattern` would pick `commandLine` (its arguments joined by spaces).
bool matches(const std::string& pattern, const std::string& commandLine) {
    regex_t compiled;
    if (regcomp(&compiled, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
        ADD_FAILURE() << "invalid pattern: " << pattern;
        return false;
    }
    const bool found = regexec(&compiled, commandLine.c_str(), 0, nullptr, 0) == 0;
    regfree(&compiled);
    return found;
}

std::string senderCommandLine(const std::string& path, const std::string& port) {
    return path + " --port " + port + " --input stdin --status-file /tmp/tovanel-sender-" + port +
           "-status.txt";
}

struct PatternCase {
    const char* name;
    std::string ourPath;
    std::string ourPort;
    std::string theirCommandLine;
    bool signalled;
};

class StaleSenderPattern : public ::testing::TestWithParam<PatternCase> {};

TEST_P(StaleSenderPattern, PicksOnlySendersOfTheSamePathAndPort) {
    const auto& param = GetParam();
    EXPECT_EQ(matches(staleSenderPattern(param.ourPath, param.ourPort), param.theirCommandLine),
              param.signalled)
        << staleSenderPattern(param.ourPath, param.ourPort);
}

const std::string kSender = "/Applications/PC Tovanel Sender.app/Contents/MacOS/tovanel-sender";

INSTANTIATE_TEST_SUITE_P(
    CommandLines, StaleSenderPattern,
    ::testing::Values(
        PatternCase{"SamePathSamePort", kSender, "48100", senderCommandLine(kSender, "48100"),
                    true},
        PatternCase{"PortAtTheEndOfTheLine", kSender, "48100", kSender + " --port 48100", true},
        PatternCase{"LongerPortSameDigits", kSender, "48100", senderCommandLine(kSender, "481001"),
                    false},
        PatternCase{"OtherPort", kSender, "48100", senderCommandLine(kSender, "48200"), false},
        PatternCase{"OurPortIsAPrefixOfTheirs", kSender, "4810",
                    senderCommandLine(kSender, "48100"), false},
        PatternCase{"OtherDirectory", kSender, "48100",
                    senderCommandLine("/Users/me/Downloads/tovanel-sender", "48100"), false},
        PatternCase{"DotOnlyMatchesADot", "/opt/app.dir/tovanel-sender", "48100",
                    senderCommandLine("/opt/appXdir/tovanel-sender", "48100"), false},
        PatternCase{"DotMatchesItself", "/opt/app.dir/tovanel-sender", "48100",
                    senderCommandLine("/opt/app.dir/tovanel-sender", "48100"), true},
        PatternCase{"MetacharactersMatchThemselves",
                    "/opt/a+b (copy) [2]/{x}|y^$\\z/tovanel-sender", "48100",
                    senderCommandLine("/opt/a+b (copy) [2]/{x}|y^$\\z/tovanel-sender", "48100"),
                    true},
        PatternCase{"PlusIsNotRepetition", "/opt/a+b/tovanel-sender", "48100",
                    senderCommandLine("/opt/aab/tovanel-sender", "48100"), false},
        PatternCase{"ArgumentsBetweenPathAndPort", kSender, "48100",
                    kSender + " --verbose --port 48100 --input stdin", true},
        PatternCase{"NonNumericPortVerbatim", kSender, "my-port",
                    senderCommandLine(kSender, "my-port"), true},
        PatternCase{"EmptyPort", kSender, "", kSender + " --port  --input stdin", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StaleSenderPattern, IsAlwaysAValidExpression) {
    for (const std::string path : {"/a(b", "/a[b", "/a{1", "/a\\", "/a)b]c}", "/*+?"}) {
        regex_t compiled;
        ASSERT_EQ(regcomp(&compiled, staleSenderPattern(path, "1").c_str(), REG_EXTENDED), 0)
            << path;
        regfree(&compiled);
    }
}

class SupervisorFiles : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    TestDirectory dir;
    ScopedEnvironment tmpdir{"TMPDIR", dir.path()};
};

struct StatusFileCase {
    const char* name;
    std::string port;
    std::string fileName;
};

class StatusFileLocation : public SupervisorFiles,
                           public ::testing::WithParamInterface<StatusFileCase> {};

TEST_P(StatusFileLocation, IsNamedAfterThePortInTheTemporaryDirectory) {
    EXPECT_EQ(statusFilePath(GetParam().port), dir / GetParam().fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, StatusFileLocation,
    ::testing::Values(StatusFileCase{"Default", "48100", "tovanel-sender-48100-status.txt"},
                      StatusFileCase{"NotANumber", "abc def", "tovanel-sender-abc def-status.txt"},
                      StatusFileCase{"Empty", "", "tovanel-sender--status.txt"},
                      StatusFileCase{"DotDot", "..", "tovanel-sender-..-status.txt"},
                      StatusFileCase{"SlashCannotLeaveTheDirectory", "../../etc/x",
                                     "tovanel-sender-.._.._etc_x-status.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SupervisorFiles, TheSenderIsBesideTheRealExecutable) {
    const std::string real = fs::canonical(dir.path()).string();
    fs::create_directories(real + "/bundle/Contents/MacOS");
    test::writeFile(real + "/bundle/Contents/MacOS/PC Tovanel Sender", "");
    fs::create_symlink(real + "/bundle/Contents/MacOS/PC Tovanel Sender", real + "/Tovanel Sender");
    EXPECT_EQ(senderExecutablePath({real + "/Tovanel Sender"}),
              real + "/bundle/Contents/MacOS/tovanel-sender");

    const auto previous = fs::current_path();
    fs::current_path(real);
    EXPECT_EQ(senderExecutablePath({"./bundle/Contents/MacOS/PC Tovanel Sender"}),
              real + "/bundle/Contents/MacOS/tovanel-sender");
    EXPECT_EQ(senderExecutablePath({"Tovanel Sender", "--app"}),
              real + "/bundle/Contents/MacOS/tovanel-sender");
    EXPECT_EQ(senderExecutablePath({"capture-on-path"}), real + "/tovanel-sender");
    fs::current_path(previous);

    EXPECT_EQ(senderExecutablePath({}), std::nullopt);
    EXPECT_EQ(senderExecutablePath({""}), std::nullopt);
}

class StatusFile : public SupervisorFiles {
  protected:
    std::shared_ptr<TovanelSenderApp> app = std::make_shared<TovanelSenderApp>();
    std::string path = dir / "tovanel-sender-48100-status.txt";

    void SetUp() override {
        Probe::setStatusFile(*app, path);
        test::writeFile(path, "ok: earlier line");
    }
};

TEST_F(StatusFile, SenderExitsAreRecordedOnlyWhenNotZero) {
    using Reason = platform::TerminationStatus::Reason;
    Probe::senderEnded(*app, {Reason::exit, 0});
    EXPECT_EQ(readFile(path), "ok: earlier line");
    Probe::senderEnded(*app, {Reason::exit, 3});
    EXPECT_EQ(readFile(path), "tovanel-sender exited: 3");
    Probe::senderEnded(*app, {Reason::uncaughtSignal, 15});
    EXPECT_EQ(readFile(path), "tovanel-sender exited: 15");
    Probe::senderEnded(*app, {Reason::exit, -2});
    EXPECT_EQ(readFile(path), "tovanel-sender exited: -2");
}

TEST_F(StatusFile, CaptureFailuresAndStatusLinesAreWrittenVerbatim) {
    Probe::captureFailed(*app, "capture stopped: gone");
    EXPECT_EQ(readFile(path), "macOS capture failed: capture stopped: gone");
    Probe::statusReported(*app, "ok: line ending in a space ");
    EXPECT_EQ(readFile(path), "ok: line ending in a space ");
    Probe::statusReported(*app, "");
    EXPECT_EQ(readFile(path), "");
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(StatusFile, AWriteThatCannotHappenIsIgnored) {
    Probe::setStatusFile(*app, dir / "missing-folder/status.txt");
    Probe::statusReported(*app, "ok: nowhere to go");
    Probe::captureFailed(*app, "still nowhere");
    EXPECT_FALSE(fs::exists(dir / "missing-folder"));
}

TEST_F(StatusFile, ManyWritersAtOnceNeverLeaveAPartialMessage) {
    std::set<std::string> complete{"ok: earlier line"};
    std::vector<std::string> lines;
    for (int writer = 0; writer < 4; ++writer) {
        lines.push_back("ok: screenFrames=" + std::to_string(writer) + " audioBuffers=" +
                        std::string(static_cast<std::size_t>(500 + writer * 700), '7') +
                        " format=converted Float32 PCM");
        complete.insert(lines.back());
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([&, writer] {
            while (!stop) {
                Probe::statusReported(*app, lines[static_cast<std::size_t>(writer)]);
            }
        });
    }
    int torn = 0;
    for (int read = 0; read < 3000; ++read) {
        if (!complete.count(readFile(path))) {
            ++torn;
        }
    }
    stop = true;
    for (auto& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(torn, 0);
}

} // namespace
} // namespace tovanel
