// An in-memory output handle that records every write, for checking the bytes on the wire.
#pragma once

#include "platform/output_handle.h"

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace tovanel::sim {

class RecordingOutput : public platform::OutputHandle {
  public:
    void write(std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        writeSizes_.push_back(bytes.size());
    }

    std::vector<std::uint8_t> bytes() const {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    // The size of each write, in order: one entry per write call.
    std::vector<std::size_t> writeSizes() const {
        std::lock_guard lock(mutex_);
        return writeSizes_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::size_t> writeSizes_;
};

} // namespace tovanel::sim
