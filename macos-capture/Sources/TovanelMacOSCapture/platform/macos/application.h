// The application object on macOS: NSApplication as an accessory application, sudden termination,
// and the NSProcessInfo activity that keeps the capture from being napped. Objective-C++ (ARC)
// only.
#pragma once

#include "platform/application.h"

#import <Foundation/Foundation.h>

#if !__has_feature(objc_arc)
#error "platform/macos/application.h is for Objective-C++ compiled with -fobjc-arc"
#endif

namespace tovanel::platform::macos {

class MacApplication final : public Application {
  public:
    // Main thread only, as AppKit requires; the entry point calls it there at start-up.
    void activateAsAccessory() override;
    // Main thread, at start-up, before either mode's component starts.
    void beginLatencyCriticalActivity() override;
    // NSProcessInfo's enableSuddenTermination, once per call; any thread.
    void enableSuddenTermination() override;

  private:
    // The activity ends when its token is released, so it is held until the process exits.
    id<NSObject> activity_ = nil; // strong (ARC)
};

} // namespace tovanel::platform::macos
