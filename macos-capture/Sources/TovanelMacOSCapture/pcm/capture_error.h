// The errors of the sample-buffer conversion path, and the failure type that also carries the
// converter's own errors.
#pragma once

#include "platform/platform_error.h"
#include "platform/status_codes.h"

#include <string>
#include <string_view>
#include <variant>

namespace tovanel {

class CaptureError {
  public:
    // In declaration order: the position is the error's code.
    enum class Case : int {
        audioBufferListUnavailable = 0, // carries the platform status (0 for a useless list)
        missingFormatDescription = 1,
        missingStreamDescription = 2,
        unsupportedSourceFormat = 3,
        unsupportedTargetFormat = 4,
        converterUnavailable = 5,
        bufferAllocationFailed = 6,
    };

    static constexpr std::string_view domain = "TovanelMacOSCapture.CaptureError";

    explicit CaptureError(Case errorCase, platform::OSStatus status = 0)
        : case_(errorCase), status_(status) {}

    Case errorCase() const { return case_; }
    int code() const { return static_cast<int>(case_); }
    platform::OSStatus status() const { return status_; }
    // The platform's generic text for an error value without a text of its own: it names the
    // domain and the code, never the status.
    std::string localizedDescription() const;

    friend bool operator==(const CaptureError&, const CaptureError&) = default;

  private:
    Case case_;
    platform::OSStatus status_;
};

// Why converting one sample buffer failed: one of ours, or the converter's own error.
using ConversionError = std::variant<CaptureError, platform::PlatformError>;

std::string localizedDescription(const ConversionError& error);

} // namespace tovanel
