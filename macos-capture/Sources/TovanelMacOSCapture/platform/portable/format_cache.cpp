// The formats the portable media has handed out.
#include "platform/portable/format_cache.h"

#include <cstring>

namespace tovanel::platform::portable {

namespace {

// Compared as bytes, not as values: a format hands back its description exactly as it was given
// (a rate of -0.0 stays -0.0). The description has no padding to differ in.
bool sameBytes(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) {
    static_assert(sizeof(AudioStreamBasicDescription) == 8 + 8 * 4);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

std::shared_ptr<PortableAudioFormat>
FormatCache::find(const AudioStreamBasicDescription& asbd) const {
    const std::size_t count = keptCount_.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < count; ++i) {
        if (sameBytes(kept_[i]->streamDescription(), asbd)) {
            return kept_[i];
        }
    }
    return nullptr;
}

std::shared_ptr<PortableAudioFormat> FormatCache::shared(const PortableAudioFormat& format) {
    if (auto kept = find(format.streamDescription())) {
        return kept;
    }
    std::lock_guard lock(mutex_);
    const std::size_t count = keptCount_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < count; ++i) { // kept by another thread meanwhile
        if (sameBytes(kept_[i]->streamDescription(), format.streamDescription())) {
            return kept_[i];
        }
    }
    auto made = std::make_shared<PortableAudioFormat>(format);
    if (count < kKept) {
        kept_[count] = made;
        keptCount_.store(count + 1, std::memory_order_release);
    }
    return made;
}

} // namespace tovanel::platform::portable
