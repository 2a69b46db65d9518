// Reporting a violated property on the original standard error.
#include "fuzz_check.h"

#include <unistd.h>

#include <string>

namespace tovanel::fuzz {

namespace {

// Taken while static objects are made, before libFuzzer's main can close descriptor 2.
const int originalStandardError = ::dup(STDERR_FILENO);

} // namespace

void checkFailed(const char* what, const char* file, int line) {
    const std::string message = std::string("fuzz check failed: ") + what + " (" + file + ":" +
                                std::to_string(line) + ")\n";
    const int fd = originalStandardError >= 0 ? originalStandardError : STDERR_FILENO;
    (void)!::write(fd, message.data(), message.size());
    __builtin_trap();
}

} // namespace tovanel::fuzz
