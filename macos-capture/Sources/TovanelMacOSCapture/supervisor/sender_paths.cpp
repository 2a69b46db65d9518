// Where app mode's files are.
#include "supervisor/sender_paths.h"

#include "platform/platform.h"

#include <algorithm>

namespace tovanel {

std::optional<std::string> senderExecutablePath(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments.front().empty()) {
        return std::nullopt;
    }
    platform::Files& files = platform::current().files;
    std::string path = arguments.front();
    if (path.front() != '/') {
        path = files.currentDirectory() + "/" + path;
    }
    const std::string real = files.resolvingSymlinksInPath(path);
    const auto slash = real.rfind('/');
    return real.substr(0, slash + 1) + kSenderExecutableName;
}

std::string statusFilePath(const std::string& port) {
    std::string name = "tovanel-sender-" + port + "-status.txt";
    std::replace(name.begin(), name.end(), '/', '_');
    return platform::current().files.temporaryDirectory() + "/" + name;
}

} // namespace tovanel
