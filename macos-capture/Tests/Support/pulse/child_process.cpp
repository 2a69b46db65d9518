// Child processes: posix_spawnp with an explicit environment; waits are bounded polls, so a
// child that hangs costs a test its deadline, never the whole run.
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tovanel::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> childEnvironment(const EnvironmentChanges& changes) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            merged[name] = *value;
        } else {
            merged.erase(name);
        }
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : merged) {
        result.push_back(name + "=" + value);
    }
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

class FileActions {
  public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

// The child gets default signal handling whatever this process ignores (a test runner may
// ignore SIGPIPE or SIGINT), so the programs behave as they would from a shell.
class SpawnAttributes {
  public:
    SpawnAttributes() {
        posix_spawnattr_init(&attributes_);
        sigset_t all;
        sigfillset(&all);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes_, &all);
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return &attributes_; }

  private:
    posix_spawnattr_t attributes_;
};

pid_t spawn(const std::vector<std::string>& argv, const EnvironmentChanges& environment,
            FileActions& actions) {
    if (argv.empty()) {
        throw std::invalid_argument("a child process needs at least argv[0]");
    }
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = childEnvironment(environment);
    auto argumentPointers = pointers(arguments);
    auto variablePointers = pointers(variables);
    SpawnAttributes attributes;
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0].c_str(), actions.get(), attributes.get(),
                                   argumentPointers.data(), variablePointers.data());
    if (error != 0) {
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    }
    return pid;
}

int statusOf(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

class Pipe {
  public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe2 failed: ") + std::strerror(errno));
        }
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int read() const { return fds_[0]; }
    int write() const { return fds_[1]; }
    void closeRead() { closeEnd(0); }
    void closeWrite() { closeEnd(1); }

  private:
    void closeEnd(int end) {
        if (fds_[end] >= 0) {
            ::close(fds_[end]);
            fds_[end] = -1;
        }
    }
    int fds_[2] = {-1, -1};
};

} // namespace

ChildProcess::ChildProcess(const ChildOptions& options) {
    FileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, options.standardInput.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), 1, options.standardOutput.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(actions.get(), 2, options.standardError.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_ = spawn(options.argv, options.environment, actions);
}

ChildProcess::~ChildProcess() {
    if (running()) {
        stop(SIGTERM);
    }
}

bool ChildProcess::reap(int options) {
    if (status_) {
        return true;
    }
    int waitStatus = 0;
    pid_t result = 0;
    do {
        result = ::waitpid(pid_, &waitStatus, options);
    } while (result < 0 && errno == EINTR);
    if (result == pid_) {
        status_ = statusOf(waitStatus);
        return true;
    }
    if (result < 0) {
        status_ = -1; // not our child any more: nothing left to wait for
        return true;
    }
    return false;
}

bool ChildProcess::running() {
    return !reap(WNOHANG);
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!reap(WNOHANG)) {
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

int ChildProcess::stop(int signal, std::chrono::milliseconds grace) {
    if (running()) {
        ::kill(pid_, signal);
        if (!waitFor(grace)) {
            ::kill(pid_, SIGKILL);
            reap(0);
        }
    }
    return *status_;
}

CommandResult runCommand(const std::vector<std::string>& argv,
                         const EnvironmentChanges& environment, std::chrono::milliseconds timeout) {
    Pipe out;
    Pipe err;
    FileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), out.write(), 1);
    posix_spawn_file_actions_adddup2(actions.get(), err.write(), 2);
    const pid_t pid = spawn(argv, environment, actions);
    out.closeWrite();
    err.closeWrite();

    CommandResult result;
    const auto deadline = Clock::now() + timeout;
    pollfd fds[2] = {{out.read(), POLLIN, 0}, {err.read(), POLLIN, 0}};
    std::string* sinks[2] = {&result.standardOutput, &result.standardError};
    int open = 2;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (result.timedOut) {
        ::kill(pid, SIGKILL);
    }
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = statusOf(waitStatus);
    return result;
}

} // namespace tovanel::test
