// Installing a fresh simulated platform.
#include "sim/sim_platform.h"

#include "platform/never_destroyed.h"

#include <list>
#include <mutex>

namespace tovanel::sim {

SimPlatform& SimPlatform::installFresh() {
    static std::mutex mutex;
    static platform::NeverDestroyed<std::list<SimPlatform>> made;
    std::lock_guard lock(mutex);
    SimPlatform& fresh = made.get().emplace_back();
    platform::install(platform::Platform{fresh.dispatch, fresh.files, fresh.processes,
                                         fresh.application, fresh.audioHardware, fresh.text,
                                         fresh.screenCapture, fresh.media, fresh.audioQueues});
    return fresh;
}

} // namespace tovanel::sim
