// Audio facilities that fail every call until the PulseAudio backend is built.
#include "platform/pulse/unavailable.h"

#include <thread>

namespace tovanel::platform::pulse {

OSStatus UnavailableAudioHardware::getPropertyDataSize(AudioObjectID,
                                                       const AudioObjectPropertyAddress&,
                                                       std::uint32_t&) {
    return kAudioHardwareNotRunningError;
}
OSStatus UnavailableAudioHardware::getPropertyData(AudioObjectID, const AudioObjectPropertyAddress&,
                                                   std::uint32_t&, void*) {
    return kAudioHardwareNotRunningError;
}
OSStatus UnavailableAudioHardware::getStringPropertyData(AudioObjectID,
                                                         const AudioObjectPropertyAddress&,
                                                         std::string&) {
    return kAudioHardwareNotRunningError;
}
bool UnavailableAudioHardware::hasProperty(AudioObjectID, const AudioObjectPropertyAddress&) {
    return false;
}
OSStatus UnavailableAudioHardware::isPropertySettable(AudioObjectID,
                                                      const AudioObjectPropertyAddress&, bool&) {
    return kAudioHardwareNotRunningError;
}
OSStatus UnavailableAudioHardware::setPropertyData(AudioObjectID, const AudioObjectPropertyAddress&,
                                                   std::uint32_t, const void*) {
    return kAudioHardwareNotRunningError;
}

void UnavailableScreenCapture::getShareableContent(bool, bool, ContentCompletion completion) {
    std::thread([completion = std::move(completion)] {
        completion(nullptr,
                   PlatformError{"getShareableContent", kAudioHardwareNotRunningError,
                                 "this Linux build has no PulseAudio capture backend yet"});
    }).detach();
}

OSStatus UnavailableAudioQueues::newInput(const AudioStreamBasicDescription&,
                                          AudioQueueInputCallback, void*, AudioQueueRef&) {
    return kAudioHardwareNotRunningError;
}
OSStatus UnavailableAudioQueues::setCurrentDevice(AudioQueueRef, const std::string&) {
    return kAudioHardwareNotRunningError;
}
OSStatus UnavailableAudioQueues::allocateBuffer(AudioQueueRef, std::uint32_t,
                                                AudioQueueBufferRef&) {
    return kAudioHardwareNotRunningError;
}
OSStatus UnavailableAudioQueues::enqueueBuffer(AudioQueueRef, AudioQueueBufferRef) {
    return kAudioHardwareNotRunningError;
}
OSStatus UnavailableAudioQueues::start(AudioQueueRef) {
    return kAudioHardwareNotRunningError;
}

} // namespace tovanel::platform::pulse
