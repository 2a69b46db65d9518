// Text off Apple: Unicode lower-casing through the C library's wide-character case mapping in
// its built-in UTF-8 locale.
#pragma once

#include "platform/text.h"

namespace tovanel::platform::portable {

class PortableText : public Text {
  public:
    std::string lowercased(std::string_view utf8) override;
};

// Decodes the UTF-8 sequence at the start of `bytes`. Returns the number of bytes it takes and
// stores the code point, or returns 0 when the sequence is invalid (truncated, overlong, a
// surrogate, or beyond U+10FFFF).
std::size_t decodeUtf8(std::string_view bytes, char32_t& codePoint);
void appendUtf8(std::string& out, char32_t codePoint);

} // namespace tovanel::platform::portable
