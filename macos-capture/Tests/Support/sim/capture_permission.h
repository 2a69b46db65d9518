// A simulated Microphone permission: the status the test sets, or a failure to learn it, and a
// request whose answer waits until the test gives it.
#pragma once

#include "platform/capture_permission.h"

#include <mutex>
#include <optional>

namespace tovanel::sim {

class SimCapturePermission : public platform::CapturePermission {
  public:
    platform::Result<platform::AudioAuthorization> audioAuthorizationStatus() override {
        return failure ? platform::Result<platform::AudioAuthorization>(*failure) : status;
    }
    void requestAudioAccess(std::function<void(bool granted)> completion) override {
        std::lock_guard lock(mutex_);
        pending_ = std::move(completion);
    }
    // Answers the pending request on the calling thread; false when none is pending.
    bool answer(bool granted) {
        std::unique_lock lock(mutex_);
        auto completion = std::exchange(pending_, {});
        lock.unlock();
        return completion ? (completion(granted), true) : false;
    }
    // Set by the test before the source starts.
    platform::AudioAuthorization status = platform::AudioAuthorization::authorized;
    std::optional<platform::PlatformError> failure;

  private:
    std::mutex mutex_;
    std::function<void(bool)> pending_;
};

} // namespace tovanel::sim
