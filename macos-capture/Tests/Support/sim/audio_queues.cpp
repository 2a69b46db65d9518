// Simulated input audio queues. (Stub.)
#include "sim/audio_queues.h"

namespace tovanel::sim {

using namespace platform;

OSStatus SimAudioQueues::newInput(const AudioStreamBasicDescription&, AudioQueueInputCallback,
                                  void*, AudioQueueRef&) {
    return kAudioHardwareNotRunningError;
}
OSStatus SimAudioQueues::setCurrentDevice(AudioQueueRef, const std::string&) {
    return kAudioHardwareNotRunningError;
}
OSStatus SimAudioQueues::allocateBuffer(AudioQueueRef, std::uint32_t, AudioQueueBufferRef&) {
    return kAudioHardwareNotRunningError;
}
OSStatus SimAudioQueues::enqueueBuffer(AudioQueueRef, AudioQueueBufferRef) {
    return kAudioHardwareNotRunningError;
}
OSStatus SimAudioQueues::start(AudioQueueRef) {
    return kAudioHardwareNotRunningError;
}

} // namespace tovanel::sim
