// Input audio queues on AudioToolbox. Our callback type takes our value types, so each queue
// gets a native trampoline and a context, owned here, that carries the callback and its user
// data for as long as the process runs (queues are never disposed).
#pragma once

#include "platform/audio_queues.h"
#include "platform/macos/cf_ptr.h"

#include <list>
#include <mutex>

namespace tovanel::platform::macos {

class MacAudioQueues final : public AudioQueues {
  public:
    // What the trampoline of one queue needs. Written before the queue exists, then read only,
    // apart from the device UID, which only setCurrentDevice touches.
    struct QueueContext {
        AudioQueueInputCallback callback = nullptr;
        void* userData = nullptr;
        AudioQueueRef queue = nullptr;
        CFPtr<CFStringRef> deviceUID; // kept while the queue may still refer to it
    };

    OSStatus newInput(const AudioStreamBasicDescription& format, AudioQueueInputCallback callback,
                      void* userData, AudioQueueRef& outQueue) override;
    OSStatus setCurrentDevice(AudioQueueRef queue, const std::string& deviceUID) override;
    OSStatus allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                            AudioQueueBufferRef& outBuffer) override;
    OSStatus enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) override;
    OSStatus start(AudioQueueRef queue) override;

  private:
    std::mutex mutex_;
    std::list<QueueContext> contexts_; // stable addresses: each is a queue's user data
};

} // namespace tovanel::platform::macos
