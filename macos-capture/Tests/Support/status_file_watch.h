// Watching a file that is replaced atomically (renamed into place): a thread of its own reads
// it at every replacement as it lands, so a message that is soon overwritten is still seen.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tovanel::test {

class StatusFileWatch {
  public:
    StatusFileWatch(const std::string& directory, std::string fileName);
    ~StatusFileWatch();
    StatusFileWatch(const StatusFileWatch&) = delete;
    StatusFileWatch& operator=(const StatusFileWatch&) = delete;

    // Every content read at a replacement so far, in order.
    std::vector<std::string> contents() const;
    // Waits until the file has held `content`.
    bool sees(const std::string& content, std::chrono::milliseconds timeout) const;

  private:
    void watch();

    int descriptor_;
    std::string fileName_;
    std::string path_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> contents_;
    std::thread watcher_;
};

} // namespace tovanel::test
