// Process entry: installs the platform, then hands the argument vector to the launcher.
#include "launcher/entry_point.h"
#include "platform/platform.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    tovanel::platform::installNativePlatform();
    return tovanel::runEntryPoint(std::vector<std::string>(argv, argv + argc));
}
