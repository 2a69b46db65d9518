// Application off Apple: there is no accessory notion and no napping, so both calls do nothing.
#pragma once

#include "platform/application.h"

namespace tovanel::platform::portable {

class PortableApplication : public Application {
  public:
    void activateAsAccessory() override {}
    void beginLatencyCriticalActivity() override {}
};

} // namespace tovanel::platform::portable
