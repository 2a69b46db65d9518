// The converter's queue of made, undelivered frames.
#include "platform/portable/frame_queue.h"

#include <algorithm>
#include <cstring>

namespace tovanel::platform::portable {

FrameQueue::FrameQueue(std::uint32_t channels) : channels_(channels), back_(channels) {}

const std::vector<float*>& FrameQueue::reserveBack(std::size_t count) {
    const std::size_t capacity = channels_.empty() ? 0 : channels_[0].size();
    if (end_ + count > capacity) {
        const std::size_t queued = frames();
        if (queued + count > capacity) {
            // Grow into new memory and swap it in only when every channel has its own, so a
            // failed allocation leaves the queue as it was.
            std::vector<std::vector<float>> grown(channels_.size());
            for (std::size_t c = 0; c < channels_.size(); ++c) {
                grown[c].resize(std::max(queued + count, capacity * 2));
                std::copy_n(channels_[c].data() + begin_, queued, grown[c].data());
            }
            channels_.swap(grown);
        } else {
            // Room enough once what is queued moves to the start.
            for (auto& channel : channels_) {
                std::memmove(channel.data(), channel.data() + begin_, queued * sizeof(float));
            }
        }
        begin_ = 0;
        end_ = queued;
    }
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        back_[c] = channels_[c].data() + end_;
    }
    return back_;
}

void FrameQueue::commitBack(std::size_t count) {
    const std::size_t capacity = channels_.empty() ? 0 : channels_[0].size();
    end_ = std::min(end_ + count, capacity);
}

void FrameQueue::popFront(std::size_t count) {
    begin_ += std::min(count, frames());
    if (begin_ == end_) {
        begin_ = end_ = 0;
    }
}

} // namespace tovanel::platform::portable
