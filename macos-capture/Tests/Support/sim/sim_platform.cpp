// Installing a fresh simulated platform.
#include "sim/sim_platform.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tovanel::sim {

SimPlatform& SimPlatform::installFresh() {
    static std::mutex mutex;
    static std::vector<std::unique_ptr<SimPlatform>> everyPlatform;
    std::lock_guard lock(mutex);
    everyPlatform.push_back(std::make_unique<SimPlatform>());
    SimPlatform& fresh = *everyPlatform.back();
    platform::install(platform::Platform{fresh.dispatch, fresh.files, fresh.processes,
                                         fresh.application, fresh.audioHardware, fresh.text,
                                         fresh.screenCapture, fresh.media, fresh.audioQueues});
    return fresh;
}

} // namespace tovanel::sim
