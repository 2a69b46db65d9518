// Ending the process for a failure found on any thread, while other threads still run.
#pragma once

namespace tovanel::platform {

// Flushes standard error, then ends the process with `status` at once: no static destructor and
// no exit handler runs. Other threads, ours and the frameworks', may still be using those objects,
// and a destructor pulled from under one turns the caller's status into a crash report.
[[noreturn]] void exitWithoutCleanup(int status);

} // namespace tovanel::platform
