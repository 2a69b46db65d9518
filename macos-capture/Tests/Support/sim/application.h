// A simulated application object that counts accessory activations, activity claims and calls.
#pragma once

#include "platform/application.h"

#include <atomic>

namespace tovanel::sim {

class SimApplication : public platform::Application {
  public:
    void activateAsAccessory() override { ++activations; }
    void beginLatencyCriticalActivity() override { ++latencyCriticalActivities; }
    void enableSuddenTermination() override { ++suddenTerminations; }
    std::atomic<int> activations{0};
    std::atomic<int> latencyCriticalActivities{0};
    std::atomic<int> suddenTerminations{0};
};

} // namespace tovanel::sim
