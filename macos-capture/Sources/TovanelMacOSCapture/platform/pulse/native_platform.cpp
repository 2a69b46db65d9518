// The Linux platform: POSIX processes and files, portable dispatch, text and media, no
// application object, and the audio facilities of the PulseAudio backend.
#include "platform/never_destroyed.h"
#include "platform/platform.h"
#include "platform/portable/application.h"
#include "platform/portable/dispatch.h"
#include "platform/portable/media.h"
#include "platform/portable/text.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"
#include "platform/pulse/unavailable.h"

namespace tovanel::platform {

void installNativePlatform() {
    static NeverDestroyed<portable::PortableDispatch> dispatch;
    static NeverDestroyed<posix::PosixFiles> files;
    static NeverDestroyed<posix::PosixProcesses> processes;
    static NeverDestroyed<portable::PortableApplication> application;
    static NeverDestroyed<pulse::UnavailableAudioHardware> audioHardware;
    static NeverDestroyed<portable::PortableText> text;
    static NeverDestroyed<pulse::UnavailableScreenCapture> screenCapture;
    static NeverDestroyed<portable::PortableMedia> media;
    static NeverDestroyed<pulse::UnavailableAudioQueues> audioQueues;
    install(Platform{dispatch.get(), files.get(), processes.get(), application.get(),
                     audioHardware.get(), text.get(), screenCapture.get(), media.get(),
                     audioQueues.get()});
}

} // namespace tovanel::platform
