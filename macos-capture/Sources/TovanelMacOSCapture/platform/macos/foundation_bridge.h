// Conversions between Foundation / CoreFoundation values and ours: strings as UTF-8 and errors
// as PlatformError values. Objective-C++ (ARC) only.
#pragma once

#import <Foundation/Foundation.h>

#if !__has_feature(objc_arc)
#error "platform/macos/foundation_bridge.h is for Objective-C++ compiled with -fobjc-arc"
#endif

#include "platform/platform_error.h"

#include <string>
#include <string_view>

namespace tovanel::platform::macos {

// The string's UTF-8 bytes; a character UTF-8 cannot carry (a lone surrogate) becomes '?'.
std::string utf8String(CFStringRef string);
std::string utf8String(NSString* string);

// A new string from UTF-8 bytes, or null when they are not valid UTF-8. Every character is
// kept, a leading U+FEFF included.
CFStringRef createCFString(std::string_view utf8); // +1, the caller releases

// `error` as a value: the call that reported it, its code and its localizedDescription. With
// no NSError to go by, the description says that the call failed without one.
PlatformError platformError(const char* call, NSError* error);

} // namespace tovanel::platform::macos
