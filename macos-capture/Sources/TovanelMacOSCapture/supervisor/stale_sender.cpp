// The stale-sender pattern.
#include "supervisor/stale_sender.h"

#include <string_view>

namespace tovanel {

namespace {

std::string escapedForExtendedRegex(const std::string& text) {
    static constexpr std::string_view metacharacters = ".[]()*+?{}|^$\\";
    std::string escaped;
    for (char c : text) {
        if (metacharacters.find(c) != std::string_view::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

} // namespace

std::string staleSenderPattern(const std::string& senderPath, const std::string& port) {
    return escapedForExtendedRegex(senderPath) + ".*--port " + port + "( |$)";
}

} // namespace tovanel
