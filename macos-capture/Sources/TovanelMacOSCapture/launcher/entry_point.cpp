// Mode decision and the hand-over to the mode's component.
#include "launcher/entry_point.h"

#include "launcher/launch_mode.h"
#include "platform/platform.h"

#include <cstdio>

namespace tovanel {

namespace {

// Placeholder until the screen-capture source lands: says so instead of pretending to capture.
int runCaptureModePlaceholder() {
    std::fputs("tovanel-macos-capture: capture mode is not available yet: the screen-capture "
               "source has not been built\n",
               stderr);
    return 1;
}

// Placeholder until the sender supervisor lands.
int runAppModePlaceholder() {
    platform::current().application.activateAsAccessory();
    std::fputs("tovanel-macos-capture: app mode is not available yet: the sender supervisor "
               "has not been built\n",
               stderr);
    return 1;
}

} // namespace

int runEntryPoint(const std::vector<std::string>& arguments) {
    switch (selectLaunchMode(arguments)) {
    case LaunchMode::capture:
        return runCaptureModePlaceholder();
    case LaunchMode::app:
        return runAppModePlaceholder();
    }
    return 1;
}

} // namespace tovanel
