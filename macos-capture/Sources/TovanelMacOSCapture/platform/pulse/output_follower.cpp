// The decisions of the capture that follows the computer's output.
#include "platform/pulse/output_follower.h"

namespace tovanel::platform::pulse {

namespace {

// The sink to record: the default one, or, while the server names none that exists, the first
// sink it lists. Only a sink with a monitor can be recorded.
const SinkSnapshot* sinkToRecord(const ServerSnapshot& snapshot) {
    const SinkSnapshot* first = nullptr;
    for (const auto& sink : snapshot.sinks) {
        if (sink.monitorSource.empty()) {
            continue;
        }
        if (sink.name == snapshot.defaultSink) {
            return &sink;
        }
        first = first != nullptr ? first : &sink;
    }
    return first;
}

std::string named(const std::string& description, const std::string& name) {
    return description.empty() || description == name ? name : description + " (" + name + ")";
}

} // namespace

void OutputFollower::query() {
    if (phase_ == Phase::stopped) {
        return;
    }
    if (querying_) {
        queryAgain_ = true;
        return;
    }
    querying_ = true;
    actions_.query();
}

void OutputFollower::serverEvent(ServerEvent event) {
    // A default change arrives as a server change; a sink that comes or goes may be or have been
    // the default. Changes of a sink's own state (volume, latency) change nothing here.
    if (event != ServerEvent::other) {
        query();
    }
}

void OutputFollower::answer(const ServerSnapshot& snapshot) {
    querying_ = false;
    if (phase_ == Phase::stopped) {
        return;
    }
    if (queryAgain_) {
        queryAgain_ = false;
        query();
        return;
    }
    server_ = snapshot.serverName;
    const SinkSnapshot* sink = sinkToRecord(snapshot);
    if (sink == nullptr) {
        const std::string gone =
            lost_ ? named(lost_->description, lost_->sink) + " went away and " : "";
        stop(PlatformError{"pa_context_get_sink_info_list", 0,
                           "no output to record: " + gone + "the sound server " + server_ +
                               " has no sink"});
        return;
    }
    if (pending_ && pending_->sink == sink->name) {
        return; // on its way
    }
    if (current_ && current_->sink == sink->name) {
        if (pending_) { // the default came back before the stream for another one recorded
            actions_.close(pending_->id);
            pending_.reset();
        }
        return;
    }
    if (pending_) {
        actions_.close(pending_->id);
    }
    // The old stream, if any, records until the new one does: the gap is the server's alone.
    pending_ = Stream{++lastId_, sink->name, sink->description};
    actions_.open(pending_->id, sink->monitorSource);
}

void OutputFollower::streamReady(std::uint64_t id) {
    if (phase_ == Phase::stopped || !pending_ || pending_->id != id) {
        return;
    }
    if (current_) {
        actions_.close(current_->id);
    }
    current_ = std::move(pending_);
    pending_.reset();
    lost_.reset();
    failedOpens_ = 0;
    phase_ = Phase::recording;
}

void OutputFollower::streamFailed(std::uint64_t id, PlatformError error, bool serverAlive) {
    if (phase_ == Phase::stopped) {
        return;
    }
    if (!serverAlive) {
        stop(std::move(error));
        return;
    }
    if (current_ && current_->id == id) {
        // Its sink went away, or the server ended the stream: record whatever is the default now.
        lost_ = current_;
        forget(current_);
        query();
    } else if (pending_ && pending_->id == id) {
        forget(pending_);
        if (++failedOpens_ >= kMostFailedOpens) {
            stop(std::move(error));
        } else {
            query();
        }
    }
}

void OutputFollower::streamNotConnected(std::uint64_t id, PlatformError error) {
    if (phase_ == Phase::stopped || !pending_ || pending_->id != id) {
        return;
    }
    error.description = "the sound server " + server_ + " did not connect a stream to the output " +
                        named(pending_->description, pending_->sink) + " within " +
                        std::to_string(kConnectTimeout.count()) +
                        " s (a PipeWire server connects streams only while its session manager,"
                        " such as WirePlumber, runs)";
    stop(std::move(error));
}

void OutputFollower::forget(std::optional<Stream>& stream) {
    actions_.close(stream->id);
    stream.reset();
}

void OutputFollower::stop(PlatformError error) {
    if (phase_ == Phase::stopped) {
        return;
    }
    phase_ = Phase::stopped;
    if (pending_) {
        forget(pending_);
    }
    if (current_) {
        forget(current_);
    }
    actions_.stop(std::move(error));
}

} // namespace tovanel::platform::pulse
