// Which mode the process runs in, decided once from the executable's name and its arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovanel {

enum class LaunchMode {
    capture, // PCM on standard output, no status lines
    app,     // the supervisor launches tovanel-sender and feeds it through a pipe
};

// The part of `argument0` after its last "/", or all of it when it holds none. Symlinks are not
// resolved: the name the executable was started under is what counts.
std::string_view executableFileName(std::string_view argument0);

// App mode when the executable's file name is "PC Tovanel Sender" or "Tovanel Sender", or when
// any argument, element 0 included, is "--app"; capture mode otherwise, also for an empty vector.
LaunchMode selectLaunchMode(const std::vector<std::string>& arguments);

} // namespace tovanel
