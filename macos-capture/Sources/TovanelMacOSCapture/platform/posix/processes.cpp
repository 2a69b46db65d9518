// Processes over POSIX.
#include "platform/posix/processes.h"

#include "platform/posix/errno_error.h"
#include "platform/posix/fd_output_handle.h"
#include "platform/posix/unique_fd.h"
#include "platform/process_exit.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

extern char** environ;

namespace tovanel::platform::posix {

namespace {

class PosixPipe final : public Pipe {
  public:
    PosixPipe(UniqueFd readingEnd, UniqueFd writingEnd)
        : readingEnd_(std::move(readingEnd)), writingEnd_(std::make_shared<FdOutputHandle>(
                                                  FdOutputHandle::owning(std::move(writingEnd)))) {}

    std::shared_ptr<OutputHandle> writingEnd() override { return writingEnd_; }
    int readingEndDescriptor() const { return readingEnd_.get(); }
    void closeReadingEnd() { readingEnd_.reset(); }

  private:
    UniqueFd readingEnd_;
    std::shared_ptr<OutputHandle> writingEnd_;
};

// Shared by the child handle and its watcher thread, which outlives the handle when needed.
struct ChildState {
    std::mutex mutex;
    std::condition_variable ended;
    std::optional<TerminationStatus> status;
};

TerminationStatus terminationStatusOf(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) {
        return {TerminationStatus::Reason::uncaughtSignal, WTERMSIG(waitStatus)};
    }
    return {TerminationStatus::Reason::exit, WEXITSTATUS(waitStatus)};
}

class PosixChildProcess final : public ChildProcess {
  public:
    PosixChildProcess(pid_t pid, std::shared_ptr<ChildState> state)
        : pid_(pid), state_(std::move(state)) {}

    int processIdentifier() const override { return pid_; }

    TerminationStatus waitUntilExit() override {
        std::unique_lock lock(state_->mutex);
        state_->ended.wait(lock, [&] { return state_->status.has_value(); });
        return *state_->status;
    }

  private:
    pid_t pid_;
    std::shared_ptr<ChildState> state_;
};

void watchChild(pid_t pid, std::shared_ptr<ChildState> state,
                std::function<void(TerminationStatus)> handler) {
    std::thread([pid, state = std::move(state), handler = std::move(handler)] {
        int waitStatus = 0;
        pid_t reaped;
        do {
            reaped = ::waitpid(pid, &waitStatus, 0);
        } while (reaped < 0 && errno == EINTR);
        // Only ECHILD can fail here (someone else reaped it); report an unknown end as status -1.
        const TerminationStatus status =
            reaped == pid ? terminationStatusOf(waitStatus)
                          : TerminationStatus{TerminationStatus::Reason::exit, -1};
        {
            std::lock_guard lock(state->mutex);
            state->status = status;
        }
        state->ended.notify_all();
        if (handler) {
            handler(status);
        }
    }).detach();
}

// RAII for the two posix_spawn attribute objects.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The child starts with an empty signal mask and every signal at its default action, whatever
// this process inherited or changed.
void giveChildDefaultSignals(posix_spawnattr_t& attributes) {
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t all;
    sigemptyset(&all);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (signalNumber != SIGKILL && signalNumber != SIGSTOP) {
            sigaddset(&all, signalNumber);
        }
    }
    posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT; // Apple: only the streams set up below are inherited
#endif
    posix_spawnattr_setflags(&attributes, flags);
}

} // namespace

PosixProcesses::PosixProcesses() {
    struct sigaction current {};
    if (::sigaction(SIGCHLD, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
        ::signal(SIGCHLD, SIG_DFL);
    }
}

Result<std::unique_ptr<Pipe>> PosixProcesses::makePipe() {
    int fds[2];
#ifdef __linux__
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return errnoError("pipe2", errno);
    }
#else
    if (::pipe(fds) != 0) {
        return errnoError("pipe", errno);
    }
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    return std::unique_ptr<Pipe>(std::make_unique<PosixPipe>(UniqueFd(fds[0]), UniqueFd(fds[1])));
}

Result<std::unique_ptr<ChildProcess>> PosixProcesses::launch(LaunchRequest request) {
    SpawnSetup setup;
    auto* pipe = dynamic_cast<PosixPipe*>(request.standardInput);
    if (request.standardInput != nullptr && pipe == nullptr) {
        return PlatformError{"posix_spawn", EINVAL,
                             "standard input is not a pipe of this platform"};
    }
    if (pipe != nullptr) {
        posix_spawn_file_actions_adddup2(&setup.actions, pipe->readingEndDescriptor(),
                                         STDIN_FILENO);
    }
    if (request.standardOutput == ChildOutput::ourStandardError) {
        posix_spawn_file_actions_adddup2(&setup.actions, STDERR_FILENO, STDOUT_FILENO);
    }
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
    // With close-on-exec by default, inherited streams must be named to survive.
    if (pipe == nullptr) {
        posix_spawn_file_actions_addinherit_np(&setup.actions, STDIN_FILENO);
    }
    if (request.standardOutput == ChildOutput::inherit) {
        posix_spawn_file_actions_addinherit_np(&setup.actions, STDOUT_FILENO);
    }
    posix_spawn_file_actions_addinherit_np(&setup.actions, STDERR_FILENO);
#endif
    // Standard error either way stays ours: inherited, or "our standard error" which it already is.
    giveChildDefaultSignals(setup.attributes);

    std::vector<char*> argv;
    argv.push_back(request.executable.data());
    for (auto& argument : request.arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawnError = ::posix_spawn(&pid, request.executable.c_str(), &setup.actions,
                                         &setup.attributes, argv.data(), environ);
    if (pipe != nullptr) {
        pipe->closeReadingEnd(); // from now on the child is the pipe's only reader
    }
    if (spawnError != 0) {
        return errnoError("posix_spawn", spawnError, request.executable);
    }
    auto state = std::make_shared<ChildState>();
    watchChild(pid, state, std::move(request.terminationHandler));
    return std::unique_ptr<ChildProcess>(std::make_unique<PosixChildProcess>(pid, state));
}

void PosixProcesses::endProcess(int status) {
    platform::exitWithoutCleanup(status);
}

} // namespace tovanel::platform::posix
