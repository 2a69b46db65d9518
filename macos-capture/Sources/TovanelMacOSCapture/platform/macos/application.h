// The application object on macOS: NSApplication as an accessory application.
#pragma once

#include "platform/application.h"

namespace tovanel::platform::macos {

class MacApplication final : public Application {
  public:
    // Main thread only, as AppKit requires; the entry point calls it there at start-up.
    void activateAsAccessory() override;
};

} // namespace tovanel::platform::macos
