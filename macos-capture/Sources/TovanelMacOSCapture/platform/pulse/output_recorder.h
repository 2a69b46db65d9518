// The record streams behind the capture of the computer's output: subscribes to the server's
// changes, reads its defaults and sinks, opens, swaps and closes record streams on sinks'
// monitors as OutputFollower decides, and hands on the audio of the one it records. Only
// translation: what to do on each event is OutputFollower's.
//
// Threads: after start(), everything runs on the main-loop thread with the lock held; onData may
// block there (see RecordStream), which only delays the following. onStop is called once, there.
#pragma once

#include "platform/pulse/connection.h"
#include "platform/pulse/output_follower.h"
#include "platform/pulse/record_stream.h"

#include <map>
#include <memory>
#include <vector>

namespace tovanel::platform::pulse {

class OutputRecorder final : private OutputFollower::Actions {
  public:
    using OnStop = std::function<void(PlatformError error)>;

    // `options` without a source: the recorder names it.
    OutputRecorder(PulseConnection& connection, RecordStream::Options options,
                   RecordStream::OnData onData, OnStop onStop);
    ~OutputRecorder() override; // takes the lock itself
    OutputRecorder(const OutputRecorder&) = delete;
    OutputRecorder& operator=(const OutputRecorder&) = delete;

    // Records the default output's monitor and waits, bounded, until audio flows or it failed;
    // from then on follows the default. With the lock held, off the main-loop thread.
    std::optional<PlatformError> start();

  private:
    struct Query;

    void query() override;
    void open(std::uint64_t id, const std::string& source) override;
    void close(std::uint64_t id) override;
    void stop(PlatformError error) override;
    static void onEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* self);
    static void onRetire(pa_mainloop_api*, pa_defer_event*, void* self);

    PulseConnection& connection_;
    const RecordStream::Options options_;
    const RecordStream::OnData onData_;
    const OnStop onStop_;
    OutputFollower follower_{*this};
    pa_context* subscribed_ = nullptr; // holds a reference while subscribed
    std::unique_ptr<Query> query_;     // the one in flight
    bool started_ = false;             // start() returned: a stop goes to onStop
    std::optional<PlatformError> startFailure_;
    std::map<std::uint64_t, std::unique_ptr<RecordStream>> streams_;
    // Closed streams, freed on the loop's next turn: a stream may close within its own callback.
    std::vector<std::unique_ptr<RecordStream>> retired_;
    pa_defer_event* retire_ = nullptr;
};

} // namespace tovanel::platform::pulse
