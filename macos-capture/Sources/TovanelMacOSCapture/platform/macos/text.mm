// Unicode lower-casing with CFStringLowercase and no locale (the canonical, non-localised
// mapping, as NSString lowercaseString). CoreFoundation only takes valid UTF-8, so each valid run
// is lower-cased on its own and bytes that are not UTF-8 are kept as they are.
#include "platform/macos/text.h"

#include "platform/macos/cf_ptr.h"
#include "platform/macos/foundation_bridge.h"
#include "platform/portable/text.h"

namespace tovanel::platform::macos {

namespace {

// The length of the valid UTF-8 that `bytes` starts with.
std::size_t validPrefixLength(std::string_view bytes) {
    std::size_t length = 0;
    while (length < bytes.size()) {
        char32_t codePoint = 0;
        const std::size_t next = portable::decodeUtf8(bytes.substr(length), codePoint);
        if (next == 0) {
            break;
        }
        length += next;
    }
    return length;
}

std::string lowercasedValid(std::string_view utf8) {
    const CFPtr<CFStringRef> string(createCFString(utf8));
    if (!string) {
        return std::string(utf8);
    }
    const CFPtr<CFMutableStringRef> lower(
        CFStringCreateMutableCopy(kCFAllocatorDefault, 0, string.get()));
    if (!lower) {
        return std::string(utf8);
    }
    CFStringLowercase(lower.get(), nullptr);
    return utf8String(lower.get());
}

} // namespace

std::string MacText::lowercased(std::string_view utf8) {
    std::string result;
    result.reserve(utf8.size());
    while (!utf8.empty()) {
        const std::size_t valid = validPrefixLength(utf8);
        if (valid == 0) {
            result += utf8.front(); // not UTF-8: kept as it is
            utf8.remove_prefix(1);
            continue;
        }
        result += lowercasedValid(utf8.substr(0, valid));
        utf8.remove_prefix(valid);
    }
    return result;
}

} // namespace tovanel::platform::macos
