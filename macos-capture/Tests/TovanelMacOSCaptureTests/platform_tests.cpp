// The shared platform code for real: the output handle, atomic file replacement and paths,
// child processes and pipes, the portable queues and timers, and Unicode lower-casing.
#include "platform/portable/dispatch.h"
#include "platform/portable/text.h"
#include "platform/posix/fd_output_handle.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"
#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>

namespace tovanel::platform {
namespace {

using posix::FdOutputHandle;
using posix::UniqueFd;
using ::testing::ExitedWithCode;
using ::testing::KilledBySignal;

std::vector<std::uint8_t> numbered(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7919) >> 3);
    }
    return bytes;
}

std::pair<UniqueFd, UniqueFd> pipeEnds(int flags = 0) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC | flags), 0);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Reads to the end in small pieces with pauses, so the writer keeps meeting a full pipe.
std::vector<std::uint8_t> readSlowly(int fd) {
    std::vector<std::uint8_t> received;
    std::uint8_t chunk[3001];
    for (int round = 0;; ++round) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return received;
        }
        received.insert(received.end(), chunk, chunk + got);
        if (round % 64 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

void interrupt(int) {}

TEST(OutputHandle, HandsOverEveryByteThroughFullBlockingOrNonBlockingPipesAndSignals) {
    struct sigaction interrupting {}; // no SA_RESTART: a blocked write returns early
    interrupting.sa_handler = interrupt;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &interrupting, &previous), 0);
    for (const int flags : {0, O_NONBLOCK}) {
        auto [reading, writing] = pipeEnds(flags);
        const auto block = numbered(3 * 1024 * 1024 + 3);
        auto received =
            std::async(std::launch::async, [fd = reading.get()] { return readSlowly(fd); });
        std::atomic<bool> done{false};
        std::promise<pthread_t> writerThread;
        std::thread writer([&, fd = std::move(writing)]() mutable {
            writerThread.set_value(::pthread_self());
            auto handle = FdOutputHandle::owning(std::move(fd));
            handle.write(block);
            handle.write(std::span(block).first(5));
            done = true;
        });
        const pthread_t target = writerThread.get_future().get();
        while (!done) {
            ::pthread_kill(target, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        writer.join();
        const auto got = received.get();
        ASSERT_EQ(got.size(), block.size() + 5) << flags;
        EXPECT_TRUE(std::equal(block.begin(), block.end(), got.begin()));
        EXPECT_TRUE(std::equal(block.begin(), block.begin() + 5, got.end() - 5));
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
    ::testing::internal::CaptureStdout();
    posix::PosixFiles().standardOutput()->write(numbered(5));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()), numbered(5));
}

// The reader has gone: the process ends at the write, silently, whatever it inherited.
void writeWithoutReader(int disposition, bool closeDuringWrite) {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    if (disposition == 1) {
        ::signal(SIGPIPE, SIG_IGN);
    } else if (disposition == 2) {
        ::pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
    }
    auto [reading, writing] = pipeEnds();
    std::thread closer([fd = std::move(reading), closeDuringWrite]() mutable {
        if (closeDuringWrite) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the write is blocked
        }
        fd.reset();
    });
    if (!closeDuringWrite) {
        closer.join();
    }
    FdOutputHandle::owning(std::move(writing)).write(numbered(4 * 1024 * 1024));
    std::fputs("capture carried on", stderr);
    std::exit(0);
}

TEST(OutputHandle, EndsTheProcessSilentlyWhenTheReaderIsGoneAndWithAReasonOnOtherFailures) {
    for (const int disposition : {0, 1, 2}) { // default, ignored, blocked
        EXPECT_EXIT(writeWithoutReader(disposition, false), KilledBySignal(SIGPIPE), "^$");
    }
    EXPECT_EXIT(writeWithoutReader(1, true), KilledBySignal(SIGPIPE), "^$");
    const auto writeTo = [](const char* path, int flags) {
        FdOutputHandle::owning(UniqueFd(::open(path, flags))).write(numbered(1024));
        std::exit(0);
    };
    EXPECT_EXIT(writeTo("/dev/full", O_WRONLY), ExitedWithCode(1),
                "^PCM output write failed: No space left on device\n$");
    EXPECT_EXIT(writeTo("/dev/null", O_RDONLY), ExitedWithCode(1),
                "^PCM output write failed: Bad file descriptor\n$");
}

TEST(Files, ReplaceAtomicallyWithExactBytesNeverFollowingOrLeavingAnything) {
    test::TempDir dir;
    posix::PosixFiles files;
    const std::string target = dir / "status.txt";
    for (const std::string& content :
         std::vector<std::string>{"ok: \xE2\x9C\x93 first", "", {"a\0b", 3}}) {
        EXPECT_EQ(files.replaceFileAtomically(target, content), std::nullopt);
        EXPECT_EQ(test::readFile(target), content);
    }
    std::ofstream(dir / "victim") << "keep";
    std::filesystem::remove(target);
    std::filesystem::create_symlink(dir / "victim", target);
    EXPECT_EQ(files.replaceFileAtomically(target, "new"), std::nullopt);
    EXPECT_EQ(test::readFile(dir / "victim"), "keep") << "the planted link was not followed";
    EXPECT_FALSE(std::filesystem::is_symlink(target));
    std::filesystem::create_directory(dir / "folder");
    const auto error = files.replaceFileAtomically(dir / "folder", "x");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->call, "rename");
    EXPECT_TRUE(files.replaceFileAtomically(dir / "missing/status.txt", "x"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 3)
        << "status.txt, victim, folder: no temporary file left behind";
    // Temporary names come from the name source; taken names are skipped, never opened.
    std::ofstream(dir / ".planted.taken.tmp") << "planted";
    int calls = 0;
    posix::PosixFiles planted([&] { return ++calls < 3 ? "taken" : "free"; });
    EXPECT_EQ(planted.replaceFileAtomically(dir / "planted", "mine"), std::nullopt);
    EXPECT_EQ(test::readFile(dir / ".planted.taken.tmp"), "planted");
    EXPECT_EQ(test::readFile(dir / "planted"), "mine");
    posix::PosixFiles stuck([] { return "taken"; });
    EXPECT_EQ(stuck.replaceFileAtomically(dir / "planted", "x")->code, EEXIST);
    EXPECT_NE(posix::unpredictableName(), posix::unpredictableName());
}

TEST(Files, AReaderOnlyEverSeesOneCompleteContent) {
    test::TempDir dir;
    posix::PosixFiles files;
    const std::string target = dir / "status.txt";
    const std::string a(1000, 'a');
    const std::string b(3000, 'b');
    ASSERT_EQ(files.replaceFileAtomically(target, a), std::nullopt);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) {
            (void)files.replaceFileAtomically(target, i % 2 ? a : b);
        }
        done = true;
    });
    while (!done) {
        const std::string seen = test::readFile(target);
        ASSERT_TRUE(seen == a || seen == b) << seen.size();
    }
    writer.join();
}

TEST(Files, TemporaryCurrentAndResolvedPaths) {
    posix::PosixFiles files;
    for (const auto& [value, expected] :
         std::vector<std::pair<std::optional<std::string>, std::string>>{
             {std::nullopt, "/tmp"}, {"", "/tmp"}, {"/var/x//", "/var/x"}, {"/", "/"}}) {
        test::ScopedEnv env("TMPDIR", value);
        EXPECT_EQ(files.temporaryDirectory(), expected);
    }
    EXPECT_EQ(files.currentDirectory(), std::filesystem::current_path().string());
    test::TempDir dir;
    const auto real = std::filesystem::canonical(dir.path);
    std::filesystem::create_directory(real / "a");
    std::filesystem::create_symlink(real / "a", real / "link");
    std::ofstream(real / "a" / "file") << "";
    std::filesystem::create_symlink(real / "link" / "file", real / "a" / "file-link");
    EXPECT_EQ(files.resolvingSymlinksInPath((real / "link" / "file-link").string()),
              (real / "a" / "file").string());
    EXPECT_EQ(files.resolvingSymlinksInPath((real / "link" / "missing").string()),
              (real / "a" / "missing").string());
    EXPECT_EQ(files.resolvingSymlinksInPath("/missing-top"), "/missing-top");
    EXPECT_EQ(files.resolvingSymlinksInPath("/no/such/dir/x"), "/no/such/dir/x");
}

// Runs `script` in /bin/sh as a child with `extra` arguments; returns the child.
std::unique_ptr<ChildProcess> shell(Processes& processes, const std::string& script,
                                    std::vector<std::string> extra = {},
                                    LaunchRequest request = {}) {
    request.executable = "/bin/sh";
    request.arguments = {"-c", script, "sh"};
    request.arguments.insert(request.arguments.end(), extra.begin(), extra.end());
    auto launched = processes.launch(std::move(request));
    EXPECT_TRUE(launched.ok());
    return launched.ok() ? std::move(launched.value()) : nullptr;
}

TEST(Processes, ArgumentsStatusesAndTheHandlerAreEachExact) {
    test::TempDir dir;
    posix::PosixProcesses processes;
    const std::vector<std::string> arguments = {"a b", "", "\xC3\xA9", "--port", "$HOME"};
    shell(processes, "printf '%s|' \"$0\" \"$@\" > \"$1\"",
          {dir / "args", "a b", "", "\xC3\xA9", "$HOME"})
        ->waitUntilExit();
    EXPECT_EQ(test::readFile(dir / "args"), "sh|" + (dir / "args") + "|a b||\xC3\xA9|$HOME|");
    using R = TerminationStatus::Reason;
    for (const auto& [script, expected] : std::vector<std::pair<std::string, TerminationStatus>>{
             {"exit 3", {R::exit, 3}},
             {"exit 0", {R::exit, 0}},
             {"kill -TERM $$", {R::uncaughtSignal, SIGTERM}}}) {
        std::promise<TerminationStatus> handled;
        LaunchRequest request;
        request.terminationHandler = [&](TerminationStatus status) { handled.set_value(status); };
        auto child = shell(processes, script, {}, std::move(request));
        EXPECT_EQ(child->waitUntilExit(), expected);
        child.reset(); // a handle let go early does not stop the report
        EXPECT_EQ(handled.get_future().get(), expected);
    }
    const auto failed = processes.launch({"/no/such/program", {}, nullptr, {}, {}, {}});
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().description, "/no/such/program: No such file or directory");
}

TEST(Processes, TheChildGetsThePipeAndItsStreamsAndNothingElseOfOurs) {
    test::TempDir dir;
    posix::PosixProcesses processes;
    auto pipe = processes.makePipe();
    ASSERT_TRUE(pipe.ok());
    ::testing::internal::CaptureStderr();
    std::set<int> ours; // descriptors open here that a child could inherit
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename());
        if (fd > 2 && (::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0) {
            ours.insert(fd);
        }
    }
    LaunchRequest request;
    request.standardInput = pipe.value().get();
    request.standardOutput = ChildOutput::ourStandardError;
    auto child = shell(processes, "ls /proc/self/fd > \"$1\"; cat > \"$2\"; echo done",
                       {dir / "fds", dir / "stdin"}, std::move(request));
    auto writer = pipe.value()->writingEnd();
    writer->write(numbered(100000));
    pipe.value().reset();
    writer.reset(); // the child's input ends only once we let go of the writing end
    child->waitUntilExit();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "done\n");
    const std::string stdinBytes = test::readFile(dir / "stdin");
    EXPECT_EQ(std::vector<std::uint8_t>(stdinBytes.begin(), stdinBytes.end()), numbered(100000));
    std::istringstream listing(test::readFile(dir / "fds"));
    int extra = 0;
    for (int fd; listing >> fd;) {
        extra += fd > 2 && ours.count(fd) == 0;
    }
    EXPECT_EQ(extra, 1) << "only the descriptor ls opens itself";
    // A failed launch still closes our reading end: a writer then has no reader at all.
    EXPECT_EXIT(
        {
            auto lonely = processes.makePipe();
            (void)processes.launch({"/no/such", {}, lonely.value().get(), {}, {}, {}});
            lonely.value()->writingEnd()->write(numbered(10));
            std::exit(0);
        },
        KilledBySignal(SIGPIPE), "^$");
}

TEST(Processes, AChildStartsWithDefaultSignalsWhateverWeIgnoreOrBlock) {
    posix::PosixProcesses processes;
    test::TempDir dir;
    const auto previous = ::signal(SIGTERM, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    sigset_t old;
    ::pthread_sigmask(SIG_BLOCK, &blocked, &old);
    auto child =
        shell(processes, "grep SigBlk /proc/self/status > \"$1\"; kill -TERM $$", {dir / "mask"});
    const auto status = child->waitUntilExit();
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::signal(SIGTERM, previous);
    EXPECT_EQ(status, (TerminationStatus{TerminationStatus::Reason::uncaughtSignal, SIGTERM}));
    EXPECT_EQ(test::readFile(dir / "mask"), "SigBlk:\t0000000000000000\n");
}

TEST(SerialQueues, RunJobsInOrderOneAtATimeAndIndependentlyOfEachOther) {
    portable::PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.a");
    auto other = dispatch.makeSerialQueue("tovanel.test.b");
    EXPECT_EQ(queue->label(), "tovanel.test.a");
    std::promise<void> release;
    auto released = release.get_future().share();
    queue->async([released] { released.wait(); }); // holds this queue only
    std::promise<bool> otherRan;
    other->async([&] { otherRan.set_value(other->isCurrent() && !queue->isCurrent()); });
    EXPECT_TRUE(otherRan.get_future().get());
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 200; ++i) {
                auto job = [&, value = p * 1000 + i] {
                    most = std::max(most.load(), ++running);
                    order.push_back(value);
                    --running;
                };
                i % 2 ? queue->async(job) : queue->asyncOrRunHere(job);
            }
        });
    }
    release.set_value();
    for (auto& producer : producers) {
        producer.join();
    }
    std::promise<void> drained;
    queue->async([&] { drained.set_value(); });
    drained.get_future().wait();
    EXPECT_EQ(most, 1) << "never two jobs at once, run here or on the queue";
    ASSERT_EQ(order.size(), 800u);
    std::vector<int> last(4, -1);
    for (const int value : order) {
        EXPECT_GT(value % 1000, last[value / 1000]) << "each producer's order is kept";
        last[value / 1000] = value % 1000;
    }
    EXPECT_FALSE(queue->isCurrent());
}

TEST(SerialQueues, RunAJobHereOnlyWhenIdleAndNeverInsideAnotherJob) {
    portable::PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.here");
    std::thread::id ranOn;
    bool current = false;
    queue->asyncOrRunHere([&] {
        ranOn = std::this_thread::get_id();
        current = queue->isCurrent();
    });
    EXPECT_EQ(ranOn, std::this_thread::get_id()) << "idle: run at once, here";
    EXPECT_TRUE(current);
    // Inside a job of any queue, the job is queued, never run inside the other job.
    auto other = dispatch.makeSerialQueue("tovanel.test.other");
    std::promise<bool> nestedRanElsewhere;
    other->async([&, outer = std::this_thread::get_id()]() mutable {
        outer = std::this_thread::get_id();
        queue->asyncOrRunHere([&, outer] {
            nestedRanElsewhere.set_value(std::this_thread::get_id() != outer && queue->isCurrent());
        });
    });
    EXPECT_TRUE(nestedRanElsewhere.get_future().get());
    // A queue may be released by one of its own jobs, also by one running here.
    for (const bool here : {false, true}) {
        std::promise<void> done;
        auto doomed = dispatch.makeSerialQueue("tovanel.test.doomed");
        auto* raw = doomed.get();
        auto job = [&, keep = std::move(doomed)]() mutable {
            keep.reset();
            done.set_value();
        };
        here ? raw->asyncOrRunHere(std::move(job)) : raw->async(std::move(job));
        done.get_future().wait();
    }
}

TEST(Timers, TickAtOnceThenRepeatWithoutPilingUpAndStopWithTheirHandle) {
    portable::PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.timer");
    std::promise<void> firstTick;
    auto slow =
        dispatch.startRepeatingTimer(queue, std::chrono::hours(1), [&] { firstTick.set_value(); });
    firstTick.get_future().wait(); // an hour's interval, yet the first tick is here
    std::atomic<int> ticks{0};
    std::promise<void> fiveTicks;
    auto fast = dispatch.startRepeatingTimer(queue, std::chrono::milliseconds(1), [&] {
        if (++ticks == 5) {
            fiveTicks.set_value();
        }
    });
    fiveTicks.get_future().wait();
    std::promise<void> release;
    auto released = release.get_future().share();
    std::promise<int> ticksWhileBusy;
    queue->async([&, released] {
        const int before = ticks;
        released.wait_for(std::chrono::milliseconds(100)); // busy through a hundred intervals
        ticksWhileBusy.set_value(before);
    });
    release.set_value();
    const int before = ticksWhileBusy.get_future().get();
    fast.reset();
    std::promise<void> drained;
    queue->async([&] { drained.set_value(); });
    drained.get_future().wait();
    EXPECT_LE(ticks - before, 1) << "a busy queue got one pending tick, not a pile";
    const int afterCancel = ticks;
    std::promise<void> drainedAgain;
    queue->async([&] { drainedAgain.set_value(); });
    drainedAgain.get_future().wait();
    EXPECT_EQ(ticks, afterCancel);
    std::promise<void> cancelledItself;
    std::unique_ptr<RepeatingTimer> self;
    self = dispatch.startRepeatingTimer(queue, std::chrono::milliseconds(1), [&] {
        if (self) {
            self.reset();
            cancelledItself.set_value();
        }
    });
    cancelledItself.get_future().wait();
}

TEST(MainRunLoop, RunsMainJobsInOrderOnItsThreadUntilStopped) {
    portable::PortableDispatch dispatch;
    std::vector<int> order;
    dispatch.asyncOnMain([&] { order.push_back(1); });
    dispatch.asyncOnMain([&] {
        order.push_back(2);
        dispatch.asyncOnMain([&] { dispatch.stopMainLoop(); });
    });
    EXPECT_TRUE(order.empty()) << "nothing runs before the loop";
    dispatch.runMainLoop();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(Text, LowerCasesUnicodeAndKeepsWhatIsNotUtf8) {
    portable::PortableText text;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"BlackHole 2CH", "blackhole 2ch"},
        {"\xC3\x80\xC3\x89\xC3\x8E", "\xC3\xA0\xC3\xA9\xC3\xAE"}, // ÀÉÎ
        {"\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1"},                 // ΣΑ
        {"\xE1\xBA\x9E", "\xC3\x9F"},                             // ẞ: three bytes to two
        {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},                 // Deseret: four bytes
        {"\xEB\x8B\xA4\xEC\xA4\x91", "\xEB\x8B\xA4\xEC\xA4\x91"}, // Korean has no case
        {"A\xFF"
         "B\xC0\xAF"
         "C",
         "a\xFF"
         "b\xC0\xAF"
         "c"},                                    // invalid, overlong
        {"\xED\xA0\x80Z", "\xED\xA0\x80z"},       // a surrogate
        {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"}, // beyond U+10FFFF
        {"Z\xE2\x82", "z\xE2\x82"},               // cut short
        {"\xEF\xBB\xBF"
         "BLACKHOLE",
         "\xEF\xBB\xBF"
         "blackhole"}, // a byte-order mark stays
        {"", ""},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(text.lowercased(input), expected) << input;
    }
}

} // namespace
} // namespace tovanel::platform
