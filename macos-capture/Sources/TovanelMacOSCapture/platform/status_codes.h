// The platform's status type and its four-character codes: all that a file needs which only
// passes statuses or spells codes, without the audio hardware interface.
#pragma once

#include <cstdint>

namespace tovanel::platform {

using OSStatus = std::int32_t;

// The four ASCII characters packed big-endian, as the platform defines its codes.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

} // namespace tovanel::platform
