// The user's temporary directory from NSTemporaryDirectory(); everything else is POSIX.
#include "platform/macos/files.h"

#include "platform/macos/foundation_bridge.h"

#import <Foundation/Foundation.h>

namespace tovanel::platform::macos {

std::string MacFiles::temporaryDirectory() {
    std::string directory;
    @autoreleasepool { // any thread may ask, also one without a pool of its own
        directory = utf8String(NSTemporaryDirectory());
    }
    while (directory.size() > 1 && directory.back() == '/') {
        directory.pop_back();
    }
    return directory;
}

} // namespace tovanel::platform::macos
