// A simulated application object that counts accessory activations.
#pragma once

#include "platform/application.h"

#include <atomic>

namespace tovanel::sim {

class SimApplication : public platform::Application {
  public:
    void activateAsAccessory() override { ++activations; }
    std::atomic<int> activations{0};
};

} // namespace tovanel::sim
