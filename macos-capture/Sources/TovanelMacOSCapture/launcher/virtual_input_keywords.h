// The process-wide list of lower-case keywords that mark an audio device name as virtual.
#pragma once

#include <array>
#include <string_view>

namespace tovanel {

// Constant-initialised, so it is complete before main runs, in both modes, before any capture
// source or supervisor exists; it has no destructor, so threads may read it while the process
// exits. Order matters: names are tested against the entries in this order.
inline constexpr std::array<std::string_view, 9> virtualInputKeywords{
    "blackhole",
    "soundflower",
    "loopback",
    "vb-cable",
    "background music",
    "aggregate",
    "multi-output",
    "multi output",
    "\xEB\x8B\xA4\xEC\xA4\x91 \xEC\xB6\x9C\xEB\xA0\xA5", // "다중 출력", Korean for multi-output
};

} // namespace tovanel
