// Simulated processes: launches recorded and answered with a stand-in child, or refused for a named
// executable; the test ends a child through its termination handler. Pipes are real.
#pragma once

#include "platform/posix/processes.h"

#include <functional>
#include <mutex>
#include <set>

namespace tovanel::sim {

class SimProcesses : public platform::Processes {
  public:
    std::vector<platform::LaunchRequest> launches() const {
        std::lock_guard lock(mutex_);
        return launches_;
    }

    platform::Result<std::unique_ptr<platform::Pipe>> makePipe() override {
        return real_.makePipe();
    }
    platform::Result<std::unique_ptr<platform::ChildProcess>>
    launch(platform::LaunchRequest request) override {
        struct Child final : platform::ChildProcess {
            int processIdentifier() const override { return 4242; }
            platform::TerminationStatus waitUntilExit() override { return {}; }
        };
        std::lock_guard lock(mutex_);
        if (unlaunchable.count(request.executable) != 0) {
            return platform::PlatformError{"posix_spawn", 2,
                                           request.executable + ": No such file or directory"};
        }
        launches_.push_back(request);
        return std::unique_ptr<platform::ChildProcess>(std::make_unique<Child>());
    }

    std::set<std::string> unlaunchable; // set before the launches
    std::function<void()> beforeExit;   // set before the exit

  protected:
    // Runs `beforeExit` (when set) on the exiting thread, then ends the process for real.
    void endProcess(int status) override {
        if (beforeExit) {
            beforeExit();
        }
        real_.exitWithoutCleanup(status);
    }

  private:
    platform::posix::PosixProcesses real_;
    mutable std::mutex mutex_;
    std::vector<platform::LaunchRequest> launches_;
};

} // namespace tovanel::sim
