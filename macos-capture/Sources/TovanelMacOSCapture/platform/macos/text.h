// Text on macOS: Unicode lower-casing with CoreFoundation's case mapping.
#pragma once

#include "platform/text.h"

namespace tovanel::platform::macos {

class MacText final : public Text {
  public:
    std::string lowercased(std::string_view utf8) override;
};

} // namespace tovanel::platform::macos
