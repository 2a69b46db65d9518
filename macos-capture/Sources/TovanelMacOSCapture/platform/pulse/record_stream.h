// One record stream on a server source, opened and closed under the shared connection, handing
// every chunk of recorded bytes to its owner and reporting once when the stream fails.
//
// Threads: both callbacks run on the main-loop thread with the loop's lock held; they must not
// block for long and must not call back into the stream.
#pragma once

#include "platform/platform_error.h"
#include "platform/pulse/connection.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tovanel::platform::pulse {

class RecordStream {
  public:
    // Returns false when it takes nothing now: the bytes stay with the server until the next
    // chunk arrives.
    using OnData = std::function<bool(const std::uint8_t* data, std::size_t bytes)>;
    using OnFailure = std::function<void(PlatformError error)>;

    struct Options {
        std::string source; // a source name, or "@DEFAULT_MONITOR@" / "@DEFAULT_SOURCE@"
        pa_sample_spec sampleSpec{};
        std::uint32_t fragmentBytes = 0; // how much the server gathers before it sends
        std::string name;                // how the stream shows in the server's lists
    };

    // Connects the stream and waits, bounded, until it records or fails. With the lock held.
    static std::optional<PlatformError> open(PulseConnection& connection, const Options& options,
                                             OnData onData, OnFailure onFailure,
                                             std::unique_ptr<RecordStream>& opened);

    // Use open(); the stream is connected there.
    RecordStream(PulseConnection& connection, OnData onData, OnFailure onFailure)
        : connection_(connection), onData_(std::move(onData)), onFailure_(std::move(onFailure)) {}
    ~RecordStream(); // disconnects; takes the lock itself
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // The fragment size the server granted, in bytes. With the lock held.
    std::uint32_t grantedFragmentBytes() const;

  private:
    static void onState(pa_stream* stream, void* self);
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    void read(std::size_t bytes);
    void reportFailure(PlatformError error);

    PulseConnection& connection_;
    OnData onData_;
    OnFailure onFailure_;
    pa_stream* stream_ = nullptr;
    bool ready_ = false;
    bool failed_ = false;
};

} // namespace tovanel::platform::pulse
