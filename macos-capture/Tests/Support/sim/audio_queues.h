// Simulated input queues: every call recorded with its arguments and able to fail at any
// occurrence, buffers that are only filled once enqueued (oldest first), and recorded audio
// handed to the callback on whichever thread the test delivers from.
#pragma once

#include "platform/audio_queues.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tovanel::sim {

using platform::AudioQueueBufferRef;
using platform::AudioQueueRef;
using platform::OSStatus;

class SimAudioQueues : public platform::AudioQueues {
  public:
    enum class Call { newInput, setCurrentDevice, allocateBuffer, enqueueBuffer, start };
    struct Record {
        Call call;
        OSStatus status;
        std::string argument; // the device UID, or the buffer size, or the format's rate/channels
    };

    // What an unfilled part of a buffer holds: a large finite float, so reading past the filled
    // bytes shows up as full-scale samples.
    static constexpr std::uint8_t kUnfilledByte = 0x7F;

    // The `occurrence`-th call of `call` (from 1, over this object's life) answers `status` and
    // does nothing else; with status 0 it succeeds without a result (no queue, no buffer).
    void fail(Call call, OSStatus status, int occurrence = 1);
    std::vector<Record> calls() const;
    // Fills the oldest enqueued buffer of the last queue made with `bytes` (cut to its capacity)
    // and hands it to the callback on this thread, reporting `claimed` bytes if given. False when
    // the queue has not started or no buffer is enqueued.
    bool deliver(std::vector<std::uint8_t> bytes, std::optional<std::uint32_t> claimed = {});
    std::size_t enqueuedCount() const;

    OSStatus newInput(const platform::AudioStreamBasicDescription& format,
                      platform::AudioQueueInputCallback callback, void* userData,
                      AudioQueueRef& outQueue) override;
    OSStatus setCurrentDevice(AudioQueueRef queue, const std::string& deviceUID) override;
    OSStatus allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                            AudioQueueBufferRef& outBuffer) override;
    OSStatus enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) override;
    OSStatus start(AudioQueueRef queue) override;

  private:
    struct Buffer {
        explicit Buffer(std::uint32_t size)
            : bytes(size, kUnfilledByte), record{size, bytes.data(), 0, nullptr, 0, nullptr, 0} {}
        std::vector<std::uint8_t> bytes;
        platform::AudioQueueBuffer record;
    };
    struct Queue {
        platform::AudioQueueInputCallback callback;
        void* userData;
        std::vector<std::unique_ptr<Buffer>> buffers;
        std::deque<AudioQueueBufferRef> enqueued;
        bool started = false;
    };
    // Records the call; the injected status, if this occurrence has one.
    std::optional<OSStatus> enter(Call call, std::string argument);

    mutable std::mutex mutex_;
    std::map<std::pair<Call, int>, OSStatus> faults_;
    std::map<Call, int> counts_;
    std::vector<Record> calls_;
    std::vector<std::unique_ptr<Queue>> queues_;
};

} // namespace tovanel::sim
