// One record stream on a server source, opened and closed under the shared connection, handing
// every chunk of recorded bytes to its owner and reporting once when the stream fails.
//
// Threads: both callbacks run on the main-loop thread with the loop's lock held and must not call
// back into the stream. onData may block for as long as its owner's reader makes it: the capture
// stream runs its sample handler there, write included, so that a buffer costs one thread
// wake-up, not two (a writer thread woken for every buffer cost about 1.6 times the CPU time).
// While it blocks:
//   - the server goes on recording into the stream's buffer, up to its maximum length (4 MiB, the
//     most either server grants: 10.9 s of 48 kHz stereo float); it never waits for a client, so
//     nothing else it serves stalls. What happens past that length depends on the server, as
//     measured with the numbered signal and a reader stopped for a while: PulseAudio keeps what
//     it holds and refuses the newest audio (a 5 s stall loses nothing, 12 s lose 0.8 s, 15 s
//     lose 3.9 s), pipewire-pulse (0.3.65) throws away all it holds and goes on from the newest
//     (5 s lose nothing, 12 s lose 11.7 s, 15 s lose 14.7 s);
//   - only this connection's own events wait, the server's changes among them: the capture
//     follows a new default output once the write returns. Nothing else uses the connection then:
//     device queries come before the stream is opened, a process runs one capture source, and the
//     program's other threads (queues, timers) never take the loop's lock then;
//   - a server that dies meanwhile is noticed as soon as the write returns (the stream's failure
//     is the next event the loop handles) and ends the capture through the stop notification;
//     a reader that went away instead ends the process at that write. Nothing the reader could
//     still have received is lost: what the server held dies with it.
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
    // Returns false when it takes nothing now: the bytes stay in the stream until the next
    // chunk arrives. May block (see Threads above).
    using OnData = std::function<bool(const std::uint8_t* data, std::size_t bytes)>;
    using OnReady = std::function<void()>;
    using OnFailure = std::function<void(PlatformError error)>;

    struct Options {
        std::string source; // a source's own name: no special names, which not every server knows
        pa_sample_spec sampleSpec{};
        std::uint32_t fragmentBytes = 0; // how much the server gathers before it sends
        std::string name;                // how the stream shows in the server's lists
    };

    // Connects the stream on `source`, unmovable: the server never takes it elsewhere (to a
    // microphone, say). onReady follows once it records, or onFailure once, when it fails, ends,
    // is moved all the same, or is not connected within `timeout` (then with PA_ERR_TIMEOUT).
    // With the lock held.
    static Result<std::unique_ptr<RecordStream>>
    connect(PulseConnection& connection, const Options& options, OnData onData, OnReady onReady,
            OnFailure onFailure, std::chrono::milliseconds timeout = kRoundTripTimeout);
    // Connects and waits until it records or failed. With the lock held.
    static std::optional<PlatformError> open(PulseConnection& connection, const Options& options,
                                             OnData onData, std::unique_ptr<RecordStream>& opened);

    // Use connect(); the stream is connected there.
    RecordStream(PulseConnection& connection, OnData onData, OnReady onReady, OnFailure onFailure)
        : connection_(connection), onData_(std::move(onData)), onReady_(std::move(onReady)),
          onFailure_(std::move(onFailure)) {}
    // Disconnects. Not from the stream's own callbacks; takes the lock itself.
    ~RecordStream();
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // The fragment size the server granted, in bytes. With the lock held.
    std::uint32_t grantedFragmentBytes() const;

  private:
    static void onState(pa_stream* stream, void* self);
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);
    static void onMoved(pa_stream* stream, void* self);
    void read(std::size_t bytes);
    void reportFailure(PlatformError error);

    PulseConnection& connection_;
    OnData onData_;
    OnReady onReady_;
    OnFailure onFailure_;
    pa_stream* stream_ = nullptr;
    std::optional<LoopTimer> connectDeadline_;
    bool ready_ = false;
    std::optional<PlatformError> failure_;
};

} // namespace tovanel::platform::pulse
