// Simulated input audio queues.
#include "sim/audio_queues.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <thread>

namespace tovanel::sim {

using namespace platform;

namespace {

// The start time handed to the callback: never null, as the real queue's, and never read.
alignas(8) const unsigned char startTimeStorage[64] = {};
const AudioTimeStamp* startTime() {
    return reinterpret_cast<const AudioTimeStamp*>(startTimeStorage);
}

SimAudioQueues::CallRecord recordOf(SimAudioQueues::Call call, AudioQueueRef queue) {
    SimAudioQueues::CallRecord record;
    record.call = call;
    record.queue = queue;
    return record;
}

} // namespace

// A buffer owned by its queue; its storage is exactly its capacity (one byte for a capacity of
// 0, so the data pointer is never null), so a read past the end is caught by AddressSanitizer.
struct SimAudioQueues::Buffer {
    explicit Buffer(std::uint32_t capacity)
        : storage(std::make_unique<std::uint8_t[]>(std::max<std::uint32_t>(capacity, 1))),
          record{capacity, storage.get(), 0, nullptr, 0, nullptr, 0} {}

    const std::unique_ptr<std::uint8_t[]> storage;
    AudioQueueBuffer record;
};

struct SimAudioQueues::Delivery {
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> claimedByteSize;
};

// A queue and its delivering thread. Everything but the thread is guarded by the owner's mutex.
struct SimAudioQueues::Queue {
    AudioQueueInputCallback callback = nullptr;
    void* userData = nullptr;
    std::vector<std::unique_ptr<Buffer>> buffers;
    std::deque<Buffer*> enqueued;
    std::deque<Delivery> script;
    bool started = false;
    bool delivering = false;
    bool stopping = false;
    std::size_t delivered = 0;
    std::condition_variable wake; // the thread waits for something to deliver
    std::condition_variable idle; // waitUntilIdle waits for the thread
    std::thread thread;

    AudioQueueRef handle() { return reinterpret_cast<AudioQueueRef>(this); }
    bool canDeliver() const { return started && !stopping && !script.empty() && !enqueued.empty(); }
    Buffer* owned(AudioQueueBufferRef record) const {
        for (const auto& buffer : buffers) {
            if (&buffer->record == record) {
                return buffer.get();
            }
        }
        return nullptr;
    }
};

SimAudioQueues::SimAudioQueues() = default;

SimAudioQueues::~SimAudioQueues() {
    stopAll();
}

void SimAudioQueues::failCall(Call call, OSStatus status, int occurrence) {
    std::lock_guard lock(mutex_);
    injections_[{call, occurrence}] = Injection{status, false};
}

void SimAudioQueues::succeedWithoutResult(Call call, int occurrence) {
    std::lock_guard lock(mutex_);
    injections_[{call, occurrence}] = Injection{0, true};
}

void SimAudioQueues::deliver(AudioQueueRef queue, std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    Queue& found = known(queue);
    found.script.push_back(Delivery{std::move(bytes), std::nullopt});
    found.wake.notify_one();
}

void SimAudioQueues::deliverClaiming(AudioQueueRef queue, std::vector<std::uint8_t> bytes,
                                     std::uint32_t byteSize) {
    std::lock_guard lock(mutex_);
    Queue& found = known(queue);
    found.script.push_back(Delivery{std::move(bytes), byteSize});
    found.wake.notify_one();
}

std::size_t SimAudioQueues::waitUntilIdle(AudioQueueRef queue) {
    std::unique_lock lock(mutex_);
    Queue& found = known(queue);
    found.idle.wait(lock, [&] { return !found.delivering && !found.canDeliver(); });
    return found.delivered;
}

bool SimAudioQueues::isIdle(AudioQueueRef queue) const {
    std::lock_guard lock(mutex_);
    const Queue& found = known(queue);
    return !found.delivering && !found.canDeliver();
}

void SimAudioQueues::stopAll() {
    std::vector<std::thread*> threads;
    {
        std::lock_guard lock(mutex_);
        for (const auto& queue : queues_) {
            queue->stopping = true;
            queue->wake.notify_one();
            queue->idle.notify_all();
            threads.push_back(&queue->thread);
        }
    }
    for (std::thread* thread : threads) {
        if (thread->joinable()) {
            // A callback that stops the simulation cannot wait for its own thread.
            if (thread->get_id() == std::this_thread::get_id()) {
                thread->detach();
            } else {
                thread->join();
            }
        }
    }
}

std::vector<SimAudioQueues::CallRecord> SimAudioQueues::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<AudioQueueRef> SimAudioQueues::queues() const {
    std::lock_guard lock(mutex_);
    std::vector<AudioQueueRef> handles;
    for (const auto& queue : queues_) {
        handles.push_back(queue->handle());
    }
    return handles;
}

std::vector<AudioQueueBufferRef> SimAudioQueues::buffersOf(AudioQueueRef queue) const {
    std::lock_guard lock(mutex_);
    std::vector<AudioQueueBufferRef> records;
    for (const auto& buffer : known(queue).buffers) {
        records.push_back(&buffer->record);
    }
    return records;
}

std::vector<AudioQueueBufferRef> SimAudioQueues::enqueuedBuffersOf(AudioQueueRef queue) const {
    std::lock_guard lock(mutex_);
    std::vector<AudioQueueBufferRef> records;
    for (Buffer* buffer : known(queue).enqueued) {
        records.push_back(&buffer->record);
    }
    return records;
}

OSStatus SimAudioQueues::newInput(const AudioStreamBasicDescription& format,
                                  AudioQueueInputCallback callback, void* userData,
                                  AudioQueueRef& outQueue) {
    std::lock_guard lock(mutex_);
    CallRecord call = recordOf(Call::newInput, nullptr);
    call.format = format;
    call.callback = callback;
    call.userData = userData;
    if (const auto outcome = nextOutcome(Call::newInput)) {
        call.status = outcome->status;
        if (outcome->withoutResult) {
            outQueue = nullptr;
        }
    } else if (callback == nullptr) {
        call.status = kParamErr;
    } else if (format.mFormatID != kAudioFormatLinearPCM ||
               (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0 ||
               format.mBytesPerFrame == 0 || format.mChannelsPerFrame == 0) {
        // An input queue records interleaved linear PCM only.
        call.status = kUnsupportedDataFormat;
    } else {
        auto queue = std::make_unique<Queue>();
        queue->callback = callback;
        queue->userData = userData;
        Queue& made = *queue;
        queues_.push_back(std::move(queue));
        made.thread = std::thread([this, &made] { deliverFrom(made); });
        outQueue = made.handle();
    }
    return record(std::move(call));
}

OSStatus SimAudioQueues::setCurrentDevice(AudioQueueRef queue, const std::string& deviceUID) {
    std::lock_guard lock(mutex_);
    CallRecord call = recordOf(Call::setCurrentDevice, queue);
    call.deviceUID = deviceUID;
    if (const auto outcome = nextOutcome(Call::setCurrentDevice)) {
        call.status = outcome->status;
    } else if (find(queue) == nullptr) {
        call.status = kParamErr;
    } else if (deviceUID.empty()) {
        call.status = kInvalidDevice;
    }
    return record(std::move(call));
}

OSStatus SimAudioQueues::allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                                        AudioQueueBufferRef& outBuffer) {
    std::lock_guard lock(mutex_);
    CallRecord call = recordOf(Call::allocateBuffer, queue);
    call.byteSize = byteSize;
    Queue* found = find(queue);
    if (const auto outcome = nextOutcome(Call::allocateBuffer)) {
        call.status = outcome->status;
        if (outcome->withoutResult) {
            outBuffer = nullptr;
        }
    } else if (found == nullptr) {
        call.status = kParamErr;
    } else {
        found->buffers.push_back(std::make_unique<Buffer>(byteSize));
        outBuffer = &found->buffers.back()->record;
    }
    return record(std::move(call));
}

OSStatus SimAudioQueues::enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) {
    std::lock_guard lock(mutex_);
    CallRecord call = recordOf(Call::enqueueBuffer, queue);
    call.buffer = buffer;
    Queue* found = find(queue);
    Buffer* owned = found == nullptr ? nullptr : found->owned(buffer);
    if (const auto outcome = nextOutcome(Call::enqueueBuffer)) {
        call.status = outcome->status;
    } else if (found == nullptr) {
        call.status = kParamErr;
    } else if (owned == nullptr) {
        call.status = kInvalidBuffer;
    } else if (std::find(found->enqueued.begin(), found->enqueued.end(), owned) !=
               found->enqueued.end()) {
        call.status = kBufferEnqueuedTwice;
    } else {
        found->enqueued.push_back(owned);
        found->wake.notify_one();
    }
    return record(std::move(call));
}

OSStatus SimAudioQueues::start(AudioQueueRef queue) {
    std::lock_guard lock(mutex_);
    CallRecord call = recordOf(Call::start, queue);
    Queue* found = find(queue);
    if (const auto outcome = nextOutcome(Call::start)) {
        call.status = outcome->status;
    } else if (found == nullptr) {
        call.status = kParamErr;
    } else {
        found->started = true;
        found->wake.notify_one();
    }
    return record(std::move(call));
}

std::optional<SimAudioQueues::Injection> SimAudioQueues::nextOutcome(Call call) {
    const int occurrence = ++callCounts_[call];
    const auto injected = injections_.find({call, occurrence});
    if (injected == injections_.end()) {
        return std::nullopt;
    }
    return injected->second;
}

SimAudioQueues::Queue* SimAudioQueues::find(AudioQueueRef queue) const {
    for (const auto& candidate : queues_) {
        if (candidate->handle() == queue) {
            return candidate.get();
        }
    }
    return nullptr;
}

SimAudioQueues::Queue& SimAudioQueues::known(AudioQueueRef queue) const {
    Queue* found = find(queue);
    if (found == nullptr) {
        throw std::logic_error("not a queue of this simulation");
    }
    return *found;
}

OSStatus SimAudioQueues::record(CallRecord call) {
    calls_.push_back(std::move(call));
    return calls_.back().status;
}

// The queue's own thread: fills the oldest enqueued buffer with the next scripted entry and hands
// it to the callback, one at a time. The buffer leaves the enqueued list while it is out, so it
// is filled again only once the callback (or anyone) enqueues it again.
void SimAudioQueues::deliverFrom(Queue& queue) {
    std::unique_lock lock(mutex_);
    for (;;) {
        queue.wake.wait(lock, [&] { return queue.stopping || queue.canDeliver(); });
        if (queue.stopping) {
            return;
        }
        Buffer* buffer = queue.enqueued.front();
        queue.enqueued.pop_front();
        Delivery delivery = std::move(queue.script.front());
        queue.script.pop_front();
        queue.delivering = true;
        lock.unlock();

        const std::uint32_t capacity = buffer->record.mAudioDataBytesCapacity;
        const std::size_t filled = std::min<std::size_t>(delivery.bytes.size(), capacity);
        if (filled > 0) {
            std::memcpy(buffer->storage.get(), delivery.bytes.data(), filled);
        }
        std::memset(buffer->storage.get() + filled, kUnfilledByte, capacity - filled);
        buffer->record.mAudioDataByteSize =
            delivery.claimedByteSize.value_or(static_cast<std::uint32_t>(filled));
        queue.callback(queue.userData, queue.handle(), &buffer->record, startTime(), 0, nullptr);

        lock.lock();
        queue.delivering = false;
        ++queue.delivered;
        queue.idle.notify_all();
    }
}

} // namespace tovanel::sim
