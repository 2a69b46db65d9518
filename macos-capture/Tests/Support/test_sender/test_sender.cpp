// A stand-in for tovanel-sender in app-mode tests (tests copy it beside the program under the
// name "tovanel-sender"). It records its command line and everything that arrives on its
// standard input, greets on its standard output and error, and exits when and how the test
// asks, or stays alive to be found as a stale sender.
//
// Environment (inherited through the program under test):
//   TOVANEL_TEST_SENDER_DIR          where to record: <dir>/sender-<pid>.args (one argument per
//                                    line), <dir>/sender-<pid>.status (the status file's content
//                                    when it started), <dir>/sender-<pid>.stdin, and
//                                    <dir>/sender-<pid>.end ("eof", "exit N" or "signal N")
//   TOVANEL_TEST_SENDER_EXIT_STATUS  exit with this status (default 0)
//   TOVANEL_TEST_SENDER_EXIT_AFTER   exit after this many bytes of input (0: at once; default:
//                                    at the end of the input)
//   TOVANEL_TEST_SENDER_STAY         "1": after the input ends, stay alive until signalled
//   TOVANEL_TEST_SENDER_KEEP_READING "1": when exiting early, leave a child behind that goes on
//                                    reading the input, so the writer keeps its reader
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace {

std::string recordPath(const char* what) {
    const char* dir = std::getenv("TOVANEL_TEST_SENDER_DIR");
    if (dir == nullptr) {
        return {};
    }
    return std::string(dir) + "/sender-" + std::to_string(::getpid()) + "." + what;
}

void record(const char* what, const std::string& text) {
    const std::string path = recordPath(what);
    if (!path.empty()) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
}

std::optional<long long> number(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::atoll(value);
}

volatile sig_atomic_t signalled = 0;

void onSignal(int number) {
    signalled = number;
}

// Reads and drops the input until its end, in a child of its own.
void leaveAReaderBehind() {
    const char* keep = std::getenv("TOVANEL_TEST_SENDER_KEEP_READING");
    if (keep == nullptr || std::string(keep) != "1" || ::fork() != 0) {
        return;
    }
    char chunk[65536];
    while (::read(STDIN_FILENO, chunk, sizeof chunk) > 0) {
    }
    ::_exit(0);
}

[[noreturn]] void end(int status) {
    record("end", "exit " + std::to_string(status));
    leaveAReaderBehind();
    std::exit(status);
}

} // namespace

int main(int argc, char** argv) {
    std::string arguments;
    for (int i = 0; i < argc; ++i) {
        arguments += std::string(argv[i]) + "\n";
    }
    record("args", arguments);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--status-file") {
            std::ifstream status(argv[i + 1], std::ios::binary);
            record("status", status ? std::string(std::istreambuf_iterator<char>(status), {})
                                    : std::string("<missing>"));
        }
    }
    std::fputs("tovanel-sender stdout\n", stdout);
    std::fflush(stdout);
    std::fputs("tovanel-sender stderr\n", stderr);

    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigaction(SIGTERM, &action, nullptr);

    const int status = static_cast<int>(number("TOVANEL_TEST_SENDER_EXIT_STATUS").value_or(0));
    const auto exitAfter = number("TOVANEL_TEST_SENDER_EXIT_AFTER");
    if (exitAfter && *exitAfter == 0) {
        end(status);
    }
    std::ofstream input(recordPath("stdin"), std::ios::binary | std::ios::trunc);
    long long total = 0;
    char chunk[65536];
    for (;;) {
        if (signalled != 0) {
            break;
        }
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        input.write(chunk, got);
        input.flush();
        total += got;
        if (exitAfter && total >= *exitAfter) {
            end(status);
        }
    }
    if (signalled == 0) {
        record("end", "eof");
        if (std::getenv("TOVANEL_TEST_SENDER_STAY") != nullptr &&
            std::string(std::getenv("TOVANEL_TEST_SENDER_STAY")) == "1") {
            while (signalled == 0) {
                ::pause();
            }
        }
    }
    if (signalled != 0) {
        record("end", "signal " + std::to_string(signalled));
        ::signal(SIGTERM, SIG_DFL);
        ::raise(SIGTERM);
    }
    return status;
}
