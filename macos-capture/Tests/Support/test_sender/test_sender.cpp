// tovanel-test-sender: a stand-in for tovanel-sender in tests. It greets on both outputs, records
// what it saw into $TOVANEL_TEST_SENDER_DIR and ends as the TOVANEL_TEST_SENDER_* knobs say.
#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

static std::string input;
static sigset_t term, open;

static std::string env(const char* name, const std::string& fallback = "") {
    return std::getenv(name) != nullptr ? std::getenv(name) : fallback;
}

// Complete before anyone can see it: written under a temporary name beside it, then renamed.
static void record(const char* what, const std::string& text) {
    const std::string path =
        env("TOVANEL_TEST_SENDER_DIR") + "/sender-" + std::to_string(getpid()) + "." + what;
    std::ofstream(path + ".partial", std::ios::binary) << text;
    std::rename((path + ".partial").c_str(), path.c_str());
}

int main(int argc, char** argv) {
    std::string arguments, status = "<missing>";
    for (int i = 0; i < argc; ++i) {
        arguments += std::string(argv[i]) + "\n";
    }
    const auto flag = std::find(argv, argv + argc, std::string("--status-file"));
    std::getline(std::ifstream(flag + 1 < argv + argc ? flag[1] : ""), status, '\0'); // or none
    record("args", arguments);
    record("status", status);
    // SIGTERM gets in only while pselect or sigsuspend waits, so its handler may do anything.
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, &open);
    ::signal(SIGTERM, [](int number) {
        record("stdin", input);
        record("end", "signal " + std::to_string(number));
        ::signal(number, SIG_DFL);
        sigprocmask(SIG_UNBLOCK, &term, nullptr);
        raise(number);
    });
    dprintf(STDOUT_FILENO, "tovanel-test-sender %d: hello on standard output\n", getpid());
    dprintf(STDERR_FILENO, "tovanel-test-sender %d: hello on standard error\n", getpid());

    const auto limit = std::stoull(env("TOVANEL_TEST_SENDER_EXIT_AFTER", std::to_string(SIZE_MAX)));
    char chunk[65536];
    fd_set in{};
    for (ssize_t got = 1; got > 0 && input.size() < limit;
         input.append(chunk, std::max<ssize_t>(got, 0))) {
        FD_SET(STDIN_FILENO, &in);
        pselect(1, &in, nullptr, nullptr, nullptr, &open);
        got = read(STDIN_FILENO, chunk, std::min<std::size_t>(sizeof chunk, limit - input.size()));
    }
    record("stdin", input);
    record("end", input.size() < limit ? "eof" : "exit 0");
    while (input.size() < limit && env("TOVANEL_TEST_SENDER_STAY") == "1") {
        sigsuspend(&open);
    }
    return 0;
}
