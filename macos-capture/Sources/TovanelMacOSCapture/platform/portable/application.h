// Application off Apple: there is no accessory notion, no napping and no quit request at logout,
// so every call does nothing.
#pragma once

#include "platform/application.h"

namespace tovanel::platform::portable {

class PortableApplication : public Application {
  public:
    void activateAsAccessory() override {}
    void beginLatencyCriticalActivity() override {}
    void enableSuddenTermination() override {}
};

} // namespace tovanel::platform::portable
