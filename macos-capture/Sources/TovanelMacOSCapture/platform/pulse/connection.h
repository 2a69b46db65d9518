// The process's one connection to the PulseAudio (or PipeWire-pulse) server: a threaded main
// loop and a context, connected on first use and again after the server went away, with every
// round trip bounded in time.
//
// Threads: libpulse calls back on the main-loop thread with the loop's lock held. Everything
// else takes the lock through Lock before touching libpulse objects.
#pragma once

#include "platform/platform_error.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace tovanel::platform::pulse {

// How long one exchange with the server may take before it counts as failed; a server that
// stopped answering must never hang the program.
inline constexpr std::chrono::milliseconds kRoundTripTimeout{5000};

class PulseConnection {
  public:
    // Holds the main loop's lock for its lifetime. Recursive, and a no-op on the main-loop
    // thread, which holds it already (libpulse forbids taking it there).
    class Lock {
      public:
        explicit Lock(PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
        bool taken_;
    };

    // Issues one operation on the connected context; its callbacks fill the caller's results.
    // Returns the operation, or null when it could not be issued.
    using Start = std::function<pa_operation*(pa_context*)>;

    PulseConnection();
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Connects if needed. With the lock held.
    std::optional<PlatformError> ensureConnected();
    // Runs the operations in order, all in flight at once, and waits until every one has
    // finished, the connection failed or the timeout passed. With the lock held.
    std::optional<PlatformError> roundTrip(std::initializer_list<Start> operations);
    // Waits until `done` holds, the connection failed or `timeout` passed. With the lock held;
    // whoever makes `done` true calls signal().
    std::optional<PlatformError> waitUntil(const std::function<bool()>& done, const char* call,
                                           std::chrono::milliseconds timeout = kRoundTripTimeout);
    // Wakes whoever waits in roundTrip or waitUntil. From libpulse callbacks.
    void signal();

    // The connected context, or null. With the lock held.
    pa_context* context() const;
    pa_threaded_mainloop* mainloop() const { return loop_; }
    // The error the context reports, for a failed call.
    PlatformError contextError(const char* call) const;

  private:
    static void onContextState(pa_context* context, void* self);
    void dropContext();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool started_ = false;
};

// A one-shot timer on the main loop: `onExpiry` runs there, with the lock held, unless the timer
// is destroyed first. Made and destroyed with the lock held.
class LoopTimer {
  public:
    LoopTimer(PulseConnection& connection, std::chrono::milliseconds after,
              std::function<void()> onExpiry);
    ~LoopTimer();
    LoopTimer(const LoopTimer&) = delete;
    LoopTimer& operator=(const LoopTimer&) = delete;

  private:
    static void onEvent(pa_mainloop_api*, pa_time_event*, const timeval*, void* self);

    pa_mainloop_api* api_;
    pa_time_event* event_ = nullptr;
    std::function<void()> onExpiry_;
};

// The connection every PulseAudio facility of this process shares. Never destroyed.
PulseConnection& sharedConnection();

// A PlatformError for libpulse error code `error` in `call`.
PlatformError pulseError(const char* call, int error);

} // namespace tovanel::platform::pulse
