// Simulated input audio queues. (Stub: every call fails until the simulation is written.)
#pragma once

#include "platform/audio_queues.h"

namespace tovanel::sim {

class SimAudioQueues : public platform::AudioQueues {
  public:
    platform::OSStatus newInput(const platform::AudioStreamBasicDescription& format,
                                platform::AudioQueueInputCallback callback, void* userData,
                                platform::AudioQueueRef& outQueue) override;
    platform::OSStatus setCurrentDevice(platform::AudioQueueRef queue,
                                        const std::string& deviceUID) override;
    platform::OSStatus allocateBuffer(platform::AudioQueueRef queue, std::uint32_t byteSize,
                                      platform::AudioQueueBufferRef& outBuffer) override;
    platform::OSStatus enqueueBuffer(platform::AudioQueueRef queue,
                                     platform::AudioQueueBufferRef buffer) override;
    platform::OSStatus start(platform::AudioQueueRef queue) override;
};

} // namespace tovanel::sim
