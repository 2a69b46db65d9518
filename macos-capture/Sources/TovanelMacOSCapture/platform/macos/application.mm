// Accessory activation: no Dock icon, no menu bar, brought forward over the active application.
// The application's event loop is never run; the main run loop of Dispatch drives the process.
#include "platform/macos/application.h"

#import <AppKit/AppKit.h>

namespace tovanel::platform::macos {

void MacApplication::activateAsAccessory() {
    @autoreleasepool {
        // A typed NSApplication*, not NSApp, so availability checks see every message.
        NSApplication* application = [NSApplication sharedApplication];
        (void)[application setActivationPolicy:NSApplicationActivationPolicyAccessory];
        [application activateIgnoringOtherApps:YES];
    }
}

} // namespace tovanel::platform::macos
