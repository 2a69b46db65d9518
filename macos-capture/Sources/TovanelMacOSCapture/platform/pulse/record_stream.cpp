// A record stream on the shared connection.
#include "platform/pulse/record_stream.h"

#include <algorithm>

namespace tovanel::platform::pulse {

Result<std::unique_ptr<RecordStream>> RecordStream::connect(PulseConnection& connection,
                                                            const Options& options, OnData onData,
                                                            OnReady onReady, OnFailure onFailure,
                                                            std::chrono::milliseconds timeout) {
    if (auto failure = connection.ensureConnected()) {
        return *failure;
    }
    if (!pa_sample_spec_valid(&options.sampleSpec)) {
        return pulseError("pa_stream_new", PA_ERR_INVALID);
    }
    auto stream = std::make_unique<RecordStream>(connection, std::move(onData), std::move(onReady),
                                                 std::move(onFailure));
    stream->stream_ =
        pa_stream_new(connection.context(), options.name.c_str(), &options.sampleSpec, nullptr);
    if (stream->stream_ == nullptr) {
        return connection.contextError("pa_stream_new");
    }
    pa_stream_set_state_callback(stream->stream_, &RecordStream::onState, stream.get());
    pa_stream_set_read_callback(stream->stream_, &RecordStream::onRead, stream.get());
    pa_stream_set_moved_callback(stream->stream_, &RecordStream::onMoved, stream.get());
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = options.fragmentBytes;
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream->stream_, options.source.c_str(), &attributes, flags) < 0) {
        return connection.contextError("pa_stream_connect_record");
    }
    // A server that never links the stream (PipeWire without its session manager) leaves it
    // connecting for good.
    stream->connectDeadline_.emplace(connection, timeout, [raw = stream.get()] {
        if (!raw->ready_) {
            raw->reportFailure(pulseError("pa_stream_connect_record", PA_ERR_TIMEOUT));
        }
    });
    return stream;
}

std::optional<PlatformError> RecordStream::open(PulseConnection& connection, const Options& options,
                                                OnData onData,
                                                std::unique_ptr<RecordStream>& opened) {
    auto connected = connect(connection, options, std::move(onData), nullptr, nullptr);
    if (!connected.ok()) {
        return connected.error();
    }
    RecordStream& stream = *connected.value();
    // The stream's own deadline ends the wait, which only bounds it again.
    if (auto failure = connection.waitUntil([&stream] { return stream.ready_ || stream.failure_; },
                                            "pa_stream_connect_record", 2 * kRoundTripTimeout)) {
        return failure;
    }
    if (stream.failure_) {
        return stream.failure_;
    }
    opened = std::move(connected.value());
    return std::nullopt;
}

RecordStream::~RecordStream() {
    if (stream_ == nullptr) {
        return;
    }
    PulseConnection::Lock lock(connection_);
    connectDeadline_.reset();
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING) {
        pa_stream_disconnect(stream_);
    }
    pa_stream_unref(stream_);
}

std::uint32_t RecordStream::grantedFragmentBytes() const {
    const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(stream_);
    return attributes != nullptr ? attributes->fragsize : 0;
}

void RecordStream::onState(pa_stream* stream, void* self) {
    auto* owner = static_cast<RecordStream*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    owner->connection_.signal();
    if (state == PA_STREAM_READY && !owner->ready_ && !owner->failure_) {
        owner->ready_ = true;
        if (owner->onReady_) {
            owner->onReady_();
        }
    } else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        pa_context* context = pa_stream_get_context(stream);
        const int error = context != nullptr ? pa_context_errno(context) : PA_ERR_KILLED;
        owner->reportFailure(pulseError(owner->ready_ ? "pa_stream" : "pa_stream_connect_record",
                                        error != 0 ? error : PA_ERR_KILLED));
    }
}

// A server may move even an unmovable stream once its source is gone (PipeWire does): what it
// records then is not what it was opened for.
void RecordStream::onMoved(pa_stream* stream, void* self) {
    const char* to = pa_stream_get_device_name(stream);
    static_cast<RecordStream*>(self)->reportFailure(PlatformError{
        "pa_stream", PA_ERR_NOENTITY,
        std::string("pa_stream: moved by the server to ") + (to ? to : "another source")});
}

void RecordStream::onRead(pa_stream*, std::size_t bytes, void* self) {
    static_cast<RecordStream*>(self)->read(bytes);
}

// Reads the `bytes` the stream holds now, chunk by chunk, and asks for no more: libpulse calls
// again when more arrives, and every libpulse call costs a getpid system call for its fork check.
void RecordStream::read(std::size_t bytes) {
    while (bytes > 0) {
        const void* data = nullptr;
        std::size_t chunk = 0;
        if (pa_stream_peek(stream_, &data, &chunk) < 0) {
            reportFailure(
                pulseError("pa_stream_peek", pa_context_errno(pa_stream_get_context(stream_))));
            return;
        }
        if (chunk == 0) {
            return; // nothing left to read after all
        }
        // A hole (no data) is the server saying nothing was recorded there: nothing is made up
        // for it.
        if (data != nullptr && !onData_(static_cast<const std::uint8_t*>(data), chunk)) {
            return;
        }
        pa_stream_drop(stream_);
        bytes -= std::min(chunk, bytes);
    }
}

void RecordStream::reportFailure(PlatformError error) {
    if (failure_) {
        return;
    }
    failure_ = error;
    connection_.signal();
    if (onFailure_) {
        onFailure_(std::move(error));
    }
}

} // namespace tovanel::platform::pulse
