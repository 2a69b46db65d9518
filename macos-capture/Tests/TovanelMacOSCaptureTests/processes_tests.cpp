// POSIX processes: arguments, standard streams, the termination handler, launch failures, and
// that a child gets exactly the descriptors it is given.
#include "platform/posix/processes.h"
#include "test_directory.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace tovanel::platform::posix {
namespace {

using test::readFile;
using test::TestDirectory;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

std::unique_ptr<ChildProcess> launchShell(PosixProcesses& processes, const std::string& script,
                                          std::vector<std::string> extra = {},
                                          LaunchRequest request = {}) {
    request.executable = "/bin/sh";
    request.arguments = {"-c", script, "sh"};
    request.arguments.insert(request.arguments.end(), extra.begin(), extra.end());
    auto launched = processes.launch(std::move(request));
    EXPECT_TRUE(launched.ok()) << (launched.ok() ? "" : launched.error().description);
    return launched.ok() ? std::move(launched.value()) : nullptr;
}

TEST(Processes, PassesEveryArgumentVerbatimWithTheExecutableAsElementZero) {
    TestDirectory dir;
    PosixProcesses processes;
    const std::string out = dir / "args";
    auto child = launchShell(
        processes,
        "printf '<%s>' \"$0\" \"$@\" > \"$1\"; tr '\\0' ' ' < /proc/$$/cmdline >> \"$1\"",
        {out, "--port", "", "with space", "*", "$HOME"});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->waitUntilExit(), (TerminationStatus{TerminationStatus::Reason::exit, 0}));
    const std::string seen = readFile(out);
    EXPECT_THAT(seen, HasSubstr("<sh><" + out + "><--port><><with space><*><$HOME>"));
    EXPECT_THAT(seen, HasSubstr("/bin/sh -c ")); // the command line starts with the full path
}

TEST(Processes, ReportsExitStatusAndSignalThroughHandlerAndWait) {
    PosixProcesses processes;
    struct Case {
        std::string script;
        TerminationStatus expected;
    };
    for (const auto& [script, expected] :
         {Case{"exit 0", {TerminationStatus::Reason::exit, 0}},
          Case{"exit 3", {TerminationStatus::Reason::exit, 3}},
          Case{"exit 255", {TerminationStatus::Reason::exit, 255}},
          Case{"kill -TERM $$", {TerminationStatus::Reason::uncaughtSignal, SIGTERM}},
          Case{"kill -KILL $$", {TerminationStatus::Reason::uncaughtSignal, SIGKILL}}}) {
        std::mutex mutex;
        std::condition_variable called;
        std::vector<TerminationStatus> reported;
        std::thread::id handlerThread;
        LaunchRequest request;
        request.terminationHandler = [&](TerminationStatus status) {
            std::lock_guard lock(mutex);
            reported.push_back(status);
            handlerThread = std::this_thread::get_id();
            called.notify_all();
        };
        auto child = launchShell(processes, script, {}, std::move(request));
        ASSERT_TRUE(child);
        EXPECT_EQ(child->waitUntilExit(), expected) << script;
        std::unique_lock lock(mutex);
        ASSERT_TRUE(called.wait_for(lock, 5s, [&] { return !reported.empty(); }));
        EXPECT_THAT(reported, ElementsAre(expected)) << script;
        EXPECT_NE(handlerThread, std::this_thread::get_id());
    }
}

TEST(Processes, AChildThatOutlivesItsHandleStillReportsItsEnd) {
    PosixProcesses processes;
    std::promise<TerminationStatus> reported;
    LaunchRequest request;
    request.terminationHandler = [&](TerminationStatus status) { reported.set_value(status); };
    launchShell(processes, "sleep 0.2; exit 7", {}, std::move(request)).reset();
    auto future = reported.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), (TerminationStatus{TerminationStatus::Reason::exit, 7}));
}

TEST(Processes, FeedsThePipeToTheChildWhichSeesEndOfFileWhenWeLetGo) {
    TestDirectory dir;
    PosixProcesses processes;
    auto pipe = processes.makePipe();
    ASSERT_TRUE(pipe.ok());
    auto writingEnd = pipe.value()->writingEnd();
    LaunchRequest request;
    request.standardInput = pipe.value().get();
    const std::string out = dir / "received";
    auto child = launchShell(processes, "cat > \"$1\"", {out}, std::move(request));
    ASSERT_TRUE(child);

    const std::vector<std::uint8_t> bytes{0, 1, 2, 0xFF, '\n', 'x'};
    writingEnd->write(bytes);
    // The child ends only if no one else holds the writing end: not the child itself, not us.
    writingEnd.reset();
    pipe.value().reset();
    EXPECT_EQ(child->waitUntilExit(), (TerminationStatus{TerminationStatus::Reason::exit, 0}));
    const std::string received = readFile(out);
    EXPECT_EQ(std::vector<std::uint8_t>(received.begin(), received.end()), bytes);
}

// Descriptors above 2 that this test process got from outside without close-on-exec (a test
// runner may hand some down); a child inherits those from anyone, so they are not ours to judge.
std::set<int> inheritableDescriptorsAboveTwo() {
    std::set<int> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        const int flags = ::fcntl(fd, F_GETFD);
        if (fd > 2 && flags >= 0 && (flags & FD_CLOEXEC) == 0) {
            found.insert(fd);
        }
    }
    return found;
}

TEST(Processes, ChildGetsNoDescriptorOfOurs) {
    TestDirectory dir;
    PosixProcesses processes;
    auto pipe = processes.makePipe(); // our descriptors, which must not leak into the child
    ASSERT_TRUE(pipe.ok());
    const auto foreign = inheritableDescriptorsAboveTwo();
    const std::string out = dir / "fds";
    LaunchRequest request;
    request.standardInput = pipe.value().get();
    auto child = launchShell(processes, "ls /proc/self/fd > \"$1\"", {out}, std::move(request));
    ASSERT_TRUE(child);
    pipe.value().reset();
    child->waitUntilExit();

    std::istringstream listing(readFile(out));
    std::vector<int> unexpected;
    for (int fd; listing >> fd;) {
        if (fd > 2 && !foreign.count(fd)) {
            unexpected.push_back(fd);
        }
    }
    // ls itself opens exactly one descriptor, to read the directory.
    EXPECT_EQ(unexpected.size(), 1u);
}

TEST(Processes, ChildOutputCanJoinOurStandardError) {
    PosixProcesses processes;
    LaunchRequest request;
    request.standardOutput = ChildOutput::ourStandardError;
    request.standardError = ChildOutput::ourStandardError;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    auto child = launchShell(processes, "printf out; printf err >&2", {}, std::move(request));
    ASSERT_TRUE(child);
    child->waitUntilExit();
    const std::string standardError = ::testing::internal::GetCapturedStderr();
    const std::string standardOutput = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(standardError, "outerr");
    EXPECT_EQ(standardOutput, "");
}

TEST(Processes, ChildStartsWithDefaultSignalsWhateverWeIgnore) {
    TestDirectory dir;
    PosixProcesses processes;
    const std::string out = dir / "status";
    auto previous = ::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked, old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &old);
    auto child =
        launchShell(processes, "grep -E '^Sig(Ign|Blk)' /proc/self/status > \"$1\"", {out});
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::signal(SIGPIPE, previous);
    ASSERT_TRUE(child);
    child->waitUntilExit();
    // Bits of the standard signals 1 to 31. glibc's posix_spawn itself leaves its two reserved
    // real-time signals (32 and 33) ignored in the child; no program can use those anyway.
    std::istringstream status(readFile(out));
    std::string blockedLabel, blockedHex, ignoredLabel, ignoredHex;
    status >> blockedLabel >> blockedHex >> ignoredLabel >> ignoredHex;
    ASSERT_EQ(blockedLabel, "SigBlk:");
    ASSERT_EQ(ignoredLabel, "SigIgn:");
    constexpr unsigned long long kStandardSignals = 0x7FFFFFFFull;
    EXPECT_EQ(std::stoull(blockedHex, nullptr, 16) & kStandardSignals, 0u);
    EXPECT_EQ(std::stoull(ignoredHex, nullptr, 16) & kStandardSignals, 0u);
}

TEST(Processes, ALaunchFailureIsAReadableError) {
    TestDirectory dir;
    PosixProcesses processes;
    test::writeFile(dir / "not-executable", "#!/bin/sh\n");
    ::chmod((dir / "not-executable").c_str(), 0644);
    struct Case {
        std::string executable;
        std::string reason;
    };
    for (const auto& [executable, reason] :
         {Case{dir / "tovanel-sender", "No such file or directory"},
          Case{dir / "not-executable", "Permission denied"},
          Case{dir.path(), "Permission denied"}}) {
        bool handlerCalled = false;
        LaunchRequest request;
        request.executable = executable;
        request.terminationHandler = [&](TerminationStatus) { handlerCalled = true; };
        auto launched = processes.launch(std::move(request));
        ASSERT_FALSE(launched.ok()) << executable;
        EXPECT_EQ(launched.error().call, "posix_spawn");
        EXPECT_EQ(launched.error().localizedDescription(), executable + ": " + reason);
        EXPECT_FALSE(handlerCalled);
    }
}

TEST(Processes, TheReadingEndIsClosedHereEvenWhenTheLaunchFails) {
    TestDirectory dir;
    PosixProcesses processes;
    auto pipe = processes.makePipe();
    ASSERT_TRUE(pipe.ok());
    LaunchRequest request;
    request.executable = dir / "missing";
    request.standardInput = pipe.value().get();
    ASSERT_FALSE(processes.launch(std::move(request)).ok());
    // With no reader left anywhere, a write ends the process by SIGPIPE.
    auto writingEnd = pipe.value()->writingEnd();
    EXPECT_EXIT(writingEnd->write(std::vector<std::uint8_t>(8)), ::testing::KilledBySignal(SIGPIPE),
                "");
}

} // namespace
} // namespace tovanel::platform::posix
