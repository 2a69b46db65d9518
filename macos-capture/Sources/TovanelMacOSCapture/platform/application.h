// The application object: accessory activation in app mode, and the process's claim to run
// unthrottled for its whole life.
//
// Every backend must:
//   - make the process an accessory application (no Dock icon, no menu bar) and bring it forward;
//     a platform without such a notion does nothing. Nothing in the logic uses the result;
//   - on beginLatencyCriticalActivity, keep the system from napping or coalescing the process's
//     timers and queues until it exits (idle system sleep stays allowed); a second call changes
//     nothing, and a platform without such throttling does nothing.
#pragma once

namespace tovanel::platform {

class Application {
  public:
    virtual ~Application() = default;
    virtual void activateAsAccessory() = 0;
    virtual void beginLatencyCriticalActivity() = 0;
};

} // namespace tovanel::platform
