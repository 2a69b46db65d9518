// Conversions between Foundation / CoreFoundation values and ours.
#include "platform/macos/foundation_bridge.h"

#include "platform/macos/cf_ptr.h"

namespace tovanel::platform::macos {

std::string utf8String(CFStringRef string) {
    if (string == nullptr) {
        return {};
    }
    const CFRange whole = CFRangeMake(0, CFStringGetLength(string));
    CFIndex byteCount = 0;
    CFStringGetBytes(string, whole, kCFStringEncodingUTF8, '?', false, nullptr, 0, &byteCount);
    std::string bytes(static_cast<std::size_t>(byteCount), '\0');
    CFIndex written = 0;
    CFStringGetBytes(string, whole, kCFStringEncodingUTF8, '?', false,
                     reinterpret_cast<UInt8*>(bytes.data()), byteCount, &written);
    bytes.resize(static_cast<std::size_t>(written));
    return bytes;
}

std::string utf8String(NSString* string) { return utf8String((__bridge CFStringRef)string); }

CFStringRef createCFString(std::string_view utf8) {
    // CFStringCreateWithBytes takes a leading U+FEFF in UTF-8 for a byte-order mark and drops
    // it, even for bytes that are not an external representation, so a name or a UID that
    // starts with one would come back changed. The leading ones are set aside and put back.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    CFIndex leadingMarks = 0;
    while (utf8.starts_with(kByteOrderMark)) {
        utf8.remove_prefix(kByteOrderMark.size());
        ++leadingMarks;
    }
    CFPtr<CFStringRef> rest(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                                static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
    if (!rest || leadingMarks == 0) {
        return rest.release();
    }
    CFMutableStringRef whole = CFStringCreateMutable(kCFAllocatorDefault, 0);
    if (whole == nullptr) {
        return nullptr;
    }
    const UniChar mark = 0xFEFF;
    for (CFIndex i = 0; i < leadingMarks; ++i) {
        CFStringAppendCharacters(whole, &mark, 1);
    }
    CFStringAppend(whole, rest.get());
    return whole;
}

PlatformError platformError(const char* call, NSError* error) {
    if (error == nil) {
        return PlatformError{call, 0, std::string(call) + " failed without an error"};
    }
    return PlatformError{call, static_cast<std::int64_t>(error.code),
                         utf8String(error.localizedDescription)};
}

} // namespace tovanel::platform::macos
