// Text services that differ between platforms: Unicode lower-casing.
//
// Every backend must:
//   - lower-case with the platform's Unicode case mapping, not ASCII only;
//   - accept any bytes: invalid UTF-8 is kept as it is, never a crash or an exception;
//   - be callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace tovanel::platform {

class Text {
  public:
    virtual ~Text() = default;
    virtual std::string lowercased(std::string_view utf8) = 0;
};

} // namespace tovanel::platform
