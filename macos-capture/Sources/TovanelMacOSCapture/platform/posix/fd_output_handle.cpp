// OutputHandle over a file descriptor.
#include "platform/posix/fd_output_handle.h"

#include "platform/process_exit.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace tovanel::platform::posix {

namespace {

// The reader has gone. End the process the way the default SIGPIPE action does, also when we
// inherited SIGPIPE ignored or blocked: nothing is reported and no further capture happens.
[[noreturn]] void endProcessForBrokenPipe() {
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::pthread_sigmask(SIG_UNBLOCK, &pipeOnly, nullptr);
    ::raise(SIGPIPE);
    // Unreachable unless SIGPIPE could not be delivered; end with the status a shell would show.
    ::_exit(128 + SIGPIPE);
}

// Any other failure (disk full, I/O error, a closed descriptor) also ends the process, since the
// stream cannot go on with a hole in it; unlike a departed reader it is worth one line. This runs
// on a capture thread while others still run, so no destructor or exit handler may follow.
[[noreturn]] void endProcessForWriteError(int errorNumber) {
    std::string line = "PCM output write failed: ";
    line += std::strerror(errorNumber);
    line += "\n";
    std::fputs(line.c_str(), stderr);
    exitWithoutCleanup(1);
}

void waitUntilWritable(int fd) {
    pollfd entry{.fd = fd, .events = POLLOUT, .revents = {}};
    while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
}

} // namespace

void writeAllOrEndProcess(int fd, std::span<const std::uint8_t> bytes) {
    const std::uint8_t* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written > 0) {
            next += written;
            left -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitUntilWritable(fd);
            continue;
        }
        if (written < 0 && errno == EPIPE) {
            endProcessForBrokenPipe();
        }
        endProcessForWriteError(written < 0 ? errno : EIO);
    }
}

void FdOutputHandle::write(std::span<const std::uint8_t> bytes) {
    writeAllOrEndProcess(fd_, bytes);
}

} // namespace tovanel::platform::posix
