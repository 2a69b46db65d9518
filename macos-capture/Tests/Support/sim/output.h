// An output handle that keeps every byte written and the size of each write.
#pragma once

#include "platform/output_handle.h"

#include <mutex>
#include <vector>

namespace tovanel::sim {

class RecordingOutput : public platform::OutputHandle {
  public:
    void write(std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        sizes_.push_back(bytes.size());
    }
    std::vector<std::uint8_t> bytes() const {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::vector<std::size_t> sizes() const {
        std::lock_guard lock(mutex_);
        return sizes_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::size_t> sizes_;
};

} // namespace tovanel::sim
