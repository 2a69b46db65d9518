// The simulated platform a unit test installs: simulated dispatch and application, the real
// POSIX files and processes (tests run them in their own temporary directory).
#pragma once

#include "platform/platform.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"
#include "sim/application.h"
#include "sim/dispatch.h"

namespace tovanel::sim {

struct SimPlatform {
    SimDispatch dispatch;
    platform::posix::PosixFiles files;
    platform::posix::PosixProcesses processes;
    SimApplication application;

    // Makes a fresh simulated platform and installs it. It is kept until the test program
    // ends, so a thread that outlives its test never reaches a destroyed platform.
    static SimPlatform& installFresh();
};

} // namespace tovanel::sim
