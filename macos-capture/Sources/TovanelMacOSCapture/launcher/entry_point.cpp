// Mode decision and the hand-over to the mode's component.
#include "launcher/entry_point.h"

#include "launcher/launch_mode.h"
#include "platform/platform.h"
#include "screen_capture/system_audio_capture.h"
#include "supervisor/tovanel_sender_app.h"

#include <memory>

namespace tovanel {

namespace {

// One screen-capture source writing to standard output, with no callbacks: failures end the
// process from its fail path, and no status line is ever built.
int runCaptureMode() {
    const platform::Platform& platform = platform::current();
    const auto source = std::make_shared<SystemAudioCapture>(platform.files.standardOutput(),
                                                             MessageCallback{}, MessageCallback{});
    source->start();
    platform.dispatch.runMainLoop();
    return 0;
}

// The process becomes an accessory application, then the supervisor takes over for good.
int runAppMode(const std::vector<std::string>& arguments) {
    platform::current().application.activateAsAccessory();
    const auto app = std::make_shared<TovanelSenderApp>();
    app->start(arguments);
    return 0;
}

} // namespace

int runEntryPoint(const std::vector<std::string>& arguments) {
    const LaunchMode mode = selectLaunchMode(arguments);
    // A capture helper must keep its cadence in both modes, bundled or not: no napping, no
    // coalesced status timer, no lowered queue priority, for as long as the process lives.
    platform::current().application.beginLatencyCriticalActivity();
    switch (mode) {
    case LaunchMode::capture:
        return runCaptureMode();
    case LaunchMode::app:
        return runAppMode(arguments);
    }
    return 1;
}

} // namespace tovanel
