// Simulated input queues.
#include "sim/audio_queues.h"

#include <algorithm>
#include <cstring>

namespace tovanel::sim {

void SimAudioQueues::fail(Call call, OSStatus status, int occurrence) {
    std::lock_guard lock(mutex_);
    faults_[{call, occurrence}] = status;
}

std::vector<SimAudioQueues::Record> SimAudioQueues::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::optional<OSStatus> SimAudioQueues::enter(Call call, std::string argument) {
    const auto fault = faults_.find({call, ++counts_[call]});
    const OSStatus status = fault != faults_.end() ? fault->second : 0;
    calls_.push_back({call, status, std::move(argument)});
    return fault != faults_.end() ? std::optional(status) : std::nullopt;
}

OSStatus SimAudioQueues::newInput(const platform::AudioStreamBasicDescription& format,
                                  platform::AudioQueueInputCallback callback, void* userData,
                                  AudioQueueRef& outQueue) {
    std::lock_guard lock(mutex_);
    if (const auto status = enter(Call::newInput, std::to_string(format.mSampleRate) + "/" +
                                                      std::to_string(format.mChannelsPerFrame))) {
        return *status;
    }
    queues_.push_back(std::make_unique<Queue>(Queue{callback, userData, {}, {}, false}));
    outQueue = reinterpret_cast<AudioQueueRef>(queues_.back().get());
    return 0;
}

OSStatus SimAudioQueues::setCurrentDevice(AudioQueueRef, const std::string& deviceUID) {
    std::lock_guard lock(mutex_);
    return enter(Call::setCurrentDevice, deviceUID).value_or(0);
}

OSStatus SimAudioQueues::allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                                        AudioQueueBufferRef& outBuffer) {
    std::lock_guard lock(mutex_);
    if (const auto status = enter(Call::allocateBuffer, std::to_string(byteSize))) {
        return *status;
    }
    auto& buffers = reinterpret_cast<Queue*>(queue)->buffers;
    buffers.push_back(std::make_unique<Buffer>(byteSize));
    outBuffer = &buffers.back()->record;
    return 0;
}

OSStatus SimAudioQueues::enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) {
    std::lock_guard lock(mutex_);
    if (const auto status = enter(Call::enqueueBuffer, "")) {
        return *status;
    }
    reinterpret_cast<Queue*>(queue)->enqueued.push_back(buffer);
    return 0;
}

OSStatus SimAudioQueues::start(AudioQueueRef queue) {
    std::lock_guard lock(mutex_);
    if (const auto status = enter(Call::start, "")) {
        return *status;
    }
    reinterpret_cast<Queue*>(queue)->started = true;
    return 0;
}

bool SimAudioQueues::deliver(std::vector<std::uint8_t> bytes,
                             std::optional<std::uint32_t> claimed) {
    Queue* queue = nullptr;
    AudioQueueBufferRef buffer = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (queues_.empty() || !queues_.back()->started || queues_.back()->enqueued.empty()) {
            return false;
        }
        queue = queues_.back().get();
        buffer = queue->enqueued.front();
        queue->enqueued.pop_front();
    }
    const auto filled = std::min<std::size_t>(bytes.size(), buffer->mAudioDataBytesCapacity);
    if (filled > 0) {
        std::memcpy(buffer->mAudioData, bytes.data(), filled);
    }
    buffer->mAudioDataByteSize = claimed.value_or(static_cast<std::uint32_t>(filled));
    queue->callback(queue->userData, reinterpret_cast<AudioQueueRef>(queue), buffer, nullptr, 0,
                    nullptr);
    return true;
}

std::size_t SimAudioQueues::enqueuedCount() const {
    std::lock_guard lock(mutex_);
    return queues_.empty() ? 0 : queues_.back()->enqueued.size();
}

} // namespace tovanel::sim
