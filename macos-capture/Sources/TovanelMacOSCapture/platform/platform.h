// The process-wide platform: one set of facilities, installed once before anything else runs and
// reached by the logic through platform::current().
#pragma once

#include "platform/application.h"
#include "platform/audio_hardware.h"
#include "platform/audio_queues.h"
#include "platform/capture_permission.h"
#include "platform/dispatch.h"
#include "platform/files.h"
#include "platform/media.h"
#include "platform/processes.h"
#include "platform/screen_capture.h"
#include "platform/text.h"

namespace tovanel::platform {

struct Platform {
    Dispatch& dispatch;
    Files& files;
    Processes& processes;
    Application& application;
    AudioHardware& audioHardware;
    Text& text;
    ScreenCapture& screenCapture;
    Media& media;
    AudioQueues& audioQueues;
    CapturePermission& capturePermission;
};

// Installs `platform` for the whole process. The facilities it refers to must never be
// destroyed: threads may still use them while the process exits. Tests install their own.
void install(const Platform& platform);

// The installed platform. Calling it before install() is a programming error.
const Platform& current();

// Installs the real facilities of the platform this build targets (defined by the backend).
void installNativePlatform();

} // namespace tovanel::platform
