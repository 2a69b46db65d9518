// App mode and capture mode under hostile input: ports that are huge, not UTF-8 or path-like, a
// temporary directory that is missing or not a directory, links and folders planted where the
// status file or its temporary goes, no argument vector at all, a sender that cannot run, and no
// pkill. Each case ends promptly, without a crash, never follows a planted link, and says what
// the user must mend where that is the user's to mend. No server is reachable here, so every
// capture fails at once once the sender runs.
#include "eventually.h"
#include "pulse/child_process.h"
#include "run_executable.h"
#include "test_directory.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

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
const std::string kWarning = "PC Tovanel Sender: the status file cannot be written: ";
const std::string kCaptureFailure = "tovanel-macos-capture: shareable content unavailable: ";

class HostileInput : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::canonical(dir.path()).string();
        app = root + "/app";
        fs::create_directories(app);
        fs::copy_file(kProgram, app + "/tovanel-macos-capture");
        fs::copy_file(kTestSender, app + "/tovanel-sender");
        fs::create_directories(root + "/tmp");
        fs::create_directories(root + "/records");
    }

    struct Run {
        int status = -1;
        std::string standardError;
    };

    Run runApp(test::EnvironmentChanges extra) {
        ChildOptions options;
        options.argv = {app + "/tovanel-macos-capture", "--app"};
        options.environment = {{"PULSE_SERVER", "unix:" + root + "/no-server"},
                               {"TMPDIR", root + "/tmp"},
                               {"TOVANEL_TEST_SENDER_DIR", root + "/records"},
                               {"TOVANEL_PORT", std::nullopt},
                               {"TOVANEL_INPUT", std::nullopt}};
        for (auto& [name, value] : extra) {
            options.environment[name] = value;
        }
        options.standardError = root + "/stderr";
        ChildProcess program(options);
        const auto status = program.waitFor(15s);
        EXPECT_TRUE(status.has_value()) << "the program hung";
        return {status.value_or(-1), readFile(root + "/stderr")};
    }

    // The command line the sender was started with, one argument per entry. The program may
    // end before its sender has even started (the capture fails at once here), so this waits,
    // bounded, for the sender to record its end: its arguments are complete by then.
    std::vector<std::string> senderArguments() {
        const bool ended = test::eventually(
            [&] {
                for (const auto& entry : fs::directory_iterator(root + "/records")) {
                    if (entry.path().extension() == ".end") {
                        return true;
                    }
                }
                return false;
            },
            10s);
        EXPECT_TRUE(ended) << "no sender recorded its end";
        std::vector<std::string> arguments;
        for (const auto& entry : fs::directory_iterator(root + "/records")) {
            if (entry.path().extension() == ".args") {
                std::istringstream lines(readFile(entry.path()));
                for (std::string line; std::getline(lines, line);) {
                    arguments.push_back(line);
                }
            }
        }
        return arguments;
    }

    test::TestDirectory dir;
    std::string root;
    std::string app;
};

TEST_F(HostileInput, AHundredThousandCharacterPortIsPassedOnAndTheFileProblemIsSaid) {
    const std::string port(100000, '9');
    const Run run = runApp({{"TOVANEL_PORT", port}});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.standardError, HasSubstr(kWarning));
    EXPECT_THAT(run.standardError, HasSubstr("File name too long"));
    EXPECT_THAT(run.standardError, HasSubstr(kCaptureFailure));
    const auto arguments = senderArguments();
    ASSERT_EQ(arguments.size(), 7u);
    EXPECT_EQ(arguments[2], port);
}

TEST_F(HostileInput, APortThatIsNotUtf8IsUsedVerbatim) {
    const std::string port = "48\xff\xfe"
                             "100";
    const Run run = runApp({{"TOVANEL_PORT", port}});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.standardError, ::testing::Not(HasSubstr(kWarning)));
    EXPECT_TRUE(fs::exists(root + "/tmp/tovanel-sender-" + port + "-status.txt"));
    EXPECT_EQ(senderArguments().at(2), port);
}

struct PathPortCase {
    const char* name;
    std::string port;
    std::string fileName;
};

class PathLikePort : public HostileInput, public ::testing::WithParamInterface<PathPortCase> {};

TEST_P(PathLikePort, NeverPutsTheStatusFileOutsideTheTemporaryDirectory) {
    const Run run = runApp({{"TOVANEL_PORT", GetParam().port}});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.standardError, ::testing::Not(HasSubstr(kWarning)));
    EXPECT_TRUE(fs::exists(root + "/tmp/" + GetParam().fileName));
    EXPECT_THAT(readFile(root + "/tmp/" + GetParam().fileName),
                StartsWith("macOS capture failed: "));
    EXPECT_EQ(senderArguments().at(2), GetParam().port) << "the sender gets the port verbatim";
    // Nothing was made beside the temporary directory.
    std::vector<std::string> top;
    for (const auto& entry : fs::directory_iterator(root)) {
        top.push_back(entry.path().filename().string());
    }
    std::sort(top.begin(), top.end());
    EXPECT_THAT(top, ::testing::ElementsAre("app", "records", "stderr", "tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PathLikePort,
    ::testing::Values(PathPortCase{"DotDot", "..", "tovanel-sender-..-status.txt"},
                      PathPortCase{"ParentPath", "../../x", "tovanel-sender-.._.._x-status.txt"},
                      PathPortCase{"Absolute", "/etc/passwd",
                                   "tovanel-sender-_etc_passwd-status.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TemporaryCase {
    const char* name;
    std::function<std::string(const std::string& root)> makeTmpdir;
    std::string reason;
};

class BadTemporaryDirectory : public HostileInput,
                              public ::testing::WithParamInterface<TemporaryCase> {};

TEST_P(BadTemporaryDirectory, IsSaidOnceAndTheSenderStillRuns) {
    const Run run = runApp({{"TMPDIR", GetParam().makeTmpdir(root)}});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.standardError, HasSubstr(kWarning));
    EXPECT_THAT(run.standardError, HasSubstr(GetParam().reason));
    EXPECT_EQ(senderArguments().size(), 7u) << "the sender was launched anyway";
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BadTemporaryDirectory,
    ::testing::Values(TemporaryCase{"Missing",
                                    [](const std::string& root) { return root + "/missing"; },
                                    "No such file or directory"},
                      TemporaryCase{"AFileNotADirectory",
                                    [](const std::string& root) {
                                        test::writeFile(root + "/plain-file", "");
                                        return root + "/plain-file";
                                    },
                                    "Not a directory"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileInput, ALinkPlantedAtTheStatusFileIsReplacedNotFollowed) {
    test::writeFile(root + "/victim", "precious");
    fs::create_symlink(root + "/victim", root + "/tmp/tovanel-sender-48100-status.txt");
    // Links at the names a predictable writer would use for its temporary.
    fs::create_symlink(root + "/victim", root + "/tmp/tovanel-sender-48100-status.txt.tmp");
    fs::create_symlink(root + "/victim", root + "/tmp/.tovanel-sender-48100-status.txt.tmp");
    const Run run = runApp({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(root + "/victim"), "precious");
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(root + "/tmp/tovanel-sender-48100-status.txt")));
    EXPECT_THAT(readFile(root + "/tmp/tovanel-sender-48100-status.txt"),
                StartsWith("macOS capture failed: "));
}

TEST_F(HostileInput, AFolderPlantedAtTheStatusFileIsLeftAloneAndSaid) {
    fs::create_directory(root + "/tmp/tovanel-sender-48100-status.txt");
    const Run run = runApp({});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.standardError, HasSubstr(kWarning));
    EXPECT_TRUE(fs::is_directory(root + "/tmp/tovanel-sender-48100-status.txt"));
    EXPECT_TRUE(fs::is_empty(root + "/tmp/tovanel-sender-48100-status.txt"));
    // No temporary is left behind by the failed replacements.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(root + "/tmp")) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(HostileInput, NoArgumentVectorAtAllRunsCaptureMode) {
    test::ScopedEnvironment noServer("PULSE_SERVER", "unix:" + root + "/no-server");
    const auto run = test::runExecutable(kProgram, {}, root);
    EXPECT_FALSE(run.endedBySignal);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.standardError, StartsWith(kCaptureFailure));
}

TEST_F(HostileInput, ASenderThatCannotRunIsAClearLaunchFailure) {
    ::chmod((app + "/tovanel-sender").c_str(), 0644);
    const Run run = runApp({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError,
              "PC Tovanel Sender failed to start: " + app + "/tovanel-sender: Permission denied\n");
    EXPECT_EQ(readFile(root + "/tmp/tovanel-sender-48100-status.txt"), "");
}

TEST_F(HostileInput, AMissingPkillDelaysNothing) {
    // A private mount namespace where /usr/bin/pkill cannot run.
    test::writeFile(root + "/no-pkill", "");
    const auto probe = test::runCommand({"unshare", "--mount", "true"}, {}, 10s);
    if (!probe.ok()) {
        GTEST_SKIP() << "no private mount namespace here: " << probe.standardError;
    }
    ChildOptions options;
    options.argv = {"unshare",
                    "--mount",
                    "bash",
                    "-c",
                    "mount --bind \"$0\" /usr/bin/pkill && exec \"$1\" --app",
                    root + "/no-pkill",
                    app + "/tovanel-macos-capture"};
    options.environment = {{"PULSE_SERVER", "unix:" + root + "/no-server"},
                           {"TMPDIR", root + "/tmp"},
                           {"TOVANEL_TEST_SENDER_DIR", root + "/records"}};
    options.standardError = root + "/stderr";
    const auto started = std::chrono::steady_clock::now();
    ChildProcess program(options);
    ASSERT_TRUE(test::eventually([&] { return senderArguments().size() == 7; }, 10s))
        << readFile(root + "/stderr");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    const auto status = program.waitFor(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 1);
    EXPECT_THAT(readFile(root + "/stderr"), HasSubstr(kCaptureFailure));
    EXPECT_THAT(readFile(root + "/stderr"), ::testing::Not(HasSubstr("pkill")));
}

} // namespace
} // namespace tovanel
