// The simulated platform a unit test installs: simulated dispatch, processes, application, audio
// hardware, screen capture, media, input queues and Microphone permission; the real POSIX files
// (tests point TMPDIR at a folder of their own) and the portable text service.
#pragma once

#include "platform/never_destroyed.h"
#include "platform/platform.h"
#include "platform/portable/text.h"
#include "platform/posix/files.h"
#include "sim/application.h"
#include "sim/audio_hardware.h"
#include "sim/audio_queues.h"
#include "sim/capture_permission.h"
#include "sim/dispatch.h"
#include "sim/media.h"
#include "sim/processes.h"
#include "sim/screen_capture.h"

#include <list>
#include <mutex>

namespace tovanel::sim {

struct SimPlatform {
    SimDispatch dispatch;
    platform::posix::PosixFiles files;
    SimProcesses processes;
    SimApplication application;
    SimAudioHardware audioHardware;
    platform::portable::PortableText text;
    SimScreenCapture screenCapture;
    SimMedia media;
    SimAudioQueues audioQueues;
    SimCapturePermission capturePermission;

    // Makes and installs a fresh platform (with `realDispatch` if given). Platforms are never
    // destroyed, so a thread that outlives its test never reaches a destroyed one.
    static SimPlatform& installFresh(platform::Dispatch* realDispatch = nullptr) {
        static std::mutex mutex;
        static platform::NeverDestroyed<std::list<SimPlatform>> made;
        std::lock_guard lock(mutex);
        SimPlatform& fresh = made.get().emplace_back();
        platform::install({realDispatch ? *realDispatch : fresh.dispatch, fresh.files,
                           fresh.processes, fresh.application, fresh.audioHardware, fresh.text,
                           fresh.screenCapture, fresh.media, fresh.audioQueues,
                           fresh.capturePermission});
        return fresh;
    }
};

} // namespace tovanel::sim
