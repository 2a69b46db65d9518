// What both capture sources share: the callback type, the failure path, the started banner and
// status reporting that builds no line when nobody listens.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tovanel {

// One text line without a trailing newline. An empty callback is "absent": capture mode gives
// none, and then status lines are not even built.
using MessageCallback = std::function<void(const std::string& line)>;

// Ends the process for an unrecoverable capture error: writes prefix + message + "\n" to
// standard error with one fputs, hands the bare message to onFailure (when present) on this
// thread, then ends the process with status 1 without running destructors or exit handlers:
// it is called from the platform's threads while others still run.
[[noreturn]] void failCaptureSource(std::string_view prefix, const std::string& message,
                                    const MessageCallback& onFailure);

// Writes a source's started banner (which ends in "\n") to standard error with one fputs,
// directly, never through onStatus.
void writeStartedBanner(std::string_view banner);

// Calls onStatus with the line that `buildLine` makes, or does nothing, without building the
// line, when onStatus is absent.
template <class BuildLine>
void reportStatus(const MessageCallback& onStatus, BuildLine&& buildLine) {
    if (onStatus) {
        onStatus(buildLine());
    }
}

} // namespace tovanel
