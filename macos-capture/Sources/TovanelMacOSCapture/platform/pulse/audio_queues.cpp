// AudioQueues over libpulse.
#include "platform/pulse/audio_queues.h"

#include "platform/pulse/audio_hardware.h"
#include "platform/pulse/record_stream.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <optional>
#include <thread>

namespace tovanel::platform::pulse {

namespace {

// Recorded bytes waiting for an enqueued buffer. Beyond this many seconds the newest bytes are
// dropped, as a device drops what nobody takes.
constexpr std::uint32_t kMostSecondsWaiting = 2;
// Gathered by the server before it sends, when no buffer size says better.
constexpr std::uint32_t kDefaultFragmentMilliseconds = 50;

std::optional<pa_sample_format_t> sampleFormatOf(const AudioStreamBasicDescription& format) {
    const bool isFloat = (format.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
    const bool isSigned = (format.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0;
    if (format.mFormatID != kAudioFormatLinearPCM ||
        (format.mFormatFlags & (kAudioFormatFlagIsNonInterleaved | kAudioFormatFlagIsBigEndian))) {
        return std::nullopt;
    }
    if (isFloat && format.mBitsPerChannel == 32) {
        return PA_SAMPLE_FLOAT32LE;
    }
    if (!isFloat && isSigned && format.mBitsPerChannel == 16) {
        return PA_SAMPLE_S16LE;
    }
    if (!isFloat && isSigned && format.mBitsPerChannel == 32) {
        return PA_SAMPLE_S32LE;
    }
    return std::nullopt;
}

// A buffer and the memory it describes, owned together by the queue.
struct BufferStorage {
    explicit BufferStorage(std::uint32_t capacity)
        : bytes(std::make_unique<std::uint8_t[]>(capacity)), record{capacity, bytes.get(), 0,
                                                                    nullptr,  0,           nullptr,
                                                                    0} {}
    std::unique_ptr<std::uint8_t[]> bytes;
    AudioQueueBuffer record;
    bool enqueued = false;
};

} // namespace

class PulseInputQueue {
  public:
    PulseInputQueue(PulseConnection& connection, pa_sample_spec spec,
                    AudioQueueInputCallback callback, void* userData)
        : connection_(connection), spec_(spec), callback_(callback), userData_(userData) {}

    ~PulseInputQueue() {
        stream_.reset(); // takes the lock
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (deliverer_.joinable()) {
            deliverer_.join();
        }
    }

    AudioQueueRef ref() { return reinterpret_cast<AudioQueueRef>(this); }

    OSStatus bind(const std::string& uid) {
        PulseConnection::Lock lock(connection_);
        ServerSnapshot snapshot;
        if (const auto failure = readServerSnapshot(connection_, snapshot)) {
            return statusOf(*failure);
        }
        for (const auto& sink : snapshot.sinks) {
            if (sink.name == uid) {
                source_ = sink.monitorSource;
                return 0;
            }
        }
        for (const auto& source : snapshot.sources) {
            if (source.name == uid) {
                source_ = source.name;
                return 0;
            }
        }
        return kAudioQueueErr_InvalidDevice;
    }

    OSStatus allocate(std::uint32_t byteSize, AudioQueueBufferRef& outBuffer) {
        if (byteSize == 0) {
            return kAudioQueueErr_InvalidParameter;
        }
        std::lock_guard lock(mutex_);
        buffers_.push_back(std::make_unique<BufferStorage>(byteSize));
        outBuffer = &buffers_.back()->record;
        return 0;
    }

    OSStatus enqueue(AudioQueueBufferRef buffer) {
        {
            std::lock_guard lock(mutex_);
            BufferStorage* storage = storageOf(buffer);
            if (storage == nullptr) {
                return kAudioQueueErr_InvalidBuffer;
            }
            if (storage->enqueued) {
                return kAudioQueueErr_BufferInQueue;
            }
            storage->enqueued = true;
            enqueued_.push_back(storage);
        }
        wake_.notify_all();
        return 0;
    }

    OSStatus start() {
        if (started_) {
            return kAudioQueueErr_InvalidRunState;
        }
        RecordStream::Options options;
        options.source = source_;
        options.sampleSpec = spec_;
        options.fragmentBytes = fragmentBytes();
        options.name = "input device capture";
        PulseConnection::Lock lock(connection_);
        if (options.source.empty()) { // unbound: the default input, as it is now, by its name
            ServerSnapshot snapshot;
            if (const auto failure = readServerSnapshot(connection_, snapshot)) {
                return statusOf(*failure);
            }
            options.source = defaultSourceName(snapshot).value_or("");
            if (options.source.empty()) {
                return kAudioQueueErr_InvalidDevice;
            }
        }
        if (const auto failure = RecordStream::open(
                connection_, options,
                [this](const std::uint8_t* data, std::size_t bytes) { return take(data, bytes); },
                stream_)) {
            return statusOf(*failure);
        }
        started_ = true;
        deliverer_ = std::thread([this] { deliverBuffers(); });
        return 0;
    }

  private:
    BufferStorage* storageOf(AudioQueueBufferRef buffer) {
        for (const auto& storage : buffers_) {
            if (&storage->record == buffer) {
                return storage.get();
            }
        }
        return nullptr;
    }

    std::uint32_t fragmentBytes() {
        std::lock_guard lock(mutex_);
        std::uint32_t smallest = 0;
        for (const auto& storage : buffers_) {
            const std::uint32_t capacity = storage->record.mAudioDataBytesCapacity;
            smallest = smallest == 0 ? capacity : std::min(smallest, capacity);
        }
        const auto frameBytes = static_cast<std::uint32_t>(pa_frame_size(&spec_));
        const std::uint32_t fallback =
            spec_.rate * kDefaultFragmentMilliseconds / 1000 * frameBytes;
        return smallest > 0 ? smallest / frameBytes * frameBytes : fallback;
    }

    // Main-loop thread: keeps what was recorded until a buffer takes it.
    bool take(const std::uint8_t* data, std::size_t bytes) {
        {
            std::lock_guard lock(mutex_);
            const std::size_t limit =
                static_cast<std::size_t>(spec_.rate) * pa_frame_size(&spec_) * kMostSecondsWaiting;
            const std::size_t room = waiting_.size() < limit ? limit - waiting_.size() : 0;
            const std::size_t kept =
                std::min(bytes, room) / pa_frame_size(&spec_) * pa_frame_size(&spec_);
            waiting_.insert(waiting_.end(), data, data + kept);
        }
        wake_.notify_all();
        return true;
    }

    // The queue's own thread: fills the oldest enqueued buffer once enough is recorded.
    void deliverBuffers() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] {
                return stopping_ ||
                       (!enqueued_.empty() &&
                        waiting_.size() >= enqueued_.front()->record.mAudioDataBytesCapacity);
            });
            if (stopping_) {
                return;
            }
            BufferStorage* storage = enqueued_.front();
            enqueued_.pop_front();
            const std::uint32_t capacity = storage->record.mAudioDataBytesCapacity;
            std::copy_n(waiting_.begin(), capacity, storage->bytes.get());
            waiting_.erase(waiting_.begin(), waiting_.begin() + capacity);
            storage->record.mAudioDataByteSize = capacity;
            storage->enqueued = false;
            lock.unlock();
            callback_(userData_, ref(), &storage->record, nullptr, 0, nullptr);
            lock.lock();
        }
    }

    PulseConnection& connection_;
    const pa_sample_spec spec_;
    const AudioQueueInputCallback callback_;
    void* const userData_;
    std::string source_; // caller's thread, before start
    bool started_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::unique_ptr<BufferStorage>> buffers_;
    std::deque<BufferStorage*> enqueued_;
    std::deque<std::uint8_t> waiting_;
    bool stopping_ = false;
    std::thread deliverer_;
    std::unique_ptr<RecordStream> stream_;
};

PulseAudioQueues::PulseAudioQueues(PulseConnection& connection) : connection_(connection) {}

PulseAudioQueues::~PulseAudioQueues() = default;

PulseInputQueue* PulseAudioQueues::find(AudioQueueRef queue) {
    std::lock_guard lock(mutex_);
    for (const auto& candidate : queues_) {
        if (candidate->ref() == queue) {
            return candidate.get();
        }
    }
    return nullptr;
}

OSStatus PulseAudioQueues::newInput(const AudioStreamBasicDescription& format,
                                    AudioQueueInputCallback callback, void* userData,
                                    AudioQueueRef& outQueue) {
    const auto sampleFormat = sampleFormatOf(format);
    const pa_sample_spec spec{
        sampleFormat.value_or(PA_SAMPLE_INVALID),
        format.mSampleRate > 0 && format.mSampleRate <= PA_RATE_MAX
            ? static_cast<std::uint32_t>(format.mSampleRate)
            : 0u,
        static_cast<std::uint8_t>(std::min<std::uint32_t>(format.mChannelsPerFrame, 255))};
    if (!sampleFormat || callback == nullptr || !pa_sample_spec_valid(&spec) ||
        format.mChannelsPerFrame > PA_CHANNELS_MAX ||
        static_cast<double>(spec.rate) != format.mSampleRate ||
        format.mBytesPerFrame != pa_frame_size(&spec) || format.mFramesPerPacket != 1 ||
        format.mBytesPerPacket != format.mBytesPerFrame) {
        return kAudioFormatUnsupportedDataFormatError;
    }
    auto queue = std::make_unique<PulseInputQueue>(connection_, spec, callback, userData);
    outQueue = queue->ref();
    std::lock_guard lock(mutex_);
    queues_.push_back(std::move(queue));
    return 0;
}

OSStatus PulseAudioQueues::setCurrentDevice(AudioQueueRef queue, const std::string& deviceUID) {
    PulseInputQueue* found = find(queue);
    return found != nullptr ? found->bind(deviceUID) : kAudioQueueErr_InvalidParameter;
}

OSStatus PulseAudioQueues::allocateBuffer(AudioQueueRef queue, std::uint32_t byteSize,
                                          AudioQueueBufferRef& outBuffer) {
    PulseInputQueue* found = find(queue);
    return found != nullptr ? found->allocate(byteSize, outBuffer)
                            : kAudioQueueErr_InvalidParameter;
}

OSStatus PulseAudioQueues::enqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer) {
    PulseInputQueue* found = find(queue);
    return found != nullptr ? found->enqueue(buffer) : kAudioQueueErr_InvalidParameter;
}

OSStatus PulseAudioQueues::start(AudioQueueRef queue) {
    PulseInputQueue* found = find(queue);
    return found != nullptr ? found->start() : kAudioQueueErr_InvalidParameter;
}

} // namespace tovanel::platform::pulse
