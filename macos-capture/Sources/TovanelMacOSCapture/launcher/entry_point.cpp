// Mode decision and the hand-over to the mode's component.
#include "launcher/entry_point.h"

#include "launcher/launch_mode.h"
#include "platform/platform.h"
#include "screen_capture/system_audio_capture.h"
#include "supervisor/tovanel_sender_app.h"

#include <cstdio>
#include <memory>

namespace tovanel {

namespace {

// Capture mode's PCM would flood a terminal (on a Mac while the permission prompt is up), and no
// person reads it: said before anything of the audio system is touched.
constexpr const char* kTerminalRefusal =
    "tovanel-macos-capture: standard output is a terminal, which cannot take the raw PCM stream; "
    "pipe it into a reader or redirect it to a file, for example: tovanel-macos-capture > "
    "capture.f32\n";
constexpr int kTerminalRefusalStatus = 2;

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

// The process becomes an accessory application, then the supervisor takes over for good. Its
// event loop never runs to answer a quit request, so logout and shutdown may end it at once: one
// call, whether or not a bundle is around it.
int runAppMode(const std::vector<std::string>& arguments) {
    platform::Application& application = platform::current().application;
    application.activateAsAccessory();
    application.enableSuddenTermination();
    const auto app = std::make_shared<TovanelSenderApp>();
    app->start(arguments);
    return 0;
}

} // namespace

int runEntryPoint(const std::vector<std::string>& arguments) {
    const LaunchMode mode = selectLaunchMode(arguments);
    if (mode == LaunchMode::capture && platform::current().files.standardOutputIsTerminal()) {
        std::fputs(kTerminalRefusal, stderr);
        return kTerminalRefusalStatus;
    }
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
