// Mode selection from the executable's name and its arguments.
#include "launcher/launch_mode.h"

#include <algorithm>

namespace tovanel {

namespace {

// Whole, case-sensitive comparisons. The names are plain ASCII, for which the platform's
// canonical string equality is byte equality.
constexpr std::string_view kAppModeNames[] = {"PC Tovanel Sender", "Tovanel Sender"};
constexpr std::string_view kAppModeSwitch = "--app";

} // namespace

std::string_view executableFileName(std::string_view argument0) {
    const auto slash = argument0.rfind('/');
    return slash == std::string_view::npos ? argument0 : argument0.substr(slash + 1);
}

LaunchMode selectLaunchMode(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return LaunchMode::capture;
    }
    const std::string_view fileName = executableFileName(arguments.front());
    for (std::string_view name : kAppModeNames) {
        if (fileName == name) {
            return LaunchMode::app;
        }
    }
    const bool hasSwitch =
        std::any_of(arguments.begin(), arguments.end(),
                    [](const std::string& argument) { return argument == kAppModeSwitch; });
    return hasSwitch ? LaunchMode::app : LaunchMode::capture;
}

} // namespace tovanel
