// The macOS platform: ScreenCaptureKit, CoreAudio, AudioToolbox, AVFAudio and CoreMedia for the
// audio facilities, AVFoundation (loaded at run time) for the Microphone permission, libdispatch
// and AppKit, POSIX processes, and POSIX files with Foundation's temporary directory. The
// facilities are never destroyed.
#include "platform/macos/application.h"
#include "platform/macos/audio_hardware.h"
#include "platform/macos/audio_queues.h"
#include "platform/macos/capture_permission.h"
#include "platform/macos/dispatch.h"
#include "platform/macos/files.h"
#include "platform/macos/media.h"
#include "platform/macos/screen_capture.h"
#include "platform/macos/text.h"
#include "platform/never_destroyed.h"
#include "platform/platform.h"
#include "platform/posix/processes.h"

namespace tovanel::platform {

void installNativePlatform() {
    static NeverDestroyed<macos::MacDispatch> dispatch;
    static NeverDestroyed<macos::MacFiles> files;
    static NeverDestroyed<posix::PosixProcesses> processes;
    static NeverDestroyed<macos::MacApplication> application;
    static NeverDestroyed<macos::MacAudioHardware> audioHardware;
    static NeverDestroyed<macos::MacText> text;
    static NeverDestroyed<macos::MacScreenCapture> screenCapture;
    static NeverDestroyed<macos::MacMedia> media;
    static NeverDestroyed<macos::MacAudioQueues> audioQueues;
    static NeverDestroyed<macos::MacCapturePermission> capturePermission;
    install(Platform{dispatch.get(), files.get(), processes.get(), application.get(),
                     audioHardware.get(), text.get(), screenCapture.get(), media.get(),
                     audioQueues.get(), capturePermission.get()});
}

} // namespace tovanel::platform
