// The formats the portable media has handed out, kept and shared instead of made again: a
// capture stream asks for the same source and target formats for every buffer. A format never
// changes once made, so one object serves every caller, and a kept one stays until the cache goes:
// finding one takes no lock.
#pragma once

#include "platform/portable/audio_format.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>

namespace tovanel::platform::portable {

class FormatCache {
  public:
    // The kept format whose stream description is exactly `asbd` (byte for byte), or null.
    std::shared_ptr<PortableAudioFormat> find(const AudioStreamBasicDescription& asbd) const;
    // `format` as a shared object: a kept one, or a new one, kept while there is room. Throws
    // std::bad_alloc when memory runs out. Both are safe from any thread.
    std::shared_ptr<PortableAudioFormat> shared(const PortableAudioFormat& format);

  private:
    static constexpr std::size_t kKept = 8;

    std::mutex mutex_; // taken by shared() only, to add
    std::array<std::shared_ptr<PortableAudioFormat>, kKept> kept_;
    std::atomic<std::size_t> keptCount_{0}; // the entries below it are set and never change
};

} // namespace tovanel::platform::portable
