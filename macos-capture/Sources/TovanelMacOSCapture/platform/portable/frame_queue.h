// A first-in first-out queue of planar 32-bit float frames: where the converter keeps what it
// has made and not yet delivered. Its memory grows to the largest backlog seen and is reused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tovanel::platform::portable {

class FrameQueue {
  public:
    explicit FrameQueue(std::uint32_t channels);

    std::uint32_t channelCount() const { return static_cast<std::uint32_t>(channels_.size()); }
    std::size_t frames() const { return end_ - begin_; }

    // Room for `count` more frames at the back: one pointer per channel, valid until the next
    // call that changes the queue. Fill some of it, then commit what was filled.
    const std::vector<float*>& reserveBack(std::size_t count);
    void commitBack(std::size_t count);

    // The oldest frame of `channel`; frames() of them follow it.
    const float* front(std::uint32_t channel) const { return channels_[channel].data() + begin_; }
    void popFront(std::size_t count);

  private:
    std::vector<std::vector<float>> channels_;
    std::vector<float*> back_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

} // namespace tovanel::platform::portable
