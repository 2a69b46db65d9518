// A simulated Microphone permission: a status or a failure, and a request pending until answered.
#pragma once

#include "platform/capture_permission.h"

#include <optional>

namespace tovanel::sim {

struct SimCapturePermission : platform::CapturePermission {
    platform::Result<platform::AudioAuthorization> audioAuthorizationStatus() override {
        return failure ? platform::Result<platform::AudioAuthorization>(*failure) : status;
    }
    void requestAudioAccess(std::function<void(bool granted)> completion) override {
        pending = std::move(completion);
    }
    platform::AudioAuthorization status = platform::AudioAuthorization::authorized;
    std::optional<platform::PlatformError> failure;
    std::function<void(bool granted)> pending;
};

} // namespace tovanel::sim
