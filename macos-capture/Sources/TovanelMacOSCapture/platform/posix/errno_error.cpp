// PlatformError from errno values.
#include "platform/posix/errno_error.h"

#include <cstring>

namespace tovanel::platform::posix {

PlatformError errnoError(std::string call, int errorNumber, const std::string& subject) {
    std::string text = std::strerror(errorNumber);
    return PlatformError{std::move(call), errorNumber,
                         subject.empty() ? text : subject + ": " + text};
}

} // namespace tovanel::platform::posix
