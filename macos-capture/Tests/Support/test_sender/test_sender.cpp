// tovanel-test-sender: a stand-in for tovanel-sender in tests. It greets with one line on each
// output and records into $TOVANEL_TEST_SENDER_DIR, each record complete before anyone can see
// it: sender-<pid>.args (argv, a line each), .status (the status file's content at its start, or
// "<missing>"), .stdin (every byte read) and .end ("eof", "exit N" or "signal N"). Knobs:
// TOVANEL_TEST_SENDER_EXIT_STATUS (default 0), TOVANEL_TEST_SENDER_EXIT_AFTER (exit after this
// many input bytes; 0: at once), TOVANEL_TEST_SENDER_STAY=1 (after end of input, stay until
// signalled).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

volatile sig_atomic_t signalled = 0;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Written under a temporary name beside the record, then renamed into place.
void record(const char* what, const std::string& text) {
    const std::string directory = environment("TOVANEL_TEST_SENDER_DIR");
    if (directory.empty()) {
        return;
    }
    const std::string path = directory + "/sender-" + std::to_string(::getpid()) + "." + what;
    std::ofstream(path + ".partial", std::ios::binary) << text;
    std::rename((path + ".partial").c_str(), path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::string arguments, status = "<missing>";
    for (int i = 0; i < argc; ++i) {
        arguments += std::string(argv[i]) + "\n";
        std::ifstream file(i > 0 && std::string(argv[i - 1]) == "--status-file" ? argv[i] : "");
        status = file ? std::string(std::istreambuf_iterator<char>(file), {}) : status;
    }
    record("args", arguments);
    record("status", status);
    // SIGTERM interrupts the read and is recorded; it is held back around the wait of STAY.
    struct sigaction action {};
    action.sa_handler = [](int number) { signalled = number; };
    ::sigaction(SIGTERM, &action, nullptr);
    std::printf("tovanel-test-sender %d: hello on standard output\n", ::getpid());
    std::fflush(stdout);
    std::fprintf(stderr, "tovanel-test-sender %d: hello on standard error\n", ::getpid());

    const std::string after = environment("TOVANEL_TEST_SENDER_EXIT_AFTER");
    const std::size_t limit = after.empty() ? SIZE_MAX : std::stoull(after);
    std::string input;
    char chunk[65536];
    ssize_t got = 1;
    while (signalled == 0 && got != 0 && input.size() < limit) {
        got = ::read(STDIN_FILENO, chunk, std::min(sizeof chunk, limit - input.size()));
        input.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
        got = got < 0 && errno != EINTR ? 0 : got;
    }
    record("stdin", input);
    const int exitStatus = std::atoi(environment("TOVANEL_TEST_SENDER_EXIT_STATUS").c_str());
    if (signalled == 0 && input.size() >= limit) {
        record("end", "exit " + std::to_string(exitStatus));
        return exitStatus;
    }
    sigset_t term, others;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &term, &others);
    if (signalled == 0) {
        record("end", "eof");
        while (signalled == 0 && environment("TOVANEL_TEST_SENDER_STAY") == "1") {
            ::sigsuspend(&others);
        }
    }
    if (signalled != 0) {
        record("end", "signal " + std::to_string(signalled));
        ::signal(SIGTERM, SIG_DFL);
        ::sigprocmask(SIG_UNBLOCK, &term, nullptr);
        ::raise(SIGTERM);
    }
    return exitStatus;
}
