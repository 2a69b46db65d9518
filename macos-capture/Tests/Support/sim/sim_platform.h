// The simulated platform a unit test installs: simulated dispatch, application and audio
// hardware, the real POSIX files and processes (tests run them in their own temporary directory)
// and the portable text services.
#pragma once

#include "platform/platform.h"
#include "platform/portable/text.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"
#include "sim/application.h"
#include "sim/audio_hardware.h"
#include "sim/dispatch.h"

namespace tovanel::sim {

struct SimPlatform {
    SimDispatch dispatch;
    platform::posix::PosixFiles files;
    platform::posix::PosixProcesses processes;
    SimApplication application;
    SimAudioHardware audioHardware;
    platform::portable::PortableText text;

    // Makes a fresh simulated platform and installs it. It is kept until the test program
    // ends, so a thread that outlives its test never reaches a destroyed platform.
    static SimPlatform& installFresh();
};

} // namespace tovanel::sim
