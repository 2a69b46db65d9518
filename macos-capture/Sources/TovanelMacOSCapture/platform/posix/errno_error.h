// PlatformError from errno values.
#pragma once

#include "platform/platform_error.h"

#include <string>

namespace tovanel::platform::posix {

// The error of `call` failing with `errorNumber`, described as "<subject>: <strerror>"
// (or just the strerror text when `subject` is empty).
PlatformError errnoError(std::string call, int errorNumber, const std::string& subject = {});

} // namespace tovanel::platform::posix
