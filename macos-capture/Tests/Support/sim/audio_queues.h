// Simulated input audio queues: each queue hands scripted buffers, one at a time, to its callback
// from a thread of its own, fills only buffers that were enqueued (oldest first), records every
// call with its arguments, and can be told to fail any call.
#pragma once

#include "platform/audio_queues.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tovanel::sim {

using platform::AudioQueueBufferRef;
using platform::AudioQueueRef;
using platform::OSStatus;

class SimAudioQueues : public platform::AudioQueues {
  public:
    enum class Call { newInput, setCurrentDevice, allocateBuffer, enqueueBuffer, start };

    // One call with the arguments it took; what a call does not take stays at its default.
    struct CallRecord {
        Call call = Call::newInput;
        AudioQueueRef queue = nullptr;                        // every call but newInput
        platform::AudioStreamBasicDescription format{};       // newInput
        platform::AudioQueueInputCallback callback = nullptr; // newInput
        void* userData = nullptr;                             // newInput
        std::string deviceUID;                                // setCurrentDevice
        std::uint32_t byteSize = 0;                           // allocateBuffer
        AudioQueueBufferRef buffer = nullptr;                 // enqueueBuffer
        OSStatus status = 0;                                  // what the call answered
    };

    // Statuses the simulation answers with, as AudioToolbox would.
    static constexpr OSStatus kParamErr = -50;
    static constexpr OSStatus kInvalidBuffer = -66687;       // kAudioQueueErr_InvalidBuffer
    static constexpr OSStatus kBufferEnqueuedTwice = -66666; // kAudioQueueErr_BufferEnqueuedTwice
    static constexpr OSStatus kInvalidDevice = -66680;       // kAudioQueueErr_InvalidDevice
    static constexpr OSStatus kUnsupportedDataFormat = // kAudioFormatUnsupportedDataFormatError
        static_cast<OSStatus>(platform::fourCharCode("fmt?"));

    // What an unfilled part of a delivered buffer holds: a large finite float, so a reader that
    // goes past mAudioDataByteSize writes visible full-scale samples.
    static constexpr std::uint8_t kUnfilledByte = 0x7F;

    SimAudioQueues();
    SimAudioQueues(const SimAudioQueues&) = delete;
    SimAudioQueues& operator=(const SimAudioQueues&) = delete;
    ~SimAudioQueues() override;

    // Makes the `occurrence`-th call of `call` (counted from 1 over this object's life, failed
    // calls included) answer `status` and do nothing else.
    void failCall(Call call, OSStatus status, int occurrence = 1);
    // Makes that call answer 0 without its result: newInput yields no queue, allocateBuffer no
    // buffer. Other calls just succeed without effect.
    void succeedWithoutResult(Call call, int occurrence = 1);

    // Adds a buffer's worth of recorded audio to `queue`'s script. Once the queue has started,
    // the script is delivered in order, each entry into the oldest enqueued buffer; entries
    // longer than the buffer are cut to its capacity, as a real queue never overfills.
    void deliver(AudioQueueRef queue, std::vector<std::uint8_t> bytes);
    // As deliver, but the buffer reports `byteSize` filled bytes whatever it holds: a faulty
    // queue, to show that a handler never trusts the count beyond the buffer.
    void deliverClaiming(AudioQueueRef queue, std::vector<std::uint8_t> bytes,
                         std::uint32_t byteSize);
    // Blocks until `queue` can deliver no more (its script is used up, no buffer is enqueued, or
    // it has not started) and no callback is running; returns how many buffers it delivered.
    std::size_t waitUntilIdle(AudioQueueRef queue);
    // Whether waitUntilIdle would return at once.
    bool isIdle(AudioQueueRef queue) const;
    // Stops every queue's thread once a callback that is running has returned; nothing is
    // delivered afterwards. A test calls it before it destroys what a callback reaches.
    void stopAll();

    std::vector<CallRecord> calls() const;
    // The queues made, in order.
    std::vector<AudioQueueRef> queues() const;
    // The buffers allocated for `queue`, in order.
    std::vector<AudioQueueBufferRef> buffersOf(AudioQueueRef queue) const;
    // The buffers of `queue` waiting to be filled, oldest first.
    std::vector<AudioQueueBufferRef> enqueuedBuffersOf(AudioQueueRef queue) const;

    OSStatus newInput(const platform::AudioStreamBasicDescription& format,
                      platform::AudioQueueInputCallback callback, void* userData,
                      AudioQueueRef& outQueue) override;
    OSStatus setCurrentDevice(AudioQueueRef queue, const std::string& deviceUID) override;
    OSStatus allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                            AudioQueueBufferRef& outBuffer) override;
    OSStatus enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) override;
    OSStatus start(AudioQueueRef queue) override;

  private:
    struct Buffer;
    struct Delivery;
    struct Queue;
    struct Injection {
        OSStatus status = 0;
        bool withoutResult = false;
    };

    // Counts the call and answers an injected outcome, if one was set for this occurrence.
    std::optional<Injection> nextOutcome(Call call);
    Queue* find(AudioQueueRef queue) const;
    // The queue a test names; naming one this object did not make is a mistake in the test.
    Queue& known(AudioQueueRef queue) const;
    // Keeps the call and returns the status it answered.
    OSStatus record(CallRecord call);
    void deliverFrom(Queue& queue);

    mutable std::mutex mutex_;
    std::map<Call, int> callCounts_;
    std::map<std::pair<Call, int>, Injection> injections_;
    std::vector<CallRecord> calls_;
    std::vector<std::unique_ptr<Queue>> queues_;
};

} // namespace tovanel::sim
