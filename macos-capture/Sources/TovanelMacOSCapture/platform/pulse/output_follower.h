// What the capture of the computer's output decides as the server's outputs change: it records
// the default sink's monitor, asked for by its own name; when the default sink changes, or the
// recorded sink goes away and the server names another, it opens the new default's monitor and
// drops the old stream once the new one records; it stops only when no sink is left, when the
// server is gone, or when the server does not connect a stream. It never records a source that
// is not a sink's monitor, so never a microphone.
//
// No libpulse here: the backend reports events and performs the actions it is given, so these
// decisions are tested without a server. Calls are serialised by the caller (the main loop's
// lock), and actions are performed within the call that asks for them.
#pragma once

#include "platform/platform_error.h"
#include "platform/pulse/device_model.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tovanel::platform::pulse {

class OutputFollower {
  public:
    // What the server told its subscribers.
    enum class ServerEvent { serverChanged, sinkAdded, sinkRemoved, other };
    enum class Phase { starting, recording, stopped };

    class Actions {
      public:
        virtual ~Actions() = default;
        // Read the server's defaults and sinks; answer() or queryFailed() follows.
        virtual void query() = 0;
        // Record `source` in stream `id`; streamReady() or streamFailed() follows.
        virtual void open(std::uint64_t id, const std::string& source) = 0;
        virtual void close(std::uint64_t id) = 0;
        // The capture ends with `error` (before it started, or while it records).
        virtual void stop(PlatformError error) = 0;
    };

    // A stream the server never connects fails after this long.
    static constexpr std::chrono::seconds kConnectTimeout{5};
    // Opens that failed in a row before the capture gives up.
    static constexpr int kMostFailedOpens = 3;

    explicit OutputFollower(Actions& actions) : actions_(actions) {}

    void start() { query(); }
    void serverEvent(ServerEvent event);
    void answer(const ServerSnapshot& snapshot);
    void queryFailed(PlatformError error) { stop(std::move(error)); }
    void streamReady(std::uint64_t id);
    // `serverAlive`: the connection still stands, so only this stream ended.
    void streamFailed(std::uint64_t id, PlatformError error, bool serverAlive);
    // The server took kConnectTimeout and never connected stream `id`; `error` says so natively.
    void streamNotConnected(std::uint64_t id, PlatformError error);

    Phase phase() const { return phase_; }
    // The stream whose audio is the capture's, 0 for none.
    std::uint64_t recording() const { return current_ ? current_->id : 0; }

  private:
    struct Stream {
        std::uint64_t id = 0;
        std::string sink;        // its server name
        std::string description; // what the user sees
    };

    void query();
    void stop(PlatformError error);
    void forget(std::optional<Stream>& stream);

    Actions& actions_;
    Phase phase_ = Phase::starting;
    std::optional<Stream> current_; // recording: its audio goes out
    std::optional<Stream> pending_; // opened, not recording yet
    std::optional<Stream> lost_;    // the last one that went away with its sink
    std::string server_;            // the server's name, for messages
    std::uint64_t lastId_ = 0;
    int failedOpens_ = 0;
    bool querying_ = false;
    bool queryAgain_ = false; // something changed while a query was out: its answer is stale
};

} // namespace tovanel::platform::pulse
