// Child processes for the integration tests (pactl, pacat, parec, the program under test):
// started with an exact argument vector and environment, their standard streams on files or
// collected, and never left running or unreaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tovanel::test {

// Changes to this process's environment for a child: a value sets, nullopt unsets.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

struct ChildOptions {
    std::vector<std::string> argv; // argv[0] without a slash is looked up in PATH
    EnvironmentChanges environment;
    std::string standardInput = "/dev/null";  // a file to read
    std::string standardOutput = "/dev/null"; // a file, created or truncated
    std::string standardError = "/dev/null";
};

class ChildProcess {
  public:
    // Starts the child. Throws std::runtime_error when it cannot be started.
    explicit ChildProcess(const ChildOptions& options);
    // A child still running is stopped (SIGTERM, then SIGKILL) and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Waits up to `timeout` for the child to end: its status (the exit code, or 128 + the
    // signal that ended it), or nothing when it still runs.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    // Sends `signal`, waits up to `grace`, then SIGKILL; returns the status.
    int stop(int signal, std::chrono::milliseconds grace = std::chrono::seconds(3));

  private:
    bool reap(int options);

    pid_t pid_ = -1;
    std::optional<int> status_;
};

struct CommandResult {
    int exitStatus = -1; // the exit code, or 128 + the signal that ended it
    bool timedOut = false;
    std::string standardOutput;
    std::string standardError;

    bool ok() const { return !timedOut && exitStatus == 0; }
};

// Runs a command to its end with both outputs collected; a command still running at the
// deadline is killed and reported as timed out. Throws std::runtime_error when it cannot start.
CommandResult runCommand(const std::vector<std::string>& argv,
                         const EnvironmentChanges& environment,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace tovanel::test
