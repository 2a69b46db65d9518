// The simulated platform a unit test installs: simulated dispatch, application, audio hardware,
// screen capture and input queues; the real POSIX files and processes (tests run them in their
// own temporary directory); the portable text and media services.
#pragma once

#include "platform/platform.h"
#include "platform/portable/text.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"
#include "sim/application.h"
#include "sim/audio_hardware.h"
#include "sim/audio_queues.h"
#include "sim/dispatch.h"
#include "sim/media.h"
#include "sim/screen_capture.h"

namespace tovanel::sim {

struct SimPlatform {
    SimDispatch dispatch;
    platform::posix::PosixFiles files;
    platform::posix::PosixProcesses processes;
    SimApplication application;
    SimAudioHardware audioHardware;
    platform::portable::PortableText text;
    SimScreenCapture screenCapture;
    SimMedia media; // the real portable media underneath, so conversion is tested for real
    SimAudioQueues audioQueues;

    // Makes a fresh simulated platform and installs it. It is kept until the test program
    // ends, so a thread that outlives its test never reaches a destroyed platform.
    static SimPlatform& installFresh();
};

} // namespace tovanel::sim
