// PCM buffers handed out again: the pool keeps a share of the buffers it made, up to a few, and a
// kept buffer that nobody else holds any more is taken up by the next request of the same layout
// that it has room for. A capture stream that makes a buffer or two for every 10 ms of audio then
// stops allocating once it has as many as it holds at a time, and the buffer that goes back and
// forth is found first and handed out with one count taken. A buffer taken up again holds the
// samples its last owner left; only a new buffer starts zeroed.
#pragma once

#include "platform/portable/pcm_buffer.h"
#include "platform/thread_sanitizer.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tovanel::platform::portable {

class PCMBufferPool {
  public:
    // A buffer of `format` (whose layout is `layout`, the same object) with `frameCapacity`
    // frames: a kept one that fits, or a new one. Null as for PortablePCMBuffer::make. Safe from
    // any thread; a buffer may outlive the pool.
    std::shared_ptr<PortablePCMBuffer> make(const std::shared_ptr<AudioFormat>& format,
                                            const PortableAudioFormat& layout,
                                            std::uint32_t frameCapacity) {
        const std::size_t latest = latest_.load(std::memory_order_relaxed);
        if (auto taken = takeUp(latest, format, layout, frameCapacity)) {
            return taken;
        }
        return makeOtherwise(latest, format, layout, frameCapacity);
    }

  private:
    // One kept buffer, looked at by one thread at a time: the one that set `busy`.
    struct Kept {
        std::atomic<bool> busy{false};
        std::shared_ptr<PortablePCMBuffer> buffer; // null while the place is free
    };
    static constexpr std::size_t kKept = 9;

    // The kept buffer at `index` when nobody else holds it and it fits, taken up for the caller.
    std::shared_ptr<PortablePCMBuffer> takeUp(std::size_t index,
                                              const std::shared_ptr<AudioFormat>& format,
                                              const PortableAudioFormat& layout,
                                              std::uint32_t frameCapacity) {
        Kept& kept = kept_[index];
        if (kept.busy.exchange(true, std::memory_order_acquire)) {
            return nullptr; // another thread is looking at it
        }
        std::shared_ptr<PortablePCMBuffer> taken;
        // Held by the pool alone, no other thread can take a share of it: what its last owner
        // did with it happened before its count came down (a release), which the fence makes
        // ours. ThreadSanitizer knows no fences; it sees the same order through the count taken
        // here, an acquiring increment in libstdc++.
        if (kept.buffer && kept.buffer.use_count() == 1 &&
            kept.buffer->fits(layout, frameCapacity)) {
            taken = kept.buffer;
#ifndef TOVANEL_THREAD_SANITIZER
            std::atomic_thread_fence(std::memory_order_acquire);
#endif
            taken->takeUp(format, layout, frameCapacity);
            latest_.store(index, std::memory_order_relaxed);
        }
        kept.busy.store(false, std::memory_order_release);
        return taken;
    }
    // Any other kept buffer that fits, or a new one (kept when there is a place for it).
    std::shared_ptr<PortablePCMBuffer> makeOtherwise(std::size_t latest,
                                                     const std::shared_ptr<AudioFormat>& format,
                                                     const PortableAudioFormat& layout,
                                                     std::uint32_t frameCapacity);

    std::array<Kept, kKept> kept_;
    std::atomic<std::size_t> latest_{0}; // where the last buffer handed out is kept
};

} // namespace tovanel::platform::portable
