// AudioQueues over libpulse: an input queue is a record stream on the bound source (a sink's
// name binds to its monitor) or on the default source, named as it is when the queue starts; a
// thread of the queue's own fills the buffers enqueued to it, each whole, in order, and hands them
// to the callback one at a time.
#pragma once

#include "platform/audio_queues.h"
#include "platform/pulse/connection.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tovanel::platform::pulse {

class PulseInputQueue;

class PulseAudioQueues final : public AudioQueues {
  public:
    explicit PulseAudioQueues(PulseConnection& connection);
    ~PulseAudioQueues() override;

    OSStatus newInput(const AudioStreamBasicDescription& format, AudioQueueInputCallback callback,
                      void* userData, AudioQueueRef& outQueue) override;
    OSStatus setCurrentDevice(AudioQueueRef queue, const std::string& deviceUID) override;
    OSStatus allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                            AudioQueueBufferRef& outBuffer) override;
    OSStatus enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) override;
    OSStatus start(AudioQueueRef queue) override;

  private:
    PulseInputQueue* find(AudioQueueRef queue);

    PulseConnection& connection_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<PulseInputQueue>> queues_; // never disposed while the program runs
};

// AudioQueue's statuses for the failures that are the caller's, not the server's.
inline constexpr OSStatus kAudioQueueErr_InvalidBuffer = -66687;
inline constexpr OSStatus kAudioQueueErr_InvalidParameter = -66682;
inline constexpr OSStatus kAudioQueueErr_InvalidDevice = -66680;
inline constexpr OSStatus kAudioQueueErr_BufferInQueue = -66679;
inline constexpr OSStatus kAudioQueueErr_InvalidRunState = -66678;
inline constexpr OSStatus kAudioFormatUnsupportedDataFormatError =
    static_cast<OSStatus>(fourCharCode("fmt?"));

} // namespace tovanel::platform::pulse
