// The Linux platform: POSIX processes and files, portable dispatch, no application object.
#include "platform/never_destroyed.h"
#include "platform/platform.h"
#include "platform/portable/application.h"
#include "platform/portable/dispatch.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"

namespace tovanel::platform {

void installNativePlatform() {
    static NeverDestroyed<portable::PortableDispatch> dispatch;
    static NeverDestroyed<posix::PosixFiles> files;
    static NeverDestroyed<posix::PosixProcesses> processes;
    static NeverDestroyed<portable::PortableApplication> application;
    install(Platform{dispatch.get(), files.get(), processes.get(), application.get()});
}

} // namespace tovanel::platform
