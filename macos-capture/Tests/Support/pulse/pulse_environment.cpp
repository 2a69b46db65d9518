// The private server's environment file, and pactl, pacat and parec run against it.
#include "pulse_environment.h"

#include "signals/raw_pcm.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tovanel::test {
namespace {

const std::vector<std::string> kStreamFormat = {"--raw", "--format=float32le", "--rate=48000",
                                                "--channels=2"};

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return "";
    }
    const auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return trimmed(line);
}

// The file private-pulse writes: "export NAME='value'" and "unset NAME..." lines only.
EnvironmentChanges readEnvironmentFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    EnvironmentChanges changes;
    std::string line;
    while (std::getline(in, line)) {
        if (trimmed(line).empty()) {
            continue;
        }
        if (line.rfind("export ", 0) == 0) {
            const auto equals = line.find('=');
            const auto open = line.find('\'', equals);
            const auto close = line.rfind('\'');
            if (equals == std::string::npos || open != equals + 1 || close <= open ||
                close != line.size() - 1) {
                throw std::runtime_error(path + ": unexpected line: " + line);
            }
            changes[line.substr(7, equals - 7)] = line.substr(open + 1, close - open - 1);
        } else if (line.rfind("unset ", 0) == 0) {
            std::istringstream names(line.substr(6));
            std::string name;
            while (names >> name) {
                changes[name] = std::nullopt;
            }
        } else {
            throw std::runtime_error(path + ": unexpected line: " + line);
        }
    }
    if (!changes.count("PULSE_SERVER") || !changes.at("PULSE_SERVER")) {
        throw std::runtime_error(path + " names no PULSE_SERVER");
    }
    return changes;
}

std::string describeFailure(const std::vector<std::string>& argv, const CommandResult& result) {
    std::string command;
    for (const auto& argument : argv) {
        command += (command.empty() ? "" : " ") + argument;
    }
    return command +
           (result.timedOut ? " timed out"
                            : " failed with status " + std::to_string(result.exitStatus)) +
           ": " + trimmed(result.standardError);
}

} // namespace

bool underContinuousIntegration() {
    const char* value = std::getenv("CI");
    if (value == nullptr) {
        return false;
    }
    const std::string text = value;
    return text == "true" || text == "TRUE" || text == "True" || text == "1";
}

PulseServer::PulseServer(std::string directory, EnvironmentChanges environment)
    : directory_(std::move(directory)), environment_(std::move(environment)) {}

PulseServer PulseServer::inDirectory(const std::string& directory) {
    const std::string envFile = directory + "/env";
    if (!isFile(envFile)) {
        const std::string unavailable = directory + "/unavailable";
        if (isFile(unavailable)) {
            throw std::runtime_error("the private PulseAudio server could not start: " +
                                     firstLine(unavailable));
        }
        throw std::runtime_error("no private PulseAudio server runs in " + directory);
    }
    PulseServer server(directory, readEnvironmentFile(envFile));
    const CommandResult info = server.pactl({"info"}, std::chrono::seconds(3));
    if (!info.ok()) {
        throw std::runtime_error("the private PulseAudio server in " + directory +
                                 " does not answer: " + describeFailure({"pactl", "info"}, info));
    }
    return server;
}

std::optional<PulseServer> PulseServer::fromEnvironment(std::string& whyNot) {
    const char* directory = std::getenv(kPulseDirectoryVariable);
    if (directory == nullptr || *directory == '\0') {
        whyNot = std::string(kPulseDirectoryVariable) +
                 " is not set: run this test through ctest, which starts the private server";
        return std::nullopt;
    }
    try {
        return inDirectory(directory);
    } catch (const std::exception& error) {
        whyNot = error.what();
        return std::nullopt;
    }
}

std::string PulseServer::serverAddress() const {
    return *environment_.at("PULSE_SERVER");
}

void PulseServer::applyToProcess() const {
    for (const auto& [name, value] : environment_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
}

CommandResult PulseServer::pactl(const std::vector<std::string>& arguments,
                                 std::chrono::milliseconds timeout) const {
    std::vector<std::string> argv = {"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    EnvironmentChanges environment = environment_;
    environment["LC_ALL"] = "C"; // the listings are parsed by their English field names
    return runCommand(argv, environment, timeout);
}

std::string PulseServer::pactlOutput(const std::vector<std::string>& arguments) const {
    const CommandResult result = pactl(arguments);
    if (!result.ok()) {
        std::vector<std::string> argv = {"pactl"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        throw std::runtime_error(describeFailure(argv, result));
    }
    return result.standardOutput;
}

std::vector<SinkInfo> PulseServer::sinks() const {
    std::istringstream listing(pactlOutput({"list", "sinks"}));
    std::vector<SinkInfo> sinks;
    std::string line;
    const auto field = [&](const std::string& name) -> std::optional<std::string> {
        const std::string text = trimmed(line);
        if (text.rfind(name + ": ", 0) == 0) {
            return text.substr(name.size() + 2);
        }
        return std::nullopt;
    };
    while (std::getline(listing, line)) {
        if (line.rfind("Sink #", 0) == 0) {
            sinks.emplace_back();
        } else if (sinks.empty()) {
            continue;
        } else if (const auto name = field("Name")) {
            sinks.back().name = *name;
        } else if (const auto description = field("Description")) {
            sinks.back().description = *description;
        } else if (const std::string text = trimmed(line); text.rfind("Sample Spec", 0) == 0) {
            // pactl's label for the sink's sample format, e.g. "float32le 2ch 48000Hz"
            sinks.back().sampleSpec = text.substr(text.find(": ") + 2);
        } else if (const auto monitor = field("Monitor Source")) {
            sinks.back().monitorSource = *monitor;
        } else if (const auto mute = field("Mute")) {
            sinks.back().muted = *mute == "yes";
        }
    }
    return sinks;
}

std::optional<SinkInfo> PulseServer::sink(const std::string& name) const {
    for (auto& sink : sinks()) {
        if (sink.name == name) {
            return sink;
        }
    }
    return std::nullopt;
}

std::string PulseServer::defaultSink() const {
    return trimmed(pactlOutput({"get-default-sink"}));
}

std::string PulseServer::defaultSource() const {
    return trimmed(pactlOutput({"get-default-source"}));
}

void PulseServer::setDefaultSink(const std::string& name) const {
    pactlOutput({"set-default-sink", name});
}

void PulseServer::setDefaultSource(const std::string& name) const {
    pactlOutput({"set-default-source", name});
}

std::unique_ptr<ChildProcess> PulseServer::startPlayback(const std::string& sink,
                                                         const std::string& rawFile,
                                                         const std::string& errorFile) const {
    ChildOptions options;
    options.argv = {"pacat", "--playback", "--device=" + sink};
    options.argv.insert(options.argv.end(), kStreamFormat.begin(), kStreamFormat.end());
    options.environment = environment_;
    options.standardInput = rawFile;
    options.standardError = errorFile;
    return std::make_unique<ChildProcess>(options);
}

void PulseServer::play(const std::string& sink, std::span<const float> samples,
                       const std::string& scratchDirectory) const {
    static std::atomic<int> counter{0};
    const std::string stem = scratchDirectory + "/playback-" + std::to_string(++counter);
    signals::writeRawPcmFile(stem + ".raw", samples);
    const auto pacat = startPlayback(sink, stem + ".raw", stem + ".err");
    const auto seconds = samples.size() / 2 / 48000;
    const auto status = pacat->waitFor(std::chrono::seconds(seconds + 10));
    if (!status) {
        throw std::runtime_error("pacat did not finish playing into " + sink + " in time");
    }
    if (*status != 0) {
        throw std::runtime_error("pacat failed playing into " + sink + " with status " +
                                 std::to_string(*status) + ": " + firstLine(stem + ".err"));
    }
}

std::unique_ptr<PulseServer::Recording> PulseServer::record(const std::string& source,
                                                            const std::string& rawFile) const {
    ChildOptions options;
    options.argv = {"parec", "--device=" + source, "--latency-msec=20"};
    options.argv.insert(options.argv.end(), kStreamFormat.begin(), kStreamFormat.end());
    options.environment = environment_;
    options.standardOutput = rawFile;
    options.standardError = rawFile + ".err";
    return std::make_unique<Recording>(std::make_unique<ChildProcess>(options), rawFile,
                                       rawFile + ".err");
}

PulseServer::Recording::Recording(std::unique_ptr<ChildProcess> parec, std::string rawFile,
                                  std::string errorFile)
    : parec_(std::move(parec)), rawFile_(std::move(rawFile)), errorFile_(std::move(errorFile)) {}

void PulseServer::Recording::waitUntilStreaming(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        struct stat info {};
        if (::stat(rawFile_.c_str(), &info) == 0 && info.st_size > 0) {
            return;
        }
        if (!parec_->running()) {
            throw std::runtime_error("parec ended before recording anything: " +
                                     firstLine(errorFile_));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw std::runtime_error("parec recorded nothing in time: " + firstLine(errorFile_));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<float> PulseServer::Recording::stop() {
    if (!parec_->running()) {
        const int status = *parec_->waitFor(std::chrono::milliseconds(0));
        if (status != 0) {
            throw std::runtime_error("parec ended early with status " + std::to_string(status) +
                                     ": " + firstLine(errorFile_));
        }
    }
    parec_->stop(SIGINT);
    return signals::readRawPcmFile(rawFile_).samples;
}

DefaultDevicesGuard::DefaultDevicesGuard(const PulseServer& server)
    : server_(server), sink_(server.defaultSink()), source_(server.defaultSource()) {}

DefaultDevicesGuard::~DefaultDevicesGuard() {
    try {
        server_.setDefaultSink(sink_);
        server_.setDefaultSource(source_);
    } catch (const std::exception& error) {
        // A destructor cannot fail the test; say so where the test's output is.
        std::fprintf(stderr, "could not restore the default sink %s and source %s: %s\n",
                     sink_.c_str(), source_.c_str(), error.what());
    }
}

} // namespace tovanel::test
