// The shared PulseAudio connection.
#include "platform/pulse/connection.h"

#include "platform/never_destroyed.h"

#include <sys/time.h>

#include <vector>

namespace tovanel::platform::pulse {

namespace {

constexpr const char* kApplicationName = "tovanel-macos-capture";

bool isGone(pa_context_state_t state) {
    return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}

} // namespace

PlatformError pulseError(const char* call, int error) {
    const char* text = pa_strerror(error);
    return PlatformError{call, error, std::string(call) + ": " + (text ? text : "unknown error")};
}

PulseConnection::Lock::Lock(PulseConnection& connection)
    : loop_(connection.loop_), taken_(pa_threaded_mainloop_in_thread(loop_) == 0) {
    if (taken_) {
        pa_threaded_mainloop_lock(loop_);
    }
}

PulseConnection::Lock::~Lock() {
    if (taken_) {
        pa_threaded_mainloop_unlock(loop_);
    }
}

LoopTimer::LoopTimer(PulseConnection& connection, std::chrono::milliseconds after,
                     std::function<void()> onExpiry)
    : api_(pa_threaded_mainloop_get_api(connection.mainloop())), onExpiry_(std::move(onExpiry)) {
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when),
                   static_cast<pa_usec_t>(std::chrono::microseconds(after).count()));
    event_ = api_->time_new(api_, &when, &LoopTimer::onEvent, this);
}

LoopTimer::~LoopTimer() {
    if (event_ != nullptr) {
        api_->time_free(event_);
    }
}

void LoopTimer::onEvent(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
    static_cast<LoopTimer*>(self)->onExpiry_();
}

PulseConnection::PulseConnection() : loop_(pa_threaded_mainloop_new()) {}

PulseConnection::~PulseConnection() {
    if (started_) {
        pa_threaded_mainloop_stop(loop_);
    }
    if (context_ != nullptr) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
}

void PulseConnection::onContextState(pa_context*, void* self) {
    static_cast<PulseConnection*>(self)->signal();
}

void PulseConnection::signal() {
    pa_threaded_mainloop_signal(loop_, 0);
}

pa_context* PulseConnection::context() const {
    return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY ? context_
                                                                                     : nullptr;
}

PlatformError PulseConnection::contextError(const char* call) const {
    const int error = context_ != nullptr ? pa_context_errno(context_) : PA_ERR_CONNECTIONREFUSED;
    return pulseError(call, error != 0 ? error : PA_ERR_UNKNOWN);
}

void PulseConnection::dropContext() {
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

std::optional<PlatformError> PulseConnection::ensureConnected() {
    if (!started_) {
        // Named before it starts: the loop's thread takes the name as it begins, while naming a
        // running loop renames the calling thread instead (libpulse sets the caller's name).
        pa_threaded_mainloop_set_name(loop_, "tovanel.pulse");
        if (pa_threaded_mainloop_start(loop_) < 0) {
            return PlatformError{
                "pa_threaded_mainloop_start", PA_ERR_INTERNAL,
                "pa_threaded_mainloop_start: the PulseAudio main loop did not start"};
        }
        started_ = true;
    }
    if (context() != nullptr) {
        return std::nullopt;
    }
    // A context that failed cannot be reused; one still connecting is waited for below.
    if (context_ != nullptr && isGone(pa_context_get_state(context_))) {
        dropContext();
    }
    if (context_ == nullptr) {
        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), kApplicationName);
        if (context_ == nullptr) {
            return PlatformError{"pa_context_new", PA_ERR_INTERNAL,
                                 "pa_context_new: could not create a PulseAudio context"};
        }
        pa_context_set_state_callback(context_, &PulseConnection::onContextState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            PlatformError error = contextError("pa_context_connect");
            dropContext();
            return error;
        }
    }
    const auto waited = waitUntil(
        [this] {
            const pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || isGone(state);
        },
        "pa_context_connect");
    if (context() != nullptr) {
        return std::nullopt;
    }
    PlatformError error = waited ? *waited : contextError("pa_context_connect");
    dropContext();
    return error;
}

std::optional<PlatformError> PulseConnection::waitUntil(const std::function<bool()>& done,
                                                        const char* call,
                                                        std::chrono::milliseconds timeout) {
    bool passed = false;
    const LoopTimer deadline(*this, timeout, [this, &passed] {
        passed = true;
        signal();
    });
    while (!done()) {
        if (context_ == nullptr || isGone(pa_context_get_state(context_))) {
            return contextError(call);
        }
        if (passed) {
            return pulseError(call, PA_ERR_TIMEOUT);
        }
        pa_threaded_mainloop_wait(loop_);
    }
    return std::nullopt;
}

std::optional<PlatformError> PulseConnection::roundTrip(std::initializer_list<Start> operations) {
    if (auto failure = ensureConnected()) {
        return failure;
    }
    std::vector<pa_operation*> pending;
    std::optional<PlatformError> failure;
    for (const Start& start : operations) {
        pa_operation* operation = start(context_);
        if (operation == nullptr) {
            failure = contextError("pa_context operation");
            break;
        }
        pa_operation_set_state_callback(
            operation,
            [](pa_operation*, void* self) { static_cast<PulseConnection*>(self)->signal(); }, this);
        pending.push_back(operation);
    }
    if (!failure) {
        failure = waitUntil(
            [&] {
                for (pa_operation* operation : pending) {
                    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
                        return false;
                    }
                }
                return true;
            },
            "pa_context operation");
    }
    for (pa_operation* operation : pending) {
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
            pa_operation_cancel(operation);
        }
        pa_operation_unref(operation);
    }
    return failure;
}

PulseConnection& sharedConnection() {
    static NeverDestroyed<PulseConnection> connection;
    return connection.get();
}

} // namespace tovanel::platform::pulse
