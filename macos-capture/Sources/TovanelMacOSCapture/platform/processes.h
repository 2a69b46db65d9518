// Child processes: launch with arguments, standard streams and a termination handler; wait for
// exit; pipes.
//
// Callers guarantee:
//   - a Pipe given to launch comes from the same backend's makePipe and is given to one launch.
// Every backend must:
//   - create every descriptor close-on-exec, so a child gets exactly the streams it is given;
//   - hand a pipe's reading end to the child as its standard input and close this process's copy
//     at the launch, so the child is the pipe's only reader;
//   - install the termination handler before the child can end, and call it once, on a thread
//     of its own choosing, after the child has ended;
//   - report a failed launch as a PlatformError with a readable description;
//   - on endProcess, flush standard error and end this process with the status at once,
//     running no static destructor and no exit handler (other threads still use those objects).
#pragma once

#include "platform/output_handle.h"
#include "platform/platform_error.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tovanel::platform {

// How a child ended, as NSTask reports it: the exit status, or the number of the signal that
// ended it.
struct TerminationStatus {
    enum class Reason { exit, uncaughtSignal };
    Reason reason = Reason::exit;
    std::int32_t status = 0;

    friend bool operator==(const TerminationStatus&, const TerminationStatus&) = default;
};

class Pipe {
  public:
    virtual ~Pipe() = default;
    // The end this process writes to; it stays open while anyone holds it.
    virtual std::shared_ptr<OutputHandle> writingEnd() = 0;
};

enum class ChildOutput {
    inherit,          // the child shares this process's stream
    ourStandardError, // the child's stream goes to this process's standard error
};

struct LaunchRequest {
    std::string executable;
    std::vector<std::string> arguments; // not counting the executable itself
    Pipe* standardInput = nullptr;      // null: the child inherits our standard input
    ChildOutput standardOutput = ChildOutput::inherit;
    ChildOutput standardError = ChildOutput::inherit;
    std::function<void(TerminationStatus)> terminationHandler; // may be empty
};

class ChildProcess {
  public:
    virtual ~ChildProcess() = default;
    virtual int processIdentifier() const = 0;
    // Blocks until the child has ended. Destroying the handle neither waits nor signals.
    virtual TerminationStatus waitUntilExit() = 0;
};

class Processes {
  public:
    virtual ~Processes() = default;

    virtual Result<std::unique_ptr<Pipe>> makePipe() = 0;
    virtual Result<std::unique_ptr<ChildProcess>> launch(LaunchRequest request) = 0;
    // Ends this process for a failure found on any thread, while others still run.
    [[noreturn]] void exitWithoutCleanup(int status) {
        endProcess(status);
        std::abort(); // not reached: no backend's endProcess returns
    }

  protected:
    virtual void endProcess(int status) = 0;
};

} // namespace tovanel::platform
