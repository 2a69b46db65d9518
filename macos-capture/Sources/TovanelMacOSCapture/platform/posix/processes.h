// Processes over POSIX: posix_spawn, a watcher thread per child for its termination, pipes.
#pragma once

#include "platform/processes.h"

namespace tovanel::platform::posix {

class PosixProcesses : public Processes {
  public:
    // Puts SIGCHLD back to its default action when it was inherited ignored, since an ignored
    // SIGCHLD makes the system reap children before their status can be read.
    PosixProcesses();

    Result<std::unique_ptr<Pipe>> makePipe() override;
    Result<std::unique_ptr<ChildProcess>> launch(LaunchRequest request) override;

  protected:
    void endProcess(int status) override;
};

} // namespace tovanel::platform::posix
