// PCM buffers handed out again: a buffer whose last owner lets it go is kept, up to a few, and
// taken up by the next request of the same layout that it has room for. A capture stream that
// makes a buffer or two for every 10 ms of audio then stops allocating once it has as many as it
// holds at a time: the shared pointer's own bookkeeping comes from kept memory too. A buffer
// taken up again holds the samples its last owner left; only a new buffer starts zeroed.
#pragma once

#include "platform/portable/pcm_buffer.h"

#include <cstdint>
#include <memory>

namespace tovanel::platform::portable {

class PCMBufferPool {
  public:
    PCMBufferPool();

    // A buffer of `format` with `frameCapacity` frames: a kept one that fits, or a new one.
    // Null as for PortablePCMBuffer::make. Safe from any thread; a buffer may outlive the pool.
    std::shared_ptr<PortablePCMBuffer> make(const std::shared_ptr<PortableAudioFormat>& format,
                                            std::uint32_t frameCapacity);

    // The kept buffers and memory, shared with every buffer handed out.
    struct State;

  private:
    std::shared_ptr<State> state_;
};

} // namespace tovanel::platform::portable
