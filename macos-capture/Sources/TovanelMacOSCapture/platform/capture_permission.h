// The Microphone permission: whether the user lets this process record audio input devices, and
// the request that asks them. Recording without it starts, yet yields nothing but silence.
//
// Every backend must:
//   - answer the status without asking anyone; when it cannot be learnt (the system's facility
//     cannot be loaded, or it answers a status unknown here) return a PlatformError whose
//     description says why;
//   - on requestAudioAccess, ask the user when the status is undecided and call `completion`
//     exactly once with the answer, on a thread of its own choosing;
//   - on a platform without such a permission, answer authorized and grant every request.
#pragma once

#include "platform/platform_error.h"

#include <functional>

namespace tovanel::platform {

// AVAuthorizationStatus, value for value.
enum class AudioAuthorization {
    notDetermined = 0, // nobody has been asked yet
    restricted = 1,    // a management profile or Screen Time forbids it; the user cannot allow it
    denied = 2,        // the user said no
    authorized = 3,
};

class CapturePermission {
  public:
    virtual ~CapturePermission() = default;
    virtual Result<AudioAuthorization> audioAuthorizationStatus() = 0;
    virtual void requestAudioAccess(std::function<void(bool granted)> completion) = 0;
};

} // namespace tovanel::platform
