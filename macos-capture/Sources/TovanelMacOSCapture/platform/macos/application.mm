// Accessory activation: no Dock icon, no menu bar, brought forward over the active application.
// The application's event loop is never run; the main run loop of Dispatch drives the process.
// The process-long activity keeps App Nap from coalescing its timers and lowering its queues.
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

// Whether the main bundle's Info.plist says NSSupportsSuddenTermination = true, in which case
// AppKit enables sudden termination itself.
bool bundleDeclaresSuddenTermination() {
    id declared = [NSBundle.mainBundle objectForInfoDictionaryKey:@"NSSupportsSuddenTermination"];
    return [declared isKindOfClass:[NSNumber class]] && [declared boolValue];
}

} // namespace

void MacApplication::activateAsAccessory() {
    @autoreleasepool {
        // A typed NSApplication*, not NSApp, so availability checks see every message.
        NSApplication* application = [NSApplication sharedApplication];
        (void)[application setActivationPolicy:NSApplicationActivationPolicyAccessory];
        [application activateIgnoringOtherApps:YES];
        // The event loop never runs, so a quit request at logout or shutdown is never answered:
        // let the system end the process without asking. Only where the bundle has not already
        // asked for it, since each call lowers a counter that AppKit's own call also lowers.
        if (!bundleDeclaresSuddenTermination()) {
            [NSProcessInfo.processInfo enableSuddenTermination];
        }
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
