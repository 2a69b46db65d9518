// Runs a built executable the way a user or a parent process would, with an exact argument
// vector (element 0 included), and collects what it wrote and how it ended.
#pragma once

#include <string>
#include <vector>

namespace tovanel::test {

struct ExecutableRun {
    int exitStatus = -1; // exit code, or 128 + the signal that ended it
    bool endedBySignal = false;
    std::string standardOutput;
    std::string standardError;
};

// Runs `executable` with `argv`, standard output and error collected through files in
// `scratchDirectory`, and waits for it to end.
ExecutableRun runExecutable(const std::string& executable, const std::vector<std::string>& argv,
                            const std::string& scratchDirectory);

} // namespace tovanel::test
