// The checks inside the fuzz targets: a violated property is reported and trapped, so libFuzzer
// records the input as a crash and keeps it.
#pragma once

namespace tovanel::fuzz {

// Writes "fuzz check failed: <what> (<file>:<line>)" to the standard error the process started
// with, then traps. That descriptor is duplicated before libFuzzer runs, so the line still shows
// when -close_fd_mask=2 has pointed descriptor 2 at /dev/null.
[[noreturn]] void checkFailed(const char* what, const char* file, int line);

} // namespace tovanel::fuzz

#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? static_cast<void>(0)                                                            \
                 : ::tovanel::fuzz::checkFailed(#condition, __FILE__, __LINE__))
