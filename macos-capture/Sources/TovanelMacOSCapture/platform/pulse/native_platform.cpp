// The Linux platform: POSIX processes and files, portable dispatch, text and media, no
// application object and no Microphone permission, and the audio facilities over the PulseAudio
// (or PipeWire-pulse) server.
#include "platform/never_destroyed.h"
#include "platform/platform.h"
#include "platform/portable/application.h"
#include "platform/portable/capture_permission.h"
#include "platform/portable/dispatch.h"
#include "platform/portable/media.h"
#include "platform/portable/text.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"
#include "platform/pulse/audio_hardware.h"
#include "platform/pulse/audio_queues.h"
#include "platform/pulse/connection.h"
#include "platform/pulse/screen_capture.h"

namespace tovanel::platform {

void installNativePlatform() {
    static NeverDestroyed<portable::PortableDispatch> dispatch;
    static NeverDestroyed<posix::PosixFiles> files;
    static NeverDestroyed<posix::PosixProcesses> processes;
    static NeverDestroyed<portable::PortableApplication> application;
    pulse::PulseConnection& connection = pulse::sharedConnection();
    static NeverDestroyed<pulse::PulseAudioHardware> audioHardware(connection);
    static NeverDestroyed<portable::PortableText> text;
    static NeverDestroyed<pulse::PulseScreenCapture> screenCapture(connection);
    static NeverDestroyed<portable::PortableMedia> media;
    static NeverDestroyed<pulse::PulseAudioQueues> audioQueues(connection);
    static NeverDestroyed<portable::PortableCapturePermission> capturePermission;
    install(Platform{dispatch.get(), files.get(), processes.get(), application.get(),
                     audioHardware.get(), text.get(), screenCapture.get(), media.get(),
                     audioQueues.get(), capturePermission.get()});
}

} // namespace tovanel::platform
