// PCM buffers handed out again.
#include "platform/portable/pcm_buffer_pool.h"

#include <bit>
#include <new>

namespace tovanel::platform::portable {

namespace {

// Larger buffers are one-offs: a stream's source and output buffers are far smaller.
constexpr std::size_t kLargestKeptBytes = std::size_t{1} << 20;

} // namespace

std::shared_ptr<PortablePCMBuffer>
PCMBufferPool::makeOtherwise(std::size_t latest, const std::shared_ptr<AudioFormat>& format,
                             const PortableAudioFormat& layout, std::uint32_t frameCapacity) {
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
