// Descriptions of conversion errors.
#include "pcm/capture_error.h"

namespace tovanel {

std::string CaptureError::localizedDescription() const {
    // The wording Foundation gives an error value that has no description of its own.
    return "The operation couldn\xE2\x80\x99t be completed. (" + std::string(domain) + " error " +
           std::to_string(code()) + ".)";
}

std::string localizedDescription(const ConversionError& error) {
    if (const auto* ours = std::get_if<CaptureError>(&error)) {
        return ours->localizedDescription();
    }
    return std::get<platform::PlatformError>(error).localizedDescription();
}

} // namespace tovanel
