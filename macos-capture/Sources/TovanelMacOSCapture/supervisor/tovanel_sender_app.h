// TovanelSenderApp: app mode's supervisor. It launches tovanel-sender beside the real
// executable with a pipe on its standard input, keeps the sender's status file, and feeds the
// pipe from the capture source that TOVANEL_INPUT chooses.
#pragma once

#include "input_capture/input_device_audio_capture.h"
#include "launcher/capture_source.h"
#include "platform/processes.h"
#include "screen_capture/system_audio_capture.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tovanel {

class TovanelSenderApp : public std::enable_shared_from_this<TovanelSenderApp> {
  public:
    static constexpr std::string_view launchFailurePrefix = "PC Tovanel Sender failed to start: ";
    static constexpr std::string_view statusFileWarningPrefix =
        "PC Tovanel Sender: the status file cannot be written: ";

    TovanelSenderApp() = default;
    TovanelSenderApp(const TovanelSenderApp&) = delete;
    TovanelSenderApp& operator=(const TovanelSenderApp&) = delete;

    // Prepares the status file, ends a stale sender, launches the sender, starts the capture
    // source and runs the main run loop. `arguments` is the process's whole argument vector.
    // Ends the process with status 1, running no destructor or exit handler, when the sender
    // cannot be launched.
    void start(const std::vector<std::string>& arguments);

  private:
    // Signals every sender started earlier from `senderPath` for `port`, and waits for that.
    static void terminateExistingSender(const std::string& senderPath, const std::string& port);
    void senderEnded(platform::TerminationStatus status);
    void captureFailed(const std::string& message);
    void statusReported(const std::string& line);
    // Replaces the status file's content, unless a last content was written; a failure to
    // write is ignored.
    void writeStatusFile(const std::string& content, bool last = false);
    [[noreturn]] static void failLaunch(const std::string& reason);

    std::unique_ptr<platform::ChildProcess> senderProcess;       // main thread, once
    std::shared_ptr<SystemAudioCapture> capture;                 // main thread, once
    std::shared_ptr<InputDeviceAudioCapture> inputDeviceCapture; // main thread, once
    // Set by start before anything can read it; only read afterwards, from any thread.
    std::optional<std::string> statusFileURL;
    std::mutex statusFileMutex;    // any thread: the callbacks' writes, one at a time
    bool statusFileClosed = false; // under the mutex: the failure has been written
};

} // namespace tovanel
