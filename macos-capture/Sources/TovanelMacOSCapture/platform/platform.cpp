// Storage of the installed platform.
#include "platform/platform.h"

#include "platform/never_destroyed.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>

namespace tovanel::platform {

namespace {
std::atomic<const Platform*> installed{nullptr};
} // namespace

void install(const Platform& platform) {
    // Kept for the life of the process, like the facilities: a thread still running at exit, or
    // one that took the previous platform, may still read it.
    static std::mutex mutex;
    static NeverDestroyed<std::list<Platform>> kept;
    std::lock_guard lock(mutex);
    installed.store(&kept.get().emplace_back(platform), std::memory_order_release);
}

const Platform& current() {
    const Platform* platform = installed.load(std::memory_order_acquire);
    if (platform == nullptr) {
        std::fputs("tovanel: platform used before it was installed\n", stderr);
        std::abort();
    }
    return *platform;
}

} // namespace tovanel::platform
