// Files on macOS: the POSIX implementation, with the user's temporary directory as Foundation
// reports it.
#pragma once

#include "platform/posix/files.h"

namespace tovanel::platform::macos {

class MacFiles final : public posix::PosixFiles {
  public:
    // NSTemporaryDirectory(), without its trailing slash.
    std::string temporaryDirectory() override;
};

} // namespace tovanel::platform::macos
