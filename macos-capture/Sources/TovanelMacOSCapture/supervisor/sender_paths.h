// Where app mode's files are: the sender beside the real executable, and the status file in the
// temporary directory.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tovanel {

inline constexpr const char* kSenderExecutableName = "tovanel-sender";

// "tovanel-sender" in the directory of the real executable: argument 0, made absolute against
// the current directory when relative, with every symlink resolved. None when there is no
// argument 0 to go by.
std::optional<std::string> senderExecutablePath(const std::vector<std::string>& arguments);

// The status file for `port`: "tovanel-sender-" + port + "-status.txt" in the temporary
// directory. A "/" in the port would reach outside that directory, so in the file name (and
// only there) it becomes "_".
std::string statusFilePath(const std::string& port);

} // namespace tovanel
