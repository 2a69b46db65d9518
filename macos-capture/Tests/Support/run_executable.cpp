// Running a built executable with an exact argument vector.
#include "run_executable.h"

#include "test_directory.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace tovanel::test {

ExecutableRun runExecutable(const std::string& executable, const std::vector<std::string>& argv,
                            const std::string& scratchDirectory) {
    const std::string out = scratchDirectory + "/stdout";
    const std::string err = scratchDirectory + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> raw;
    for (const auto& argument : argv) {
        raw.push_back(const_cast<char*>(argument.c_str()));
    }
    raw.push_back(nullptr);
    pid_t pid = 0;
    ExecutableRun result;
    if (posix_spawn(&pid, executable.c_str(), &actions, nullptr, raw.data(), environ) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.endedBySignal = WIFSIGNALED(status);
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.standardOutput = readFile(out);
    result.standardError = readFile(err);
    return result;
}

} // namespace tovanel::test
