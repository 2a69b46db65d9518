// The shared platform code for real: the output handle, atomic file replacement and paths,
// child processes and pipes, the portable queues and timers, and Unicode lower-casing.
#include "platform/portable/dispatch.h"
#include "platform/portable/text.h"
#include "platform/posix/fd_output_handle.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"
#include "test_support.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <future>
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

std::pair<UniqueFd, UniqueFd> pipeEnds() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// A slow reader keeps a non-blocking pipe full: the handle waits and carries on.
TEST(OutputHandle, HandsOverEveryByteThroughAFullNonBlockingPipe) {
    auto [reading, writing] = pipeEnds();
    ::fcntl(writing.get(), F_SETFL, O_NONBLOCK); // our end only: the reader's reads block
    const auto block = numbered(3 * 1024 * 1024 + 3);
    auto received = std::async(std::launch::async, [fd = reading.get(), &block] {
        std::vector<std::uint8_t> got(block.size() + 1);
        for (ssize_t at = 0, n = 1; n > 0; at += n) {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            n = ::read(fd, got.data() + at, std::min<std::size_t>(4096, got.size() - at));
        }
        return std::vector(got.begin(), got.begin() + block.size());
    });
    FdOutputHandle::owning(std::move(writing)).write(block);
    EXPECT_EQ(test::within(received, "end of the reader's input"), block);
}

// The reader has gone: the process ends at the write, silently, whatever it inherited.
void writeWithoutReader(int disposition) {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    disposition == 1
        ? (void)::signal(SIGPIPE, SIG_IGN)
        : (void)::pthread_sigmask(disposition == 2 ? SIG_BLOCK : SIG_UNBLOCK, &pipeOnly, nullptr);
    auto [reading, writing] = pipeEnds();
    reading.reset();
    FdOutputHandle::owning(std::move(writing)).write(numbered(4 * 1024 * 1024));
    std::exit(0);
}

TEST(OutputHandle, EndsTheProcessSilentlyWhenTheReaderIsGoneAndWithAReasonOtherwise) {
    for (const int disposition : {0, 1, 2}) { // default, ignored, blocked
        EXPECT_EXIT(writeWithoutReader(disposition), KilledBySignal(SIGPIPE), "^$");
    }
    EXPECT_EXIT(FdOutputHandle::owning(UniqueFd(::open("/dev/full", O_WRONLY))).write(numbered(9)),
                ExitedWithCode(1), "^PCM output write failed: No space left on device\n$");
}

TEST(Files, ReplaceAtomicallyNeverFollowingOrLeavingAnythingAndPathsResolve) {
    test::TempDir dir;
    posix::PosixFiles files;
    const std::string target = dir / "status.txt";
    for (const std::string& content :
         std::vector<std::string>{"ok: \xE2\x9C\x93", "", "x", {"a\0b", 3}}) {
        EXPECT_EQ(files.replaceFileAtomically(target, content), std::nullopt);
        EXPECT_EQ(test::readFile(target), content);
    }
    std::ofstream(dir / "victim") << "keep";
    std::filesystem::remove(target);
    std::filesystem::create_symlink(dir / "victim", target);
    EXPECT_EQ(files.replaceFileAtomically(target, "new"), std::nullopt);
    EXPECT_EQ(test::readFile(dir / "victim"), "keep") << "the planted link was not followed";
    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(files.replaceFileAtomically(dir / "folder", "x")->call, "rename");
    EXPECT_TRUE(files.replaceFileAtomically(dir / "missing/status.txt", "x"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 3)
        << "status.txt, victim, folder: no temporary file left behind";
    int calls = 0; // taken names are skipped, never opened; after sixteen it gives up
    std::ofstream(dir / ".planted.taken.tmp") << "planted";
    EXPECT_EQ(posix::PosixFiles([&] { return ++calls <= 16 ? "taken" : "free"; })
                  .replaceFileAtomically(dir / "planted", "")
                  ->code,
              EEXIST);
    EXPECT_EQ(test::readFile(dir / ".planted.taken.tmp"), "planted");
    for (const auto& [value, expected] : std::vector<std::pair<std::string, std::string>>{
             {"", "/tmp"}, {"/var/x//", "/var/x"}, {"/", "/"}}) {
        test::ScopedEnv env("TMPDIR", value);
        EXPECT_EQ(files.temporaryDirectory(), expected);
    }
    const auto real = std::filesystem::canonical(dir.path);
    std::filesystem::create_directory(real / "a");
    std::filesystem::create_symlink(real / "a", real / "link");
    EXPECT_EQ(files.resolvingSymlinksInPath(real / "link" / "missing"), real / "a" / "missing");
    EXPECT_EQ(files.resolvingSymlinksInPath("/no/such/x"), "/no/such/x");
}

TEST(Processes, TheChildGetsItsArgumentsPipeAndDefaultSignalsAndReportsItsEnd) {
    test::TempDir dir;
    posix::PosixProcesses processes;
    auto pipe = processes.makePipe();
    ::testing::internal::CaptureStderr();
    const auto previous = ::signal(SIGTERM, SIG_IGN); // whatever we ignore or block...
    sigset_t blocked, old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &old);
    std::promise<TerminationStatus> handled;
    LaunchRequest request{"/bin/sh",
                          {"-c",
                           "printf '%s|' \"$0\" \"$@\" > args; grep SigBlk "
                           "/proc/self/status > mask; cat > stdin; echo done; kill -TERM $$",
                           "sh", "a b", "", "\xC3\xA9"},
                          pipe.value().get(),
                          ChildOutput::ourStandardError,
                          {},
                          [&](TerminationStatus status) { handled.set_value(status); }};
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    auto child = std::move(processes.launch(std::move(request)).value());
    std::filesystem::current_path(cwd);
    auto writer = pipe.value()->writingEnd();
    writer->write(numbered(100000));
    pipe.value().reset();
    writer.reset(); // the child's input ends once we let go of the writing end
    const TerminationStatus killed{TerminationStatus::Reason::uncaughtSignal, SIGTERM};
    EXPECT_EQ(child->waitUntilExit(), killed) << "...the child starts with the defaults";
    child.reset(); // a handle let go early does not stop the report
    EXPECT_EQ(test::within(handled.get_future(), "termination report"), killed);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::signal(SIGTERM, previous);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "done\n");
    EXPECT_EQ(test::readFile(dir / "args"), "sh|a b||\xC3\xA9|");
    EXPECT_EQ(test::readFile(dir / "mask"), "SigBlk:\t0000000000000000\n");
    const std::string input = test::readFile(dir / "stdin");
    EXPECT_EQ(std::vector<std::uint8_t>(input.begin(), input.end()), numbered(100000));
    EXPECT_EXIT( // a failed launch still closes our reading end: the writer has no reader
        {
            auto lonely = processes.makePipe();
            (void)processes.launch({"/no/such", {}, lonely.value().get(), {}, {}, {}});
            lonely.value()->writingEnd()->write(numbered(10));
        },
        KilledBySignal(SIGPIPE), "^$");
}

TEST(SerialQueues, RunJobsInOrderOneAtATimeHereOnlyWhenIdleAndNeverInsideAnotherJob) {
    portable::PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.serial");
    auto other = dispatch.makeSerialQueue("tovanel.test.other");
    const auto submit = [&](const std::function<void()>& job) { // here if idle, else queued
        return queue->runHereIfIdle(job) || (queue->async(job), false);
    };
    std::thread::id ranOn;
    EXPECT_TRUE(submit([&] { ranOn = queue->isCurrent() ? std::this_thread::get_id() : ranOn; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id()) << "idle: run at once, here, as its job";
    // A job run here on another thread holds the queue too: a job submitted meanwhile waits, and
    // giving the queue back wakes the worker for it (in some rounds the worker sleeps by then).
    for (int round = 0; round < 20; ++round) {
        std::promise<void> inside, leave, ranBehind;
        std::thread holder([&] {
            submit([&] {
                inside.set_value();
                test::within(leave.get_future(), "release of the held job");
            });
        });
        test::within(inside.get_future(), "job held on the other thread");
        bool behind = false;
        EXPECT_FALSE(submit([&] {
            behind = true;
            ranBehind.set_value();
        }));
        EXPECT_FALSE(behind) << "queued, never run beside the job running on the other thread";
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the worker sleeps again
        leave.set_value();
        holder.join();
        test::within(ranBehind.get_future(), "job queued behind one run here");
    }
    std::atomic<int> running{0}, most{0};
    std::promise<void> release; // the worker holds the queue while producers submit
    queue->async([&, released = release.get_future().share()] {
        ++running;
        test::within(released, "release of the worker");
        --running;
    });
    std::promise<bool> nested; // inside another queue's job: queued, never run inline
    other->async([&] {
        submit([&, outer = std::this_thread::get_id()] {
            nested.set_value(std::this_thread::get_id() != outer);
        });
    });
    std::vector<int> order;
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 200; ++i) {
                auto job = [&, value = p * 1000 + i] {
                    most = std::max(most.load(), ++running);
                    order.push_back(value);
                    --running;
                };
                i % 2 ? queue->async(job) : (void)submit(job);
            }
        });
    }
    release.set_value();
    for (auto& producer : producers) {
        producer.join();
    }
    EXPECT_TRUE(test::within(nested.get_future(), "nested job"));
    std::promise<void> drained;
    queue->async([&] { drained.set_value(); });
    test::within(drained.get_future(), "drained queue");
    EXPECT_EQ(most, 1) << "never two jobs at once";
    std::vector<int> last(4, -1);
    for (const int value : order) {
        EXPECT_GT(value % 1000, last[value / 1000]) << "each producer's order is kept";
        last[value / 1000] = value % 1000;
    }
    EXPECT_EQ(order.size(), 800u);
}

TEST(Timers, TickAtOnceThenRepeatWithoutPilingUpAndStopWithTheirHandle) {
    portable::PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.timer");
    std::promise<void> first;
    auto slow =
        dispatch.startRepeatingTimer(queue, std::chrono::hours(1), [&] { first.set_value(); });
    test::within(first.get_future(), "first tick"); // an hour's interval, yet it is here
    std::atomic<int> ticks{0};
    std::promise<void> five;
    const auto held = std::make_shared<int>(); // by the handler, until the timer is stopped
    auto fast = dispatch.startRepeatingTimer(queue, std::chrono::milliseconds(1), [&, held] {
        if (++ticks == 5) {
            five.set_value();
        }
    });
    test::within(five.get_future(), "five ticks");
    // A queue held by a job run on another thread gets one pending tick, not a pile, though its
    // worker goes on waking for the deadlines.
    std::promise<int> beforeBusy, afterBusy;
    const std::function<void()> busy = [&] {
        beforeBusy.set_value(ticks);
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // a hundred intervals
        queue->async([&] { afterBusy.set_value(ticks); });
    };
    while (!queue->runHereIfIdle(busy)) { // a tick is waiting: once it has run
        std::this_thread::yield();
    }
    EXPECT_LE(test::within(afterBusy.get_future(), "tick after the busy job") -
                  test::within(beforeBusy.get_future(), "busy job"),
              2);
    fast.reset();
    const auto count = [&] {
        std::promise<int> now;
        queue->async([&] { now.set_value(ticks); });
        return test::within(now.get_future(), "count of ticks");
    };
    const int afterCancel = count();
    EXPECT_EQ(count(), afterCancel) << "no tick after the handle is gone";
    EXPECT_EQ(held.use_count(), 1) << "a stopped timer lets go of its handler";
    std::vector<int> order; // main-queue jobs: in order, only inside the run loop
    dispatch.asyncOnMain([&] { order.push_back(1); });
    std::thread stopper; // the stop comes from another thread while the loop waits
    dispatch.asyncOnMain([&] { stopper = std::thread([&] { dispatch.stopMainLoop(); }); });
    EXPECT_TRUE(order.empty());
    dispatch.runMainLoop();
    stopper.join();
    dispatch.asyncOnMain([&] { // a stopped loop runs again
        order.push_back(2);
        dispatch.stopMainLoop();
    });
    dispatch.runMainLoop();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(Text, LowerCasesUnicodeAndKeepsWhatIsNotUtf8) {
    portable::PortableText text;
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"BlackHole 2CH \xC3\x80\xCE\xA3", "blackhole 2ch \xC3\xA0\xCF\x83"},     // À Σ
        {"\xE1\xBA\x9E\xE2\x85\xAB\xF0\x90\x90\x80", "\xC3\x9F\xE2\x85\xBB\xF0\x90\x90\xA8"}, // ẞ Ⅻ 𐐀
        {"\xEF\xBB\xBF" "BLACKHOLE", "\xEF\xBB\xBF" "blackhole"}, // a byte-order mark stays
        {"A\xFF" "B\xC0\xAF" "C\xED\xA0\x80Z\xF4\x90\x80\x80", "a\xFF" "b\xC0\xAF" "c\xED\xA0\x80z\xF4\x90\x80\x80"},
        {"Z\xE2\x82", "z\xE2\x82"}, // invalid, overlong, surrogate, too big, cut short: kept
    };
    // clang-format on
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(text.lowercased(input), expected) << input;
    }
}

} // namespace
} // namespace tovanel::platform
