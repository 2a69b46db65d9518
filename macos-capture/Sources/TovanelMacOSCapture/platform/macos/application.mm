// Accessory activation: no Dock icon, no menu bar, brought forward over the active application.
// The application's event loop is never run; the main run loop of Dispatch drives the process.
// The process-long activity keeps App Nap from coalescing its timers and lowering its queues.
// Sudden termination lets logout and shutdown end the process, whose quit request nobody answers.
#include "platform/macos/application.h"

#import <AppKit/AppKit.h>

namespace tovanel::platform::macos {

namespace {

// User-initiated work with the timer and I/O precision of recording. Idle system sleep stays
// allowed, and so does sudden termination: the user-initiated set would otherwise forbid it for
// the process's whole life and bring back the unanswered quit request at logout.
constexpr NSActivityOptions kCaptureActivityOptions =
    (NSActivityUserInitiatedAllowingIdleSystemSleep & ~NSActivitySuddenTerminationDisabled) |
    NSActivityLatencyCritical;

} // namespace

void MacApplication::activateAsAccessory() {
    @autoreleasepool {
        // A typed NSApplication*, not NSApp, so availability checks see every message.
        NSApplication* application = [NSApplication sharedApplication];
        (void)[application setActivationPolicy:NSApplicationActivationPolicyAccessory];
        [application activateIgnoringOtherApps:YES];
    }
}

// The bundle's Info.plist does not declare NSSupportsSuddenTermination: AppKit acts on it only
// while an application finishes launching, which never happens here, and where it did act, its
// call and ours would each lower the same counter.
void MacApplication::enableSuddenTermination() {
    @autoreleasepool {
        [NSProcessInfo.processInfo enableSuddenTermination];
    }
}

void MacApplication::beginLatencyCriticalActivity() {
    @autoreleasepool {
        if (activity_ != nil) {
            return;
        }
        activity_ = [NSProcessInfo.processInfo beginActivityWithOptions:kCaptureActivityOptions
                                                                 reason:@"Real-time audio capture"];
    }
}

} // namespace tovanel::platform::macos
