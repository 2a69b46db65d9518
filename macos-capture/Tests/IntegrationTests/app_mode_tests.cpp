// App mode of the built executable with the stand-in sender beside it and the private PulseAudio
// server behind it: the sender's command line and streams, where it is found, the status file
// through a run, a sender that ends, a capture that fails, and stale senders ended by pkill.
#include "eventually.h"
#include "pulse/pulse_test.h"
#include "signals/raw_pcm.h"
#include "signals/sine_generator.h"
#include "signals/tone_analysis.h"
#include "status_file_watch.h"
#include "test_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tovanel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ChildOptions;
using test::ChildProcess;
using test::DefaultDevicesGuard;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kProgram = TOVANEL_EXECUTABLE;
const std::string kTestSender = TOVANEL_TEST_SENDER;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// What one run of the stand-in sender recorded.
struct SenderRecord {
    std::string pid;
    std::vector<std::string> arguments;
    std::string statusAtStart;
    std::string input;
    std::string end;
};

class AppMode : public test::PulseServerTest {
  protected:
    void SetUp() override {
        PulseServerTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        appDirectory = fs::canonical(scratch().path()).string() + "/app";
        installApp(appDirectory, true);
        fs::create_directories(records());
        fs::create_directories(temporary());
    }

    // The program and (when asked) the sender, copied into `directory`.
    void installApp(const std::string& directory, bool withSender) {
        fs::create_directories(directory);
        fs::copy_file(kProgram, directory + "/tovanel-macos-capture");
        if (withSender) {
            fs::copy_file(kTestSender, directory + "/tovanel-sender");
        }
    }

    std::string records() const { return scratch() / "records"; }
    std::string temporary() const { return scratch() / "tmp"; }
    std::string statusFile(const std::string& port = "48100") const {
        return temporary() + "/tovanel-sender-" + port + "-status.txt";
    }
    std::string errorPath() const { return scratch() / "stderr"; }
    std::string outputPath() const { return scratch() / "stdout"; }

    test::EnvironmentChanges environment(test::EnvironmentChanges extra = {}) const {
        test::EnvironmentChanges changes = server().environment();
        changes["TMPDIR"] = temporary();
        changes["TOVANEL_TEST_SENDER_DIR"] = records();
        changes["TOVANEL_PORT"] = std::nullopt;
        changes["TOVANEL_INPUT"] = std::nullopt;
        changes["TOVANEL_ALLOW_ANY_INPUT"] = std::nullopt;
        for (auto& [name, value] : extra) {
            changes[name] = value;
        }
        return changes;
    }

    std::unique_ptr<ChildProcess> launch(std::vector<std::string> argv,
                                         test::EnvironmentChanges extra = {}) {
        ChildOptions options;
        options.argv = std::move(argv);
        options.environment = environment(std::move(extra));
        options.standardOutput = outputPath();
        options.standardError = errorPath();
        return std::make_unique<ChildProcess>(options);
    }

    std::unique_ptr<ChildProcess> launchApp(test::EnvironmentChanges extra = {}) {
        return launch({appDirectory + "/tovanel-macos-capture", "--app"}, std::move(extra));
    }

    std::vector<SenderRecord> senders() const {
        std::vector<SenderRecord> found;
        for (const auto& entry : fs::directory_iterator(records())) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() != ".args") {
                continue;
            }
            const std::string base = records() + "/" + name.substr(0, name.size() - 5);
            found.push_back({name.substr(7, name.size() - 12),
                             linesOf(test::readFile(base + ".args")),
                             test::readFile(base + ".status"), test::readFile(base + ".stdin"),
                             test::readFile(base + ".end")});
        }
        return found;
    }

    // Waits for the one sender this run launched and returns what it recorded so far.
    SenderRecord theSender() {
        EXPECT_TRUE(test::eventually([&] { return senders().size() == 1; }, 10s))
            << test::readFile(errorPath());
        auto all = senders();
        return all.empty() ? SenderRecord{} : all.front();
    }

    std::string appDirectory;
};

// --- command line, streams and location -------------------------------------------------------

struct PortCase {
    const char* name;
    std::optional<std::string> port;
    std::string expectedPort;
};

class SenderCommandLine : public AppMode, public ::testing::WithParamInterface<PortCase> {};

TEST_P(SenderCommandLine, IsTheSixArgumentsWithTheStatusFileInTheTemporaryDirectory) {
    auto app = launchApp({{"TOVANEL_PORT", GetParam().port}});
    const SenderRecord sender = theSender();
    EXPECT_THAT(sender.arguments,
                ElementsAre(appDirectory + "/tovanel-sender", "--port", GetParam().expectedPort,
                            "--input", "stdin", "--status-file",
                            statusFile(GetParam().expectedPort)));
    EXPECT_TRUE(fs::exists(statusFile(GetParam().expectedPort)));
}

INSTANTIATE_TEST_SUITE_P(Ports, SenderCommandLine,
                         ::testing::Values(PortCase{"Default", std::nullopt, "48100"},
                                           PortCase{"NotANumber", "not a port", "not a port"},
                                           PortCase{"Empty", "", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppMode, AStatusFileLeftByAnEarlierRunIsEmptiedBeforeTheSenderStarts) {
    std::ofstream(statusFile()) << "tovanel-sender exited: 9";
    auto app = launchApp();
    EXPECT_EQ(theSender().statusAtStart, "");
}

TEST_F(AppMode, TheSendersOutputAndErrorAppearOnOurStandardError) {
    auto app = launchApp();
    theSender();
    EXPECT_TRUE(test::eventually(
        [&] {
            return test::readFile(errorPath()).find("tovanel-sender stderr\n") != std::string::npos;
        },
        5s));
    EXPECT_THAT(test::readFile(errorPath()), HasSubstr("tovanel-sender stdout\n"));
    EXPECT_EQ(test::readFile(outputPath()), "");
}

struct LocationCase {
    const char* name;
    // The command that starts the program, given the scratch directory and the app directory.
    std::function<std::vector<std::string>(const std::string&, const std::string&)> command;
};

class SenderLocation : public AppMode, public ::testing::WithParamInterface<LocationCase> {};

TEST_P(SenderLocation, IsBesideTheRealExecutable) {
    const std::string scratchDirectory = fs::canonical(scratch().path()).string();
    fs::create_directories(scratchDirectory + "/links");
    auto app = launch(GetParam().command(scratchDirectory, appDirectory));
    EXPECT_EQ(theSender().arguments.at(0), appDirectory + "/tovanel-sender");
}

INSTANTIATE_TEST_SUITE_P(
    Starts, SenderLocation,
    ::testing::Values(
        LocationCase{"ThroughALinkNamedPCTovanelSender",
                     [](const std::string& scratch, const std::string& app) {
                         fs::create_symlink(app + "/tovanel-macos-capture",
                                            scratch + "/links/PC Tovanel Sender");
                         return std::vector<std::string>{scratch + "/links/PC Tovanel Sender"};
                     }},
        LocationCase{"ThroughALinkNamedTovanelSender",
                     [](const std::string& scratch, const std::string& app) {
                         fs::create_symlink(app + "/tovanel-macos-capture",
                                            scratch + "/links/Tovanel Sender");
                         return std::vector<std::string>{scratch + "/links/Tovanel Sender"};
                     }},
        LocationCase{"ByARelativePath",
                     [](const std::string& scratch, const std::string&) {
                         return std::vector<std::string>{
                             "bash", "-c", "cd \"$0\" && exec app/tovanel-macos-capture --app",
                             scratch};
                     }},
        LocationCase{"ByABareNameFromTheCurrentDirectory",
                     [](const std::string&, const std::string& app) {
                         return std::vector<std::string>{
                             "bash", "-c",
                             "cd \"$0\" && PATH=\"$0:$PATH\" exec tovanel-macos-capture --app",
                             app};
                     }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppMode, AMissingSenderEndsTheProgramBeforeAnyCapture) {
    const std::string lonely = scratch() / "lonely";
    installApp(lonely, false);
    auto app = launch({lonely + "/tovanel-macos-capture", "--app"});
    const auto status = app->waitFor(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 1);
    const std::string standardError = test::readFile(errorPath());
    EXPECT_THAT(standardError, StartsWith("PC Tovanel Sender failed to start: "));
    EXPECT_THAT(standardError, HasSubstr(fs::canonical(lonely).string() + "/tovanel-sender"));
    EXPECT_EQ(linesOf(standardError).size(), 1u);
    EXPECT_TRUE(fs::exists(statusFile()));
    EXPECT_EQ(test::readFile(statusFile()), "");
}

// --- audio through the pipe, and the status file ----------------------------------------------

struct SourceCase {
    const char* name;
    std::optional<std::string> input;
    std::string playInto;     // the sink the source records from
    std::string statusPrefix; // how its periodic status lines begin
};

class AudioThroughThePipe : public AppMode, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(AudioThroughThePipe, TheSenderReceivesTheToneAndTheStatusFileKeepsUp) {
    DefaultDevicesGuard guard(server());
    server().setDefaultSink("builtin");
    auto app = launchApp({{"TOVANEL_INPUT", GetParam().input}});
    const SenderRecord started = theSender();
    ASSERT_TRUE(test::eventually(
        [&] { return test::readFile(statusFile()).rfind(GetParam().statusPrefix, 0) == 0; }, 10s))
        << test::readFile(statusFile()) << test::readFile(errorPath());
    const std::string firstLine = test::readFile(statusFile());

    signals::SineGenerator tone(1000.0, -6.0);
    std::vector<float> played(static_cast<std::size_t>(0.2 * 48000) * 2, 0.0f);
    const auto samples = tone.next(3 * 48000);
    played.insert(played.end(), samples.begin(), samples.end());
    server().play(GetParam().playInto, played, scratch().path());
    std::this_thread::sleep_for(400ms);
    const std::string laterLine = test::readFile(statusFile());
    app->stop(SIGTERM);

    EXPECT_THAT(laterLine, StartsWith(GetParam().statusPrefix));
    EXPECT_NE(laterLine, firstLine) << "the status line is refreshed";
    const auto input = senders().front().input;
    std::vector<std::uint8_t> bytes(input.begin(), input.end());
    signals::FrameAssembler assembler;
    const auto span = assembler.push(bytes);
    const std::vector<float> received(span.begin(), span.end());
    keepOnFailure("sender-input", received);
    const auto report = signals::analyseTone(received);
    ASSERT_TRUE(report.found());
    EXPECT_NEAR(report.channels[0].frequencyHz, 1000.0, 1.0);
    EXPECT_NEAR(report.channels[1].levelDbfs, -6.0, 0.5);
    EXPECT_TRUE(report.bounds.clean());
    EXPECT_TRUE(report.continuous());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, AudioThroughThePipe,
    ::testing::Values(SourceCase{"ScreenByDefault", std::nullopt, "builtin", "ok: screenFrames="},
                      SourceCase{"InputDevice", "device", "blackhole", "ok: inputBuffers="}),
    [](const auto& info) { return std::string(info.param.name); });

struct InputChoiceCase {
    const char* name;
    std::string input;
};

class InputChoice : public AppMode, public ::testing::WithParamInterface<InputChoiceCase> {};

TEST_P(InputChoice, AnythingButExactlyDeviceTakesTheScreenSource) {
    auto app = launchApp({{"TOVANEL_INPUT", GetParam().input}});
    theSender();
    EXPECT_TRUE(test::eventually(
        [&] { return test::readFile(statusFile()).rfind("ok: screenFrames=", 0) == 0; }, 10s))
        << test::readFile(statusFile());
}

INSTANTIATE_TEST_SUITE_P(Values, InputChoice,
                         ::testing::Values(InputChoiceCase{"Capitalised", "Device"},
                                           InputChoiceCase{"LeadingSpace", " device"},
                                           InputChoiceCase{"Screen", "screen"},
                                           InputChoiceCase{"Empty", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the sender's end and the capture's failure -----------------------------------------------

TEST_F(AppMode, ASenderEndingWithStatusThreeIsRecorded) {
    // The stand-in leaves a reader on the pipe, so the program keeps running; the line is
    // overwritten by the next status line, so each replacement of the file is watched.
    test::StatusFileWatch watch(temporary(), "tovanel-sender-48100-status.txt");
    auto app = launchApp({{"TOVANEL_TEST_SENDER_EXIT_STATUS", "3"},
                          {"TOVANEL_TEST_SENDER_EXIT_AFTER", "1"},
                          {"TOVANEL_TEST_SENDER_KEEP_READING", "1"}});
    EXPECT_TRUE(watch.sees("tovanel-sender exited: 3", 10s)) << test::readFile(statusFile());
}

TEST_F(AppMode, ASenderEndingWithStatusZeroLeavesTheFileToTheStatusLines) {
    test::StatusFileWatch watch(temporary(), "tovanel-sender-48100-status.txt");
    auto app = launchApp({{"TOVANEL_TEST_SENDER_EXIT_STATUS", "0"},
                          {"TOVANEL_TEST_SENDER_EXIT_AFTER", "1"},
                          {"TOVANEL_TEST_SENDER_KEEP_READING", "1"}});
    EXPECT_TRUE(test::eventually([&] { return theSender().end == "exit 0"; }, 10s));
    EXPECT_FALSE(watch.sees("tovanel-sender exited: 0", 2s));
    EXPECT_THAT(test::readFile(statusFile()), StartsWith("ok: screenFrames="));
}

TEST_F(AppMode, ACaptureFailureIsTheFilesLastWordAndTheSenderIsLeftAlone) {
    auto app = launchApp(
        {{"PULSE_SERVER", "unix:" + (scratch() / "no-server")}, {"TOVANEL_TEST_SENDER_STAY", "1"}});
    const auto status = app->waitFor(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 1);
    EXPECT_THAT(test::readFile(statusFile()),
                StartsWith("macOS capture failed: shareable content unavailable: "));
    EXPECT_THAT(test::readFile(errorPath()),
                HasSubstr("tovanel-macos-capture: shareable content unavailable: "));
    // The sender saw its input end and is still there: nobody signalled it.
    ASSERT_TRUE(test::eventually([&] { return theSender().end == "eof"; }, 5s));
    const std::string pid = theSender().pid;
    EXPECT_TRUE(fs::exists("/proc/" + pid));
    ::kill(std::stoi(pid), SIGKILL);
}

// --- stale senders ----------------------------------------------------------------------------

class StaleSenders : public AppMode {
  protected:
    // A sender started earlier, still running, as pkill would see it.
    std::unique_ptr<ChildProcess> staleSender(const std::string& path, const std::string& port) {
        ChildOptions options;
        options.argv = {path, "--port", port, "--input", "stdin", "--status-file", "/dev/null"};
        options.environment = environment({{"TOVANEL_TEST_SENDER_STAY", "1"}});
        auto sender = std::make_unique<ChildProcess>(options);
        EXPECT_TRUE(test::eventually(
            [&] {
                return fs::exists(records() + "/sender-" + std::to_string(sender->pid()) + ".end");
            },
            5s));
        return sender;
    }

    std::string endOf(const ChildProcess& sender) {
        return test::readFile(records() + "/sender-" + std::to_string(sender.pid()) + ".end");
    }

    // Runs the app from `directory` on `port` until its own sender has started.
    void runAppUntilItsSenderStarts(const std::string& directory, const std::string& port,
                                    std::size_t sendersBefore) {
        auto app =
            launch({directory + "/tovanel-macos-capture", "--app"}, {{"TOVANEL_PORT", port}});
        EXPECT_TRUE(test::eventually([&] { return senders().size() > sendersBefore; }, 10s))
            << test::readFile(errorPath());
        app->stop(SIGKILL);
    }
};

TEST_F(StaleSenders, OnlyTheSamePathWithTheSamePortIsSignalled) {
    const std::string sender = appDirectory + "/tovanel-sender";
    const std::string elsewhere = scratch() / "elsewhere";
    installApp(elsewhere, true);
    auto same = staleSender(sender, "48100");
    auto longer = staleSender(sender, "481001");
    auto other = staleSender(sender, "48200");
    auto otherDirectory = staleSender(elsewhere + "/tovanel-sender", "48100");
    runAppUntilItsSenderStarts(appDirectory, "48100", 4);
    EXPECT_TRUE(test::eventually([&] { return endOf(*same) == "signal 15"; }, 5s)) << endOf(*same);
    EXPECT_EQ(endOf(*longer), "eof");
    EXPECT_EQ(endOf(*other), "eof");
    EXPECT_EQ(endOf(*otherDirectory), "eof");
}

TEST_F(StaleSenders, StartingOnAPortThatPrefixesAnotherLeavesThatSenderAlone) {
    auto serving = staleSender(appDirectory + "/tovanel-sender", "48100");
    runAppUntilItsSenderStarts(appDirectory, "4810", 1);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(endOf(*serving), "eof");
}

TEST_F(StaleSenders, ADotInOurPathMatchesOnlyADot) {
    const std::string dotted = scratch() / "app.dir";
    const std::string lookalike = scratch() / "appXdir";
    installApp(dotted, true);
    installApp(lookalike, true);
    auto stranger = staleSender(lookalike + "/tovanel-sender", "48100");
    runAppUntilItsSenderStarts(dotted, "48100", 1);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(endOf(*stranger), "eof");
}

TEST_F(StaleSenders, APathFullOfMetacharactersFindsItsOwnStaleSender) {
    const std::string odd = scratch() / "a+b (copy) [2]";
    installApp(odd, true);
    auto stale = staleSender(odd + "/tovanel-sender", "48100");
    runAppUntilItsSenderStarts(odd, "48100", 1);
    EXPECT_TRUE(test::eventually([&] { return endOf(*stale) == "signal 15"; }, 5s))
        << endOf(*stale);
}

} // namespace
} // namespace tovanel
