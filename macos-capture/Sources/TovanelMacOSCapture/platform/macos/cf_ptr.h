// Single ownership of CoreFoundation and CoreMedia objects, which ARC does not manage: the
// pointer releases its object exactly once, and never a null one (CFRelease(NULL) crashes).
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <type_traits>

namespace tovanel::platform::macos {

struct CFReleaser {
    void operator()(CFTypeRef object) const noexcept {
        if (object != nullptr) {
            CFRelease(object);
        }
    }
};

// Owns one +1 reference (a Create/Copy result, or one taken with CFRetain).
template <class Ref>
using CFPtr = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

// Takes a reference the caller does not own (Get rule) and retains it.
template <class Ref>
CFPtr<Ref> retained(Ref object) {
    return CFPtr<Ref>(object == nullptr ? nullptr
                                        : static_cast<Ref>(const_cast<void*>(CFRetain(object))));
}

} // namespace tovanel::platform::macos
