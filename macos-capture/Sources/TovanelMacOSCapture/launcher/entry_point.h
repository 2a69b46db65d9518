// The entry point's work once the platform is installed: decide the mode and hand over to it.
#pragma once

#include <string>
#include <vector>

namespace tovanel {

// Runs the mode that `arguments` (the whole argument vector) select. Returns the process's exit
// status: 2 at once when capture mode finds its standard output on a terminal, otherwise only if
// the main run loop returns.
int runEntryPoint(const std::vector<std::string>& arguments);

} // namespace tovanel
