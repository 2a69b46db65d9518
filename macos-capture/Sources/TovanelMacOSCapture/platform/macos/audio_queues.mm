// AudioQueueNewInput with no run loop (callbacks on the queue's own thread), the current device
// by UID, and buffers allocated, enqueued and started as AudioToolbox takes them.
#include "platform/macos/audio_queues.h"

#include "platform/macos/foundation_bridge.h"

#include <AudioToolbox/AudioToolbox.h>

#include <cstddef>

namespace tovanel::platform::macos {

namespace {

// Buffers and descriptions are declared field for field like AudioToolbox's and are passed by
// cast; the queue reference is opaque on both sides.
static_assert(sizeof(AudioQueueBuffer) == sizeof(::AudioQueueBuffer));
static_assert(offsetof(AudioQueueBuffer, mAudioDataBytesCapacity) ==
              offsetof(::AudioQueueBuffer, mAudioDataBytesCapacity));
static_assert(offsetof(AudioQueueBuffer, mAudioData) == offsetof(::AudioQueueBuffer, mAudioData));
static_assert(offsetof(AudioQueueBuffer, mAudioDataByteSize) ==
              offsetof(::AudioQueueBuffer, mAudioDataByteSize));
static_assert(offsetof(AudioQueueBuffer, mUserData) == offsetof(::AudioQueueBuffer, mUserData));
static_assert(offsetof(AudioQueueBuffer, mPacketDescriptionCapacity) ==
              offsetof(::AudioQueueBuffer, mPacketDescriptionCapacity));
static_assert(offsetof(AudioQueueBuffer, mPacketDescriptions) ==
              offsetof(::AudioQueueBuffer, mPacketDescriptions));
static_assert(offsetof(AudioQueueBuffer, mPacketDescriptionCount) ==
              offsetof(::AudioQueueBuffer, mPacketDescriptionCount));
static_assert(sizeof(AudioStreamPacketDescription) == sizeof(::AudioStreamPacketDescription));
static_assert(offsetof(AudioStreamPacketDescription, mStartOffset) ==
              offsetof(::AudioStreamPacketDescription, mStartOffset));
static_assert(offsetof(AudioStreamPacketDescription, mVariableFramesInPacket) ==
              offsetof(::AudioStreamPacketDescription, mVariableFramesInPacket));
static_assert(offsetof(AudioStreamPacketDescription, mDataByteSize) ==
              offsetof(::AudioStreamPacketDescription, mDataByteSize));
static_assert(sizeof(AudioStreamBasicDescription) == sizeof(::AudioStreamBasicDescription));

// kAudio_ParamError: a device UID that is not UTF-8 cannot become a string reference.
constexpr OSStatus kInvalidDeviceUID = ::kAudio_ParamError;

::AudioQueueRef native(AudioQueueRef queue) { return reinterpret_cast<::AudioQueueRef>(queue); }

::AudioQueueBufferRef native(AudioQueueBufferRef buffer) {
    return reinterpret_cast<::AudioQueueBufferRef>(buffer);
}

// Runs on the queue's own thread, one buffer at a time.
void inputTrampoline(void* userData, ::AudioQueueRef queue, ::AudioQueueBufferRef buffer,
                     const ::AudioTimeStamp* startTime, UInt32 packetDescriptionCount,
                     const ::AudioStreamPacketDescription* packetDescriptions) {
    const auto& context = *static_cast<const MacAudioQueues::QueueContext*>(userData);
    context.callback(context.userData, reinterpret_cast<AudioQueueRef>(queue),
                     reinterpret_cast<AudioQueueBufferRef>(buffer),
                     reinterpret_cast<const AudioTimeStamp*>(startTime), packetDescriptionCount,
                     reinterpret_cast<const AudioStreamPacketDescription*>(packetDescriptions));
}

} // namespace

OSStatus MacAudioQueues::newInput(const AudioStreamBasicDescription& format,
                                  AudioQueueInputCallback callback, void* userData,
                                  AudioQueueRef& outQueue) {
    std::lock_guard lock(mutex_);
    QueueContext& context = contexts_.emplace_back();
    context.callback = callback;
    context.userData = userData;
    ::AudioQueueRef queue = nullptr;
    const OSStatus status =
        AudioQueueNewInput(reinterpret_cast<const ::AudioStreamBasicDescription*>(&format),
                           inputTrampoline, &context, nullptr, nullptr, 0, &queue);
    if (status != noErr) {
        contexts_.pop_back(); // no queue will ever call with it
        return status;
    }
    context.queue = reinterpret_cast<AudioQueueRef>(queue);
    outQueue = context.queue;
    return noErr;
}

OSStatus MacAudioQueues::setCurrentDevice(AudioQueueRef queue, const std::string& deviceUID) {
    CFPtr<CFStringRef> uid(createCFString(deviceUID));
    if (!uid) {
        return kInvalidDeviceUID;
    }
    // The property value is a pointer to the string reference.
    const CFStringRef value = uid.get();
    const OSStatus status = AudioQueueSetProperty(native(queue), kAudioQueueProperty_CurrentDevice,
                                                  &value, sizeof value);
    // Whether the queue retains the string is not documented: keep it as long as the queue.
    std::lock_guard lock(mutex_);
    for (QueueContext& context : contexts_) {
        if (context.queue == queue) {
            context.deviceUID = std::move(uid);
            break;
        }
    }
    return status;
}

OSStatus MacAudioQueues::allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                                        AudioQueueBufferRef& outBuffer) {
    ::AudioQueueBufferRef buffer = nullptr;
    const OSStatus status = AudioQueueAllocateBuffer(native(queue), byteSize, &buffer);
    if (status == noErr) {
        outBuffer = reinterpret_cast<AudioQueueBufferRef>(buffer); // owned by the queue
    }
    return status;
}

OSStatus MacAudioQueues::enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) {
    return AudioQueueEnqueueBuffer(native(queue), native(buffer), 0, nullptr);
}

OSStatus MacAudioQueues::start(AudioQueueRef queue) {
    return AudioQueueStart(native(queue), nullptr);
}

} // namespace tovanel::platform::macos
