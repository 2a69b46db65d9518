// The immediate process exit, over POSIX _exit.
#include "platform/process_exit.h"

#include <unistd.h>

#include <cstdio>

namespace tovanel::platform {

void exitWithoutCleanup(int status) {
    std::fflush(stderr);
    ::_exit(status);
}

} // namespace tovanel::platform
