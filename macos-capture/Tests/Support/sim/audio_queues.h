// Simulated input queues: every call recorded with its argument and able to fail at any occurrence;
// buffers filled only once enqueued (oldest first), handed to the callback on the test's thread.
#pragma once

#include "platform/audio_queues.h"

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tovanel::sim {

using namespace platform;

class SimAudioQueues : public AudioQueues {
  public:
    enum class Call { newInput, setCurrentDevice, allocateBuffer, enqueueBuffer, start };
    struct Record {
        Call call;
        std::string argument; // the format's fields, the device UID or the buffer size
    };

    // The `occurrence`-th call of `call` (from 1) answers `status` and does nothing else; with
    // status 0 it succeeds without a result (no queue, no buffer).
    void fail(Call call, OSStatus status, int occurrence = 1) {
        std::lock_guard lock(mutex_);
        faults_[{call, occurrence}] = status;
    }
    std::vector<Record> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t enqueuedCount() const {
        std::lock_guard lock(mutex_);
        return queues_.empty() ? 0 : queues_.back()->enqueued.size();
    }
    // Fills the oldest enqueued buffer of the last queue made with `bytes` (cut to its capacity)
    // and hands it to the callback on this thread, claiming `claimed` bytes if given. False when
    // the queue has not started or has no buffer enqueued.
    bool deliver(const std::vector<std::uint8_t>& bytes,
                 std::optional<std::uint32_t> claimed = {}) {
        std::unique_lock lock(mutex_);
        Queue* queue = queues_.empty() ? nullptr : queues_.back().get();
        if (queue == nullptr || !queue->started || queue->enqueued.empty()) {
            return false;
        }
        AudioQueueBufferRef buffer = queue->enqueued.front();
        queue->enqueued.pop_front();
        lock.unlock();
        const auto filled = std::min<std::size_t>(bytes.size(), buffer->mAudioDataBytesCapacity);
        if (filled > 0) {
            std::memcpy(buffer->mAudioData, bytes.data(), filled);
        }
        buffer->mAudioDataByteSize = claimed.value_or(static_cast<std::uint32_t>(filled));
        queue->callback(queue->userData, reinterpret_cast<AudioQueueRef>(queue), buffer, nullptr, 0,
                        nullptr);
        return true;
    }

    OSStatus newInput(const AudioStreamBasicDescription& format, AudioQueueInputCallback callback,
                      void* userData, AudioQueueRef& outQueue) override {
        std::string fields; // the whole description, field by field
        for (const std::uint32_t field :
             {std::uint32_t(format.mSampleRate), format.mFormatID, format.mFormatFlags,
              format.mBytesPerPacket, format.mFramesPerPacket, format.mBytesPerFrame,
              format.mChannelsPerFrame, format.mBitsPerChannel, format.mReserved}) {
            fields += std::to_string(field) + "/";
        }
        return call(Call::newInput, fields, [&] {
            queues_.push_back(std::make_unique<Queue>(callback, userData));
            outQueue = reinterpret_cast<AudioQueueRef>(queues_.back().get());
        });
    }
    OSStatus setCurrentDevice(AudioQueueRef, const std::string& deviceUID) override {
        return call(Call::setCurrentDevice, deviceUID, [] {});
    }
    OSStatus allocateBuffer(AudioQueueRef queue, std::uint32_t size,
                            AudioQueueBufferRef& outBuffer) override {
        return call(Call::allocateBuffer, std::to_string(size), [&] {
            auto& buffers = reinterpret_cast<Queue*>(queue)->buffers;
            buffers.push_back(std::make_unique<Buffer>(size));
            outBuffer = &buffers.back()->record;
        });
    }
    OSStatus enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) override {
        return call(Call::enqueueBuffer, "",
                    [&] { reinterpret_cast<Queue*>(queue)->enqueued.push_back(buffer); });
    }
    OSStatus start(AudioQueueRef queue) override {
        return call(Call::start, "", [&] { reinterpret_cast<Queue*>(queue)->started = true; });
    }

  private:
    struct Buffer {
        // Unfilled bytes hold a large finite float: reading past the filled bytes shows.
        explicit Buffer(std::uint32_t size)
            : bytes(size + 1, 0x7F), record{size, bytes.data(), 0, nullptr, 0, nullptr, 0} {}
        std::vector<std::uint8_t> bytes;
        AudioQueueBuffer record;
    };
    struct Queue {
        Queue(AudioQueueInputCallback c, void* u) : callback(c), userData(u) {}
        AudioQueueInputCallback callback;
        void* userData;
        std::vector<std::unique_ptr<Buffer>> buffers;
        std::deque<AudioQueueBufferRef> enqueued;
        bool started = false;
    };
    // Records the call; answers the injected status, or does what it does and answers 0.
    template <class Effect>
    OSStatus call(Call call, std::string argument, Effect effect) {
        std::lock_guard lock(mutex_);
        calls_.push_back({call, std::move(argument)});
        const auto fault = faults_.find({call, ++counts_[call]});
        if (fault != faults_.end()) {
            return fault->second;
        }
        effect();
        return 0;
    }

    mutable std::mutex mutex_;
    std::map<std::pair<Call, int>, OSStatus> faults_;
    std::map<Call, int> counts_;
    std::vector<Record> calls_;
    std::vector<std::unique_ptr<Queue>> queues_;
};

} // namespace tovanel::sim
