// PCM buffers handed out again.
#include "platform/portable/pcm_buffer_pool.h"

#include <bit>
#include <new>

namespace tovanel::platform::portable {

namespace {

// Larger buffers are one-offs: a stream's source and output buffers are far smaller.
constexpr std::size_t kLargestKeptBytes = std::size_t{1} << 20;

} // namespace

std::shared_ptr<PortablePCMBuffer> PCMBufferPool::takeUp(std::size_t index,
                                                         const std::shared_ptr<AudioFormat>& format,
                                                         const PortableAudioFormat& layout,
                                                         std::uint32_t frameCapacity) {
    Kept& kept = kept_[index];
    if (kept.busy.exchange(true, std::memory_order_acquire)) {
        return nullptr; // another thread is looking at it
    }
    std::shared_ptr<PortablePCMBuffer> taken;
    // Held by the pool alone, no other thread can take a share of it: what its last owner did
    // with it happened before its count came down (a release), which the fence makes ours.
    if (kept.buffer && kept.buffer.use_count() == 1 && kept.buffer->fits(layout, frameCapacity)) {
        std::atomic_thread_fence(std::memory_order_acquire);
        kept.buffer->takeUp(format, layout, frameCapacity);
        taken = kept.buffer;
        latest_.store(index, std::memory_order_relaxed);
    }
    kept.busy.store(false, std::memory_order_release);
    return taken;
}

std::shared_ptr<PortablePCMBuffer> PCMBufferPool::make(const std::shared_ptr<AudioFormat>& format,
                                                       const PortableAudioFormat& layout,
                                                       std::uint32_t frameCapacity) {
    const std::size_t latest = latest_.load(std::memory_order_relaxed);
    if (auto taken = takeUp(latest, format, layout, frameCapacity)) {
        return taken;
    }
    // Of the others that fit, the one with the least room.
    std::size_t best = kKept;
    std::uint32_t bestRoom = 0;
    for (std::size_t i = 0; i < kKept; ++i) {
        Kept& kept = kept_[i];
        if (i == latest || kept.busy.exchange(true, std::memory_order_acquire)) {
            continue;
        }
        if (kept.buffer && kept.buffer.use_count() == 1 &&
            kept.buffer->fits(layout, frameCapacity) &&
            (best == kKept || kept.buffer->roomFrames() < bestRoom)) {
            best = i;
            bestRoom = kept.buffer->roomFrames();
        }
        kept.busy.store(false, std::memory_order_release);
    }
    if (best != kKept) {
        if (auto taken = takeUp(best, format, layout, frameCapacity)) {
            return taken;
        }
    }

    // Room for the next power of two of frames: a stream's buffers vary a little in length (a
    // record stream's chunks do), and one buffer then serves them all.
    const std::uint32_t room =
        frameCapacity <= (1u << 31) ? std::bit_ceil(frameCapacity) : frameCapacity;
    std::shared_ptr<PortablePCMBuffer> made;
    try {
        made = PortablePCMBuffer::make(format, layout, frameCapacity, room);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!made || made->memoryBytes() > kLargestKeptBytes) {
        return made;
    }
    // Kept in a free place, or in place of a buffer nobody holds (a layout asked for earlier).
    for (std::size_t i = 0; i < kKept; ++i) {
        Kept& kept = kept_[i];
        if (kept.busy.exchange(true, std::memory_order_acquire)) {
            continue;
        }
        const bool free = !kept.buffer || kept.buffer.use_count() == 1;
        std::shared_ptr<PortablePCMBuffer> displaced;
        if (free) {
            displaced = std::exchange(kept.buffer, made);
            latest_.store(i, std::memory_order_relaxed);
        }
        kept.busy.store(false, std::memory_order_release);
        if (free) {
            break; // the displaced buffer is freed here, outside the place
        }
    }
    return made;
}

} // namespace tovanel::platform::portable
