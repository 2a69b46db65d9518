// TovanelSenderApp: configuration, the sender's launch and lifecycle, the status file.
#include "supervisor/tovanel_sender_app.h"

#include "platform/platform.h"
#include "supervisor/sender_paths.h"
#include "supervisor/stale_sender.h"

#include <cstdio>
#include <cstdlib>

namespace tovanel {

namespace {

constexpr const char* kPkillPath = "/usr/bin/pkill";

// The value of `name`, verbatim (also when empty), or `fallback` when it is not set.
std::string environmentValue(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string(fallback);
}

} // namespace

void TovanelSenderApp::start(const std::vector<std::string>& arguments) {
    const platform::Platform& platform = platform::current();
    const std::string port = environmentValue("TOVANEL_PORT", "48100");
    const std::string input = environmentValue("TOVANEL_INPUT", "screen");

    statusFileURL = statusFilePath(port);
    // Start-up goes on without the file, but the sender will see no status: say so once, since
    // only the user can mend it (a missing temporary directory, a port too long for a name).
    if (const auto failure = platform.files.replaceFileAtomically(*statusFileURL, "")) {
        const std::string line =
            std::string(statusFileWarningPrefix) + failure->localizedDescription() + "\n";
        std::fputs(line.c_str(), stderr);
    }

    const auto senderPath = senderExecutablePath(arguments);
    if (!senderPath) {
        failLaunch("the program's own path is unknown (argument 0 is missing or empty)");
    }
    auto pipe = platform.processes.makePipe();
    if (!pipe.ok()) {
        failLaunch(pipe.error().localizedDescription());
    }
    terminateExistingSender(*senderPath, port);

    platform::LaunchRequest request;
    request.executable = *senderPath;
    request.arguments = {"--port", port, "--input", "stdin", "--status-file", *statusFileURL};
    request.standardInput = pipe.value().get();
    request.standardOutput = platform::ChildOutput::ourStandardError;
    request.standardError = platform::ChildOutput::ourStandardError;
    request.terminationHandler = [weak = weak_from_this()](platform::TerminationStatus status) {
        if (const auto self = weak.lock()) {
            self->senderEnded(status);
        }
    };
    auto launched = platform.processes.launch(std::move(request));
    if (!launched.ok()) {
        failLaunch(launched.error().localizedDescription());
    }
    senderProcess = std::move(launched.value());

    const auto output = pipe.value()->writingEnd();
    MessageCallback onFailure = [weak = weak_from_this()](const std::string& message) {
        if (const auto self = weak.lock()) {
            self->captureFailed(message);
        }
    };
    MessageCallback onStatus = [weak = weak_from_this()](const std::string& line) {
        if (const auto self = weak.lock()) {
            self->statusReported(line);
        }
    };
    if (input == "device") {
        inputDeviceCapture = std::make_shared<InputDeviceAudioCapture>(output, onFailure, onStatus);
        inputDeviceCapture->start();
    } else {
        capture = std::make_shared<SystemAudioCapture>(output, onFailure, onStatus);
        capture->start();
    }
    platform.dispatch.runMainLoop();
}

void TovanelSenderApp::terminateExistingSender(const std::string& senderPath,
                                               const std::string& port) {
    platform::LaunchRequest request;
    request.executable = kPkillPath;
    request.arguments = {"-f", staleSenderPattern(senderPath, port)};
    auto launched = platform::current().processes.launch(std::move(request));
    if (launched.ok()) {
        (void)launched.value()->waitUntilExit(); // its verdict does not matter, only that it ran
    }
}

// A sender ended by a signal records the signal's number, as the platform reports it.
void TovanelSenderApp::senderEnded(platform::TerminationStatus status) {
    if (status.status == 0) {
        return;
    }
    writeStatusFile("tovanel-sender exited: " + std::to_string(status.status));
}

void TovanelSenderApp::captureFailed(const std::string& message) {
    writeStatusFile("macOS capture failed: " + message, true);
}

void TovanelSenderApp::statusReported(const std::string& line) {
    writeStatusFile(line);
}

// The callbacks come from several threads at once. One write at a time, in the order they take
// the lock, and nothing after the failure: a status tick still in flight must not bury it.
void TovanelSenderApp::writeStatusFile(const std::string& content, bool last) {
    std::lock_guard lock(statusFileMutex);
    if (!statusFileURL || statusFileClosed) {
        return;
    }
    statusFileClosed = last;
    (void)platform::current().files.replaceFileAtomically(*statusFileURL, content);
}

void TovanelSenderApp::failLaunch(const std::string& reason) {
    const std::string line = std::string(launchFailurePrefix) + reason + "\n";
    std::fputs(line.c_str(), stderr);
    platform::current().processes.exitWithoutCleanup(1);
}

} // namespace tovanel
