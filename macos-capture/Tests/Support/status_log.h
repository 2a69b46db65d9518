// A MessageCallback target that keeps every line, callable from any thread at once.
#pragma once

#include "capture/capture_source.h"

#include <mutex>
#include <string>
#include <vector>

namespace tovanel::test {

class StatusLog {
  public:
    MessageCallback callback() {
        return [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::string last() const {
        std::lock_guard lock(mutex_);
        return lines_.empty() ? std::string() : lines_.back();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace tovanel::test
