// The Microphone permission off Apple: there is none, so recording is always authorized.
#pragma once

#include "platform/capture_permission.h"

namespace tovanel::platform::portable {

class PortableCapturePermission : public CapturePermission {
  public:
    Result<AudioAuthorization> audioAuthorizationStatus() override {
        return AudioAuthorization::authorized;
    }
    void requestAudioAccess(std::function<void(bool granted)> completion) override {
        completion(true);
    }
};

} // namespace tovanel::platform::portable
