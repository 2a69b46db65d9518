// A failed platform call as a value: the native call, its native status and a readable text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace tovanel::platform {

struct PlatformError {
    std::string call;        // the native call that failed, e.g. "posix_spawn"
    std::int64_t code = 0;   // its native status: errno, OSStatus or a libpulse error
    std::string description; // readable text, the counterpart of NSError's localizedDescription

    const std::string& localizedDescription() const { return description; }
};

// A value or the error that prevented it. Returned, never stored in shared state.
template <class T>
class Result {
  public:
    Result(T value) : state_(std::move(value)) {}
    Result(PlatformError error) : state_(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(state_); }
    T& value() { return std::get<T>(state_); }
    const T& value() const { return std::get<T>(state_); }
    const PlatformError& error() const { return std::get<PlatformError>(state_); }

  private:
    std::variant<T, PlatformError> state_;
};

} // namespace tovanel::platform
