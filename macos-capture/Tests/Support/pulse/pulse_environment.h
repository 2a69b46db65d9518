// The private PulseAudio server that the integration-test fixture started (see
// private-pulse and pulse_tests.cmake): where it is, and pactl, pacat and parec run against it.
#pragma once

#include "child_process.h"

#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tovanel::test {

struct SinkInfo {
    std::string name;
    std::string description;
    std::string sampleSpec; // as pactl prints it, e.g. "float32le 2ch 48000Hz"
    std::string monitorSource;
    bool muted = false;
};

// The environment variable through which CTest names the server's directory.
inline constexpr const char* kPulseDirectoryVariable = "TOVANEL_PULSE_DIR";

// CI=true (or 1): a server that cannot be had is a failure there, not a reason to skip.
bool underContinuousIntegration();

class PulseServer {
  public:
    // The server in `directory`, as `private-pulse start` left it. Throws std::runtime_error
    // with the reason when none runs there.
    static PulseServer inDirectory(const std::string& directory);
    // The server named by TOVANEL_PULSE_DIR; nothing, with the reason, when there is none.
    static std::optional<PulseServer> fromEnvironment(std::string& whyNot);

    const std::string& directory() const { return directory_; }
    // "unix:<socket>"
    std::string serverAddress() const;
    // What a client needs (PULSE_SERVER and friends; the variables a client must not inherit
    // are unset), for children and for applyToProcess.
    const EnvironmentChanges& environment() const { return environment_; }
    // Makes this process (and every child it starts) a client of this server only.
    void applyToProcess() const;

    CommandResult pactl(const std::vector<std::string>& arguments,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // pactl's standard output; throws std::runtime_error, with pactl's own error, on failure.
    std::string pactlOutput(const std::vector<std::string>& arguments) const;

    std::vector<SinkInfo> sinks() const;
    std::optional<SinkInfo> sink(const std::string& name) const;
    std::string defaultSink() const;
    std::string defaultSource() const;
    void setDefaultSink(const std::string& name) const;
    void setDefaultSource(const std::string& name) const;

    // Starts pacat playing the raw float32le stereo 48 kHz file `rawFile` into `sink`.
    std::unique_ptr<ChildProcess> startPlayback(const std::string& sink, const std::string& rawFile,
                                                const std::string& errorFile = "/dev/null") const;
    // Plays `samples` into `sink` through a raw file in `scratchDirectory` and waits until pacat
    // has drained it. Throws std::runtime_error when pacat fails or overruns its time.
    void play(const std::string& sink, std::span<const float> samples,
              const std::string& scratchDirectory) const;

    class Recording;
    // Starts parec recording `source` (e.g. "builtin.monitor") as float32le stereo at 48 kHz into
    // `rawFile`, with low latency so that the data arrives as it is played.
    std::unique_ptr<Recording> record(const std::string& source, const std::string& rawFile) const;

  private:
    PulseServer(std::string directory, EnvironmentChanges environment);

    std::string directory_;
    EnvironmentChanges environment_;
};

// A parec recording in progress. Destroying it stops parec.
class PulseServer::Recording {
  public:
    Recording(std::unique_ptr<ChildProcess> parec, std::string rawFile, std::string errorFile);

    // Waits until the first data has arrived (parec is connected and the source delivers).
    // Throws std::runtime_error when nothing arrives in time or parec has ended.
    void waitUntilStreaming(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Stops parec and returns everything recorded (whole frames). Throws std::runtime_error when
    // parec had already ended with a failure (the server went away, the source vanished).
    std::vector<float> stop();
    const std::string& rawFile() const { return rawFile_; }

  private:
    std::unique_ptr<ChildProcess> parec_;
    std::string rawFile_;
    std::string errorFile_;
};

// Saves the server's default sink and source, and puts them back when destroyed, so a test that
// changes them leaves the shared server as it found it.
class DefaultDevicesGuard {
  public:
    explicit DefaultDevicesGuard(const PulseServer& server);
    ~DefaultDevicesGuard();
    DefaultDevicesGuard(const DefaultDevicesGuard&) = delete;
    DefaultDevicesGuard& operator=(const DefaultDevicesGuard&) = delete;

  private:
    const PulseServer& server_;
    std::string sink_;
    std::string source_;
};

} // namespace tovanel::test
