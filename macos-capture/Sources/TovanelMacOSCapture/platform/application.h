// The application object: accessory activation in app mode.
//
// Every backend must:
//   - make the process an accessory application (no Dock icon, no menu bar) and bring it forward;
//     a platform without such a notion does nothing. Nothing in the logic uses the result.
#pragma once

namespace tovanel::platform {

class Application {
  public:
    virtual ~Application() = default;
    virtual void activateAsAccessory() = 0;
};

} // namespace tovanel::platform
