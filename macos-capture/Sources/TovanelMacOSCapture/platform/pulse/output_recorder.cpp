// The record streams behind the capture of the computer's output.
#include "platform/pulse/output_recorder.h"

#include "platform/pulse/audio_hardware.h"

namespace tovanel::platform::pulse {

namespace {

OutputFollower::ServerEvent eventOf(pa_subscription_event_type_t type) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    using Event = OutputFollower::ServerEvent;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        return Event::serverChanged;
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && kind != PA_SUBSCRIPTION_EVENT_CHANGE) {
        return kind == PA_SUBSCRIPTION_EVENT_NEW ? Event::sinkAdded : Event::sinkRemoved;
    }
    return Event::other;
}

void release(pa_operation*& operation) {
    if (operation != nullptr) {
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
            pa_operation_cancel(operation);
        }
        pa_operation_unref(operation);
        operation = nullptr;
    }
}

} // namespace

// The server's defaults, then its sinks: answered in that order, the answer is complete with the
// sink list's end.
struct OutputRecorder::Query {
    explicit Query(OutputRecorder& recorder) : recorder(recorder) {}
    ~Query() {
        release(server);
        release(sinks);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    static void onServer(pa_context*, const pa_server_info* info, void* self) {
        if (info != nullptr) {
            addServerInfo(static_cast<Query*>(self)->snapshot, *info);
        }
    }
    static void onSink(pa_context* context, const pa_sink_info* info, int eol, void* self) {
        auto* query = static_cast<Query*>(self);
        if (eol == 0 && info != nullptr) {
            addSink(query->snapshot, *info);
            return;
        }
        // Done: the recorder may ask again right away, so this query leaves its place first.
        const std::unique_ptr<Query> done = std::move(query->recorder.query_);
        if (eol < 0) {
            done->recorder.follower_.queryFailed(
                pulseError("pa_context_get_sink_info_list", pa_context_errno(context)));
        } else {
            done->recorder.follower_.answer(done->snapshot);
        }
    }

    OutputRecorder& recorder;
    ServerSnapshot snapshot;
    pa_operation* server = nullptr;
    pa_operation* sinks = nullptr;
};

OutputRecorder::OutputRecorder(PulseConnection& connection, RecordStream::Options options,
                               RecordStream::OnData onData, OnStop onStop)
    : connection_(connection), options_(std::move(options)), onData_(std::move(onData)),
      onStop_(std::move(onStop)) {}

OutputRecorder::~OutputRecorder() {
    PulseConnection::Lock lock(connection_);
    query_.reset();
    if (subscribed_ != nullptr) {
        pa_context_set_subscribe_callback(subscribed_, nullptr, nullptr);
        pa_context_unref(subscribed_);
    }
    streams_.clear();
    retired_.clear();
    if (retire_ != nullptr) {
        pa_threaded_mainloop_get_api(connection_.mainloop())->defer_free(retire_);
    }
}

std::optional<PlatformError> OutputRecorder::start() {
    if (auto failure = connection_.ensureConnected()) {
        return failure;
    }
    // Subscribed before the first question: whatever changes after its answer is heard.
    subscribed_ = pa_context_ref(connection_.context());
    pa_context_set_subscribe_callback(subscribed_, &OutputRecorder::onEvent, this);
    pa_operation* subscription =
        pa_context_subscribe(subscribed_,
                             static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                                 PA_SUBSCRIPTION_MASK_SINK),
                             nullptr, nullptr);
    if (subscription == nullptr) {
        return connection_.contextError("pa_context_subscribe");
    }
    pa_operation_unref(subscription);
    follower_.start();
    // Bounds the question and the stream's own connection deadline together.
    if (auto failure = connection_.waitUntil(
            [this] { return follower_.phase() != OutputFollower::Phase::starting; },
            "pa_context_get_server_info", 3 * kRoundTripTimeout)) {
        follower_.queryFailed(std::move(*failure));
    }
    started_ = !startFailure_;
    return startFailure_;
}

void OutputRecorder::onEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t,
                             void* self) {
    static_cast<OutputRecorder*>(self)->follower_.serverEvent(eventOf(type));
}

void OutputRecorder::query() {
    query_ = std::make_unique<Query>(*this);
    pa_context* context = connection_.context();
    if (context != nullptr) {
        query_->server = pa_context_get_server_info(context, &Query::onServer, query_.get());
        query_->sinks = pa_context_get_sink_info_list(context, &Query::onSink, query_.get());
    }
    if (query_->server == nullptr || query_->sinks == nullptr) {
        query_.reset();
        follower_.queryFailed(connection_.contextError("pa_context_get_server_info"));
    }
}

void OutputRecorder::open(std::uint64_t id, const std::string& source) {
    RecordStream::Options options = options_;
    options.source = source;
    auto failed = [this, id](PlatformError error) {
        if (error.code == PA_ERR_TIMEOUT && error.call == "pa_stream_connect_record") {
            follower_.streamNotConnected(id, std::move(error));
        } else {
            follower_.streamFailed(id, std::move(error), connection_.context() != nullptr);
        }
    };
    auto connected = RecordStream::connect(
        connection_, options,
        [this, id](const std::uint8_t* data, std::size_t bytes) {
            // A stream on its way out may still hand over a chunk: it is not the capture's.
            return id != follower_.recording() || onData_(data, bytes);
        },
        [this, id] { follower_.streamReady(id); }, failed,
        std::chrono::duration_cast<std::chrono::milliseconds>(OutputFollower::kConnectTimeout));
    if (connected.ok()) {
        streams_[id] = std::move(connected.value());
    } else {
        failed(connected.error());
    }
}

void OutputRecorder::close(std::uint64_t id) {
    const auto found = streams_.find(id);
    if (found == streams_.end()) {
        return;
    }
    retired_.push_back(std::move(found->second));
    streams_.erase(found);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(connection_.mainloop());
    if (retire_ == nullptr) {
        retire_ = api->defer_new(api, &OutputRecorder::onRetire, this);
    } else {
        api->defer_enable(retire_, 1);
    }
}

void OutputRecorder::onRetire(pa_mainloop_api* api, pa_defer_event* event, void* self) {
    api->defer_enable(event, 0);
    static_cast<OutputRecorder*>(self)->retired_.clear();
}

void OutputRecorder::stop(PlatformError error) {
    if (started_) {
        onStop_(std::move(error));
    } else {
        startFailure_ = std::move(error);
        connection_.signal();
    }
}

} // namespace tovanel::platform::pulse
