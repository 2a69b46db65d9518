// Unicode lower-casing with the C library's case mapping.
#include "platform/portable/text.h"

#include <locale.h>
#include <wctype.h>
#ifdef __APPLE__
#include <xlocale.h> // locale_t, newlocale and towlower_l live apart from the C headers here
#endif

namespace tovanel::platform::portable {

namespace {

// The C library's UTF-8 locale carries the Unicode case tables. Made once and never freed.
locale_t unicodeLocale() {
    static const locale_t locale = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8", "UTF-8"}) {
            if (locale_t found = ::newlocale(LC_CTYPE_MASK, name, locale_t{})) {
                return found;
            }
        }
        return locale_t{};
    }();
    return locale;
}

char32_t lowercasedCodePoint(char32_t codePoint) {
    if (codePoint < 0x80) {
        return (codePoint >= 'A' && codePoint <= 'Z') ? codePoint + ('a' - 'A') : codePoint;
    }
    const locale_t locale = unicodeLocale();
    if (locale == locale_t{}) {
        return codePoint; // no Unicode tables on this system: only ASCII is mapped
    }
    return static_cast<char32_t>(::towlower_l(static_cast<wint_t>(codePoint), locale));
}

} // namespace

std::size_t decodeUtf8(std::string_view bytes, char32_t& codePoint) {
    if (bytes.empty()) {
        return 0;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    std::size_t length;
    char32_t value;
    char32_t smallest;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    codePoint = value;
    return length;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

std::string PortableText::lowercased(std::string_view utf8) {
    std::string result;
    result.reserve(utf8.size());
    while (!utf8.empty()) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(utf8, codePoint);
        if (length == 0) {
            result += utf8.front(); // not valid UTF-8: kept as it is
            utf8.remove_prefix(1);
            continue;
        }
        appendUtf8(result, lowercasedCodePoint(codePoint));
        utf8.remove_prefix(length);
    }
    return result;
}

} // namespace tovanel::platform::portable
