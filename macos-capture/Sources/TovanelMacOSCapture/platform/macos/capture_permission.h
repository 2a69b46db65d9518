// The Microphone permission on macOS: AVCaptureDevice's authorization for audio. Objective-C++
// (ARC) only.
#pragma once

#include "platform/capture_permission.h"

#if !__has_feature(objc_arc)
#error "platform/macos/capture_permission.h is for Objective-C++ compiled with -fobjc-arc"
#endif

namespace tovanel::platform::macos {

class MacCapturePermission final : public CapturePermission {
  public:
    // Any thread. A failure names AVCaptureDevice and why it could not be reached.
    Result<AudioAuthorization> audioAuthorizationStatus() override;
    // The completion runs on a queue of AVFoundation's choosing.
    void requestAudioAccess(std::function<void(bool granted)> completion) override;
};

} // namespace tovanel::platform::macos
