// The failure path and banner shared by both capture sources.
#include "launcher/capture_source.h"

#include "platform/platform.h"

#include <cstdio>

namespace tovanel {

void failCaptureSource(std::string_view prefix, const std::string& message,
                       const MessageCallback& onFailure) {
    std::string line;
    line.reserve(prefix.size() + message.size() + 1);
    line.append(prefix).append(message).append("\n");
    std::fputs(line.c_str(), stderr);
    if (onFailure) {
        onFailure(message);
    }
    platform::current().processes.exitWithoutCleanup(1);
}

void writeStartedBanner(std::string_view banner) {
    const std::string line(banner);
    std::fputs(line.c_str(), stderr);
}

} // namespace tovanel
