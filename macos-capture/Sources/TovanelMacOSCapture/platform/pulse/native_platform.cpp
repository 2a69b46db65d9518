// The Linux platform: POSIX processes and files, portable dispatch, no application object.
#include "platform/never_destroyed.h"
#include "platform/platform.h"
#include "platform/portable/application.h"
#include "platform/portable/dispatch.h"
#include "platform/portable/text.h"
#include "platform/posix/files.h"
#include "platform/posix/processes.h"

namespace tovanel::platform {

namespace {

// Stands in for the PulseAudio audio hardware until that backend exists: every call fails with
// "hardware not running", so device queries report nothing and no data is ever made up.
class UnavailableAudioHardware final : public AudioHardware {
  public:
    OSStatus getPropertyDataSize(AudioObjectID, const AudioObjectPropertyAddress&,
                                 std::uint32_t&) override {
        return kAudioHardwareNotRunningError;
    }
    OSStatus getPropertyData(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t&,
                             void*) override {
        return kAudioHardwareNotRunningError;
    }
    OSStatus getStringPropertyData(AudioObjectID, const AudioObjectPropertyAddress&,
                                   std::string&) override {
        return kAudioHardwareNotRunningError;
    }
    bool hasProperty(AudioObjectID, const AudioObjectPropertyAddress&) override { return false; }
    OSStatus isPropertySettable(AudioObjectID, const AudioObjectPropertyAddress&, bool&) override {
        return kAudioHardwareNotRunningError;
    }
    OSStatus setPropertyData(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t,
                             const void*) override {
        return kAudioHardwareNotRunningError;
    }
};

} // namespace

void installNativePlatform() {
    static NeverDestroyed<portable::PortableDispatch> dispatch;
    static NeverDestroyed<posix::PosixFiles> files;
    static NeverDestroyed<posix::PosixProcesses> processes;
    static NeverDestroyed<portable::PortableApplication> application;
    static NeverDestroyed<UnavailableAudioHardware> audioHardware;
    static NeverDestroyed<portable::PortableText> text;
    install(Platform{dispatch.get(), files.get(), processes.get(), application.get(),
                     audioHardware.get(), text.get()});
}

} // namespace tovanel::platform
