// The output handle: every byte in order through partial and interrupted writes, and the end of
// the process, silent, when the reader has gone, whatever SIGPIPE's inherited disposition.
#include "platform/posix/fd_output_handle.h"
#include "platform/posix/files.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace tovanel::platform::posix {
namespace {

using ::testing::StrEq;

std::vector<std::uint8_t> numberedBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7919) >> 3);
    }
    return bytes;
}

struct PipeEnds {
    UniqueFd reading;
    UniqueFd writing;
};

PipeEnds makePipe(int flags = 0) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC | flags), 0);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Reads until end of file, in small pieces with pauses, so the writer keeps finding a full pipe.
std::vector<std::uint8_t> readSlowlyUntilEnd(int fd) {
    std::vector<std::uint8_t> received;
    std::uint8_t chunk[3001];
    for (int round = 0;; ++round) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
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

TEST(OutputHandle, HandsOverEveryByteInOrderThroughAFullPipe) {
    auto [reading, writing] = makePipe();
    const auto block = numberedBytes(8 * 1024 * 1024 + 3);
    std::vector<std::uint8_t> received;
    std::thread reader([&, fd = reading.get()] { received = readSlowlyUntilEnd(fd); });
    {
        auto handle = FdOutputHandle::owning(std::move(writing));
        handle.write(block);
        handle.write(std::span(block).first(5)); // a second block follows the first directly
    }
    reader.join();
    ASSERT_EQ(received.size(), block.size() + 5);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), received.begin()));
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + 5, received.end() - 5));
}

TEST(OutputHandle, WaitsWhenANonBlockingDescriptorIsFull) {
    // A non-blocking descriptor inherited from the parent makes write return short counts and
    // EAGAIN; the handle must wait and carry on instead of dropping the rest.
    auto [reading, writing] = makePipe(O_NONBLOCK);
    const auto block = numberedBytes(3 * 1024 * 1024);
    std::vector<std::uint8_t> received;
    std::thread reader([&, fd = reading.get()] { received = readSlowlyUntilEnd(fd); });
    {
        auto handle = FdOutputHandle::owning(std::move(writing));
        handle.write(block);
    }
    reader.join();
    EXPECT_EQ(received, block);
}

void ignoreSignal(int) {}

TEST(OutputHandle, SurvivesSignalsThatInterruptTheWrite) {
    // A handler without SA_RESTART makes a blocked write return early: with EINTR, or with the
    // count written so far.
    struct sigaction interrupting {};
    interrupting.sa_handler = ignoreSignal;
    sigemptyset(&interrupting.sa_mask);
    interrupting.sa_flags = 0;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &interrupting, &previous), 0);

    auto [reading, writing] = makePipe();
    const auto block = numberedBytes(4 * 1024 * 1024);
    std::vector<std::uint8_t> received;
    std::thread reader([&, fd = reading.get()] { received = readSlowlyUntilEnd(fd); });
    std::atomic<bool> writing_done{false};
    std::atomic<pthread_t> writerThread{};
    std::thread writer([&, fd = std::move(writing)]() mutable {
        writerThread = pthread_self();
        auto handle = FdOutputHandle::owning(std::move(fd));
        handle.write(block);
        writing_done = true;
    });
    int signalsSent = 0;
    while (!writing_done) {
        if (writerThread.load() != pthread_t{}) {
            ::pthread_kill(writerThread.load(), SIGUSR1);
            ++signalsSent;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    writer.join();
    reader.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GT(signalsSent, 0);
    EXPECT_EQ(received, block);
}

TEST(OutputHandle, StandardOutputHandleWritesToDescriptorOne) {
    PosixFiles files;
    const std::vector<std::uint8_t> bytes{0x00, 0x01, 0xFF, 'a', '\n'};
    ::testing::internal::CaptureStdout();
    files.standardOutput()->write(bytes);
    const std::string captured = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::vector<std::uint8_t>(captured.begin(), captured.end()), bytes);
}

// The reader has gone: the process ends at the write, by SIGPIPE, with nothing on stderr, and
// nothing after the write runs.
enum class InheritedSigpipe { defaultAction, ignored, blocked };

void inherit(InheritedSigpipe disposition) {
    if (disposition == InheritedSigpipe::ignored) {
        ::signal(SIGPIPE, SIG_IGN);
    }
    if (disposition == InheritedSigpipe::blocked) {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
    }
}

void writeAfterReaderClosed(InheritedSigpipe disposition) {
    inherit(disposition);
    auto [reading, writing] = makePipe();
    reading.reset();
    auto handle = FdOutputHandle::owning(std::move(writing));
    const auto block = numberedBytes(38400);
    handle.write(block);
    std::fputs("capture carried on", stderr);
    std::exit(0);
}

void writeWhileReaderCloses(InheritedSigpipe disposition) {
    inherit(disposition);
    auto [reading, writing] = makePipe();
    std::thread closer([fd = std::move(reading)]() mutable {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        fd.reset();
    });
    closer.detach();
    auto handle = FdOutputHandle::owning(std::move(writing));
    handle.write(numberedBytes(4 * 1024 * 1024)); // blocks on the full pipe until the close
    std::fputs("capture carried on", stderr);
    std::exit(0);
}

class ReaderGone : public ::testing::TestWithParam<InheritedSigpipe> {};

TEST_P(ReaderGone, EndsTheProcessSilentlyAtTheWrite) {
    EXPECT_EXIT(writeAfterReaderClosed(GetParam()), ::testing::KilledBySignal(SIGPIPE), StrEq(""));
}

TEST_P(ReaderGone, EndsTheProcessWhenTheReaderClosesDuringABlockedWrite) {
    EXPECT_EXIT(writeWhileReaderCloses(GetParam()), ::testing::KilledBySignal(SIGPIPE), StrEq(""));
}

INSTANTIATE_TEST_SUITE_P(EveryInheritedDisposition, ReaderGone,
                         ::testing::Values(InheritedSigpipe::defaultAction,
                                           InheritedSigpipe::ignored, InheritedSigpipe::blocked),
                         [](const auto& info) {
                             switch (info.param) {
                             case InheritedSigpipe::defaultAction:
                                 return "DefaultAction";
                             case InheritedSigpipe::ignored:
                                 return "Ignored";
                             case InheritedSigpipe::blocked:
                                 return "Blocked";
                             }
                             return "";
                         });

void writeTo(const char* path, int flags) {
    auto handle = FdOutputHandle::owning(UniqueFd(::open(path, flags)));
    handle.write(numberedBytes(1024));
    std::fputs("capture carried on", stderr);
    std::exit(0);
}

TEST(OutputHandleFailure, AFullDiskEndsTheProcessWithAReason) {
    EXPECT_EXIT(writeTo("/dev/full", O_WRONLY), ::testing::ExitedWithCode(1),
                StrEq("PCM output write failed: No space left on device\n"));
}

TEST(OutputHandleFailure, ADescriptorNotOpenForWritingEndsTheProcessWithAReason) {
    EXPECT_EXIT(writeTo("/dev/null", O_RDONLY), ::testing::ExitedWithCode(1),
                StrEq("PCM output write failed: Bad file descriptor\n"));
}

} // namespace
} // namespace tovanel::platform::posix
