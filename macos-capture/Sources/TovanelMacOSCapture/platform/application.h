// The application object: accessory activation and sudden termination in app mode, and the
// process's claim to run unthrottled for its whole life.
//
// Every backend must:
//   - make the process an accessory application (no Dock icon, no menu bar) and bring it forward;
//     a platform without such a notion does nothing. Nothing in the logic uses the result;
//   - on beginLatencyCriticalActivity, keep the system from napping or coalescing the process's
//     timers and queues until it exits (idle system sleep stays allowed); a second call changes
//     nothing, and a platform without such throttling does nothing;
//   - on enableSuddenTermination, let the system end the process at once at logout or shutdown
//     instead of asking it to quit. Each call counts once against whatever keeps it disabled, so
//     the caller makes exactly one; a platform without such a request does nothing.
#pragma once

namespace tovanel::platform {

class Application {
  public:
    virtual ~Application() = default;
    virtual void activateAsAccessory() = 0;
    virtual void beginLatencyCriticalActivity() = 0;
    virtual void enableSuddenTermination() = 0;
};

} // namespace tovanel::platform
