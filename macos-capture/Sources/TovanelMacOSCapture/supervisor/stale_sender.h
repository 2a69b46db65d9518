// Finding a sender left running by an earlier start for the same executable and port.
#pragma once

#include <string>

namespace tovanel {

// The extended regular expression pkill -f matches against whole command lines: the sender's
// path, literally (every metacharacter escaped, so "." or "+" in a folder name matches only
// itself and never makes the expression invalid), then anything, then "--port " and the port,
// which must end there (a space or the end of the line), so port 4810 never matches a sender
// serving 48100.
std::string staleSenderPattern(const std::string& senderPath, const std::string& port);

} // namespace tovanel
