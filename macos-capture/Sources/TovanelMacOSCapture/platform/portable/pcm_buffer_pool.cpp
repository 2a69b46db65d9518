// PCM buffers handed out again.
#include "platform/portable/pcm_buffer_pool.h"

#include <atomic>
#include <bit>
#include <cstddef>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace tovanel::platform::portable {

namespace {

// How many buffers and how large a buffer the pool keeps: enough for a stream's source and
// output buffers and those of a converter being replaced; larger buffers are one-offs.
constexpr std::size_t kKeptBuffers = 8;
constexpr std::size_t kLargestKeptBytes = std::size_t{1} << 20;

// A buffer with the memory for the control block of the shared pointer it is handed out under
// (its counts, its deleter and its allocator: a few dozen bytes). The buffer comes back to the
// pool when that control block is done with its memory, so the two never outlive each other.
// While lent, the entry holds the pool's state, which so outlives every buffer handed out.
struct Entry {
    std::unique_ptr<PortablePCMBuffer> buffer;
    std::shared_ptr<PCMBufferPool::State> lentBy;
    alignas(std::max_align_t) std::byte controlBlock[64];
};

} // namespace

struct PCMBufferPool::State {
    // The entry let go of last, apart from the others: a stream that makes and lets go of one
    // buffer at a time takes it back without a lock.
    std::atomic<Entry*> latest{nullptr};
    std::mutex mutex;
    std::vector<std::unique_ptr<Entry>> entries; // let go of earlier, ready to take up

    State() { entries.reserve(kKeptBuffers); }
    ~State() { std::unique_ptr<Entry> last(latest.load()); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // Keeps an entry whose buffer its last owner let go of, unless it is a large one or the pool
    // is full.
    void keep(std::unique_ptr<Entry> entry) {
        if (entry->buffer->memoryBytes() > kLargestKeptBytes) {
            return;
        }
        std::unique_ptr<Entry> displaced(latest.exchange(entry.release()));
        if (displaced) {
            std::lock_guard lock(mutex);
            if (entries.size() < kKeptBuffers) {
                entries.push_back(std::move(displaced));
            }
        }
    } // an entry not kept is freed here, after the lock is released

    // A kept entry that fits: the latest if it does, else the one with the least room. Null when
    // none fits.
    std::unique_ptr<Entry> takeFitting(const PortableAudioFormat& format,
                                       std::uint32_t frameCapacity) {
        std::unique_ptr<Entry> last(latest.exchange(nullptr));
        if (last && last->buffer->fits(format, frameCapacity)) {
            return last;
        }
        std::lock_guard lock(mutex);
        std::unique_ptr<Entry>* best = nullptr;
        for (auto& entry : entries) {
            if (entry->buffer->fits(format, frameCapacity) &&
                (best == nullptr || entry->buffer->roomFrames() < (*best)->buffer->roomFrames())) {
                best = &entry;
            }
        }
        std::unique_ptr<Entry> taken;
        if (best != nullptr) {
            taken = std::move(*best);
            *best = std::move(entries.back());
            entries.pop_back();
        }
        if (last && entries.size() < kKeptBuffers) {
            entries.push_back(std::move(last));
        }
        return taken;
    }
};

namespace {

// The buffer is not destroyed when its last owner lets go: it goes back to the pool with its
// entry once the control block has let go of the entry's memory (ControlBlockAllocator).
struct LeaveToPool {
    void operator()(PortablePCMBuffer*) const {}
};

// The shared pointer's allocator: the control block lives in the entry's memory, and giving
// that memory back returns the entry to the pool that lent it.
template <class T>
struct ControlBlockAllocator {
    using value_type = T;

    explicit ControlBlockAllocator(Entry* entry) : entry(entry) {}
    template <class U>
    ControlBlockAllocator(const ControlBlockAllocator<U>& other) : entry(other.entry) {}

    T* allocate(std::size_t count) {
        static_assert(sizeof(T) <= sizeof(Entry::controlBlock) &&
                      alignof(T) <= alignof(std::max_align_t));
        if (count != 1) {
            return std::allocator<T>().allocate(count);
        }
        return reinterpret_cast<T*>(entry->controlBlock);
    }
    void deallocate(T* memory, std::size_t count) {
        if (count != 1) {
            std::allocator<T>().deallocate(memory, count);
            return;
        }
        const std::shared_ptr<PCMBufferPool::State> pool = std::move(entry->lentBy);
        pool->keep(std::unique_ptr<Entry>(entry));
    }

    template <class U>
    bool operator==(const ControlBlockAllocator<U>& other) const {
        return entry == other.entry;
    }

    Entry* entry;
};

} // namespace

PCMBufferPool::PCMBufferPool() : state_(std::make_shared<State>()) {}

std::shared_ptr<PortablePCMBuffer>
PCMBufferPool::make(const std::shared_ptr<PortableAudioFormat>& format,
                    std::uint32_t frameCapacity) {
    if (!format) {
        return nullptr;
    }
    auto entry = state_->takeFitting(*format, frameCapacity);
    if (entry) {
        entry->buffer->takeUp(format, frameCapacity);
    } else {
        // Room for the next power of two of frames: a stream's buffers vary a little in length
        // (a record stream's chunks do), and one buffer then serves them all.
        const std::uint32_t room =
            frameCapacity <= (1u << 31) ? std::bit_ceil(frameCapacity) : frameCapacity;
        auto buffer = PortablePCMBuffer::make(format, frameCapacity, room);
        if (!buffer) {
            return nullptr;
        }
        try {
            entry = std::make_unique<Entry>();
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        entry->buffer = std::move(buffer);
    }
    // Nothing here allocates: the control block goes into the entry's own memory.
    entry->lentBy = state_;
    PortablePCMBuffer* buffer = entry->buffer.get();
    return std::shared_ptr<PortablePCMBuffer>(
        buffer, LeaveToPool{}, ControlBlockAllocator<PortablePCMBuffer>(entry.release()));
}

} // namespace tovanel::platform::portable
