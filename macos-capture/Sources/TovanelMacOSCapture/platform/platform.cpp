// Storage of the installed platform.
#include "platform/platform.h"

#include "platform/never_destroyed.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace tovanel::platform {

namespace {
std::atomic<const Platform*> installed{nullptr};
} // namespace

void install(const Platform& platform) {
    // Leaked on purpose, like the facilities: a thread still running at exit may read it.
    installed.store(std::make_unique<const Platform>(platform).release(),
                    std::memory_order_release);
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
