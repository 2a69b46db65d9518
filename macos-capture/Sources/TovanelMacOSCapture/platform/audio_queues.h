// Input audio queues: a queue records from a device into buffers it hands to a plain callback;
// the callback gives each buffer back to be filled again. The shapes follow AudioToolbox's
// AudioQueue functions one for one.
//
// Callers guarantee:
//   - the user data outlives the queue; buffers given back belong to that queue.
// Every backend must:
//   - return 0 for success and a non-zero status for every failure, never throw;
//   - call the callback from one thread of the queue's own, one buffer at a time, never two at
//     once, each buffer with mAudioDataByteSize set to the bytes it holds;
//   - fill a buffer again only after it has been enqueued again.
#pragma once

#include "platform/audio_types.h"

#include <cstdint>
#include <string>

namespace tovanel::platform {

// Declared here, so the name is ours even where Apple's header of the same name came first.
struct OpaqueAudioQueue;
using AudioQueueRef = OpaqueAudioQueue*;

// AudioQueueBuffer, field for field.
struct AudioQueueBuffer {
    const std::uint32_t mAudioDataBytesCapacity;
    void* const mAudioData;
    std::uint32_t mAudioDataByteSize;
    void* mUserData;
    const std::uint32_t mPacketDescriptionCapacity;
    AudioStreamPacketDescription* const mPacketDescriptions;
    std::uint32_t mPacketDescriptionCount;
};
using AudioQueueBufferRef = AudioQueueBuffer*;

using AudioQueueInputCallback = void (*)(void* userData, AudioQueueRef queue,
                                         AudioQueueBufferRef buffer,
                                         const AudioTimeStamp* startTime,
                                         std::uint32_t numberPacketDescriptions,
                                         const AudioStreamPacketDescription* packetDescriptions);

class AudioQueues {
  public:
    virtual ~AudioQueues() = default;

    // AudioQueueNewInput with no run loop: the callback runs on the queue's own thread.
    virtual OSStatus newInput(const AudioStreamBasicDescription& format,
                              AudioQueueInputCallback callback, void* userData,
                              AudioQueueRef& outQueue) = 0;
    // AudioQueueSetProperty(kAudioQueueProperty_CurrentDevice) with the device's UID.
    virtual OSStatus setCurrentDevice(AudioQueueRef queue, const std::string& deviceUID) = 0;
    virtual OSStatus allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                                    AudioQueueBufferRef& outBuffer) = 0;
    // AudioQueueEnqueueBuffer with no packet descriptions.
    virtual OSStatus enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) = 0;
    // AudioQueueStart with no start time: start now.
    virtual OSStatus start(AudioQueueRef queue) = 0;
};

} // namespace tovanel::platform
