// Application off Apple: there is no accessory notion, so activation does nothing.
#pragma once

#include "platform/application.h"

namespace tovanel::platform::portable {

class PortableApplication : public Application {
  public:
    void activateAsAccessory() override {}
};

} // namespace tovanel::platform::portable
