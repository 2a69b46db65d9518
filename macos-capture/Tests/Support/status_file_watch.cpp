// Watching an atomically replaced file with inotify.
#include "status_file_watch.h"

#include "eventually.h"
#include "test_directory.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>

namespace tovanel::test {

StatusFileWatch::StatusFileWatch(const std::string& directory, std::string fileName)
    : descriptor_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), fileName_(std::move(fileName)),
      path_(directory + "/" + fileName_) {
    ::inotify_add_watch(descriptor_, directory.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    watcher_ = std::thread([this] { watch(); });
}

StatusFileWatch::~StatusFileWatch() {
    stopping_ = true;
    watcher_.join();
    ::close(descriptor_);
}

void StatusFileWatch::watch() {
    while (!stopping_) {
        pollfd entry{descriptor_, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0) {
            continue;
        }
        alignas(inotify_event) char events[4096];
        const ssize_t got = ::read(descriptor_, events, sizeof events);
        for (ssize_t at = 0; got > 0 && at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len > 0 && fileName_ == event->name) {
                std::string content = readFile(path_);
                std::lock_guard lock(mutex_);
                contents_.push_back(std::move(content));
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

std::vector<std::string> StatusFileWatch::contents() const {
    std::lock_guard lock(mutex_);
    return contents_;
}

bool StatusFileWatch::sees(const std::string& content, std::chrono::milliseconds timeout) const {
    return eventually(
        [&] {
            const auto seen = contents();
            return std::find(seen.begin(), seen.end(), content) != seen.end();
        },
        timeout);
}

} // namespace tovanel::test
