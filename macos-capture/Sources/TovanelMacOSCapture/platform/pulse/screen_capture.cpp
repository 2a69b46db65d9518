// ScreenCapture over libpulse.
#include "platform/pulse/screen_capture.h"

#include "platform/portable/sample_buffer.h"
#include "platform/pulse/output_recorder.h"
#include "platform/pulse/planar_frames.h"
#include "platform/pulse/planar_sample_buffer.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace tovanel::platform::pulse {

namespace {

// Buffers handed to the sample queue and not yet handled. Beyond this (10 s of 10 ms buffers)
// the stream stops taking data, and the server holds it, then drops what it cannot hold (see
// RecordStream).
constexpr int kMostBuffersInFlight = 1000;

// The size reported for the one logical display: nothing here captures pictures.
constexpr std::int64_t kDisplayWidth = 1920;
constexpr std::int64_t kDisplayHeight = 1080;

class PulseDisplay final : public Display {
  public:
    std::int64_t width() const override { return kDisplayWidth; }
    std::int64_t height() const override { return kDisplayHeight; }
};

class PulseContent final : public ShareableContent {
  public:
    explicit PulseContent(std::size_t applications)
        : displays_{std::make_shared<PulseDisplay>()}, applications_(applications) {}
    const std::vector<std::shared_ptr<Display>>& displays() const override { return displays_; }
    std::size_t windowCount() const override { return 0; }
    std::size_t applicationCount() const override { return applications_; }

  private:
    std::vector<std::shared_ptr<Display>> displays_;
    std::size_t applications_;
};

class PulseContentFilter final : public ContentFilter {};

void countClient(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    if (eol == 0 && info != nullptr) {
        ++*static_cast<std::size_t*>(userdata);
    }
}

struct Handover;

// One sample buffer on its way to the audio output, filled again for every trip. While a job
// takes it to the output's queue, it holds the hand-over it belongs to. It keeps the output and
// queue it goes to, as registered when it took them.
struct Slot {
    PlanarSampleBuffer buffer;
    std::shared_ptr<Handover> handover;
    std::weak_ptr<StreamOutput> output;
    std::shared_ptr<SerialQueue> queue;
    unsigned registration = 0; // which registration output and queue come from
};

// What the stream shares with the buffers it hands to the audio output's queue: the output and
// the slots at rest. A job not yet run keeps it alive through its slot; the stream itself, which
// owns the record stream, is never kept alive by a job (a job may run on the main-loop thread,
// where the record stream cannot be closed).
struct Handover {
    Handover() = default;
    ~Handover() { std::unique_ptr<Slot> last(latest.load()); }
    Handover(const Handover&) = delete;
    Handover& operator=(const Handover&) = delete;

    // The slot back last, apart from the others: with the handler keeping up, one slot goes
    // back and forth without a lock.
    std::atomic<Slot*> latest{nullptr};
    std::atomic<int> away{0};               // slots being filled, handed over here or travelling
    std::atomic<unsigned> registrations{0}; // counts the audio output's registrations
    std::mutex mutex;
    std::weak_ptr<StreamOutput> output; // under the mutex
    std::shared_ptr<SerialQueue> queue; // under the mutex; null until an output is registered
    std::vector<std::unique_ptr<Slot>> resting; // under the mutex
};

// Hands a filled slot's buffer to the output the slot took.
void handTo(Slot& slot) {
    if (const auto output = slot.output.lock()) {
        output->streamDidOutputSampleBuffer(slot.buffer, StreamOutputType::audio);
    }
}

// The job that hands a filled slot's buffer to the output on its queue, then puts the slot to
// rest. It captures the slot's address only, which keeps it within std::function's own storage:
// a job costs no allocation.
void handOver(Slot* travelling) {
    std::unique_ptr<Slot> slot(travelling);
    handTo(*slot);
    const std::shared_ptr<Handover> handover = std::move(slot->handover);
    handover->away.fetch_sub(1, std::memory_order_relaxed);
    std::unique_ptr<Slot> displaced(handover->latest.exchange(slot.release()));
    if (displaced) {
        std::lock_guard lock(handover->mutex);
        handover->resting.push_back(std::move(displaced));
    }
}

class PulseCaptureStream final : public CaptureStream,
                                 public std::enable_shared_from_this<PulseCaptureStream> {
  public:
    PulseCaptureStream(PulseConnection& connection, const StreamConfiguration& configuration,
                       std::weak_ptr<StreamDelegate> delegate)
        : connection_(connection), configuration_(configuration), delegate_(std::move(delegate)) {}

    std::optional<PlatformError>
    addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                    const std::shared_ptr<SerialQueue>& sampleHandlerQueue) override {
        // Registering the screen output succeeds: nothing here makes pictures for it.
        if (type == StreamOutputType::audio) {
            std::lock_guard lock(handover_->mutex);
            handover_->output = std::move(output);
            handover_->queue = sampleHandlerQueue;
            handover_->registrations.fetch_add(1, std::memory_order_release);
        }
        return std::nullopt;
    }

    void startCapture(std::function<void(std::optional<PlatformError>)> completion) override {
        std::thread([self = shared_from_this(), completion = std::move(completion)] {
            auto failure = self->open();
            completion(std::move(failure));
        }).detach();
    }

  private:
    std::optional<PlatformError> open() {
        if (configuration_.sampleRate <= 0 || configuration_.sampleRate > PA_RATE_MAX ||
            configuration_.channelCount <= 0 || configuration_.channelCount > PA_CHANNELS_MAX) {
            return pulseError("pa_stream_new", PA_ERR_INVALID);
        }
        const auto rate = static_cast<std::uint32_t>(configuration_.sampleRate);
        const auto channels = static_cast<std::uint32_t>(configuration_.channelCount);
        // The server sends interleaved frames; they are handed over as the screen-capture
        // service hands its audio over: 32-bit float, one buffer per channel.
        planar_ = PlanarFrames(channels);
        fragmentFrames_ = rate * kCaptureFragmentMilliseconds / 1000;
        description_ = std::make_shared<portable::PortableFormatDescription>(
            AudioStreamBasicDescription{static_cast<double>(rate), kAudioFormatLinearPCM,
                                        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked |
                                            kAudioFormatFlagIsNonInterleaved,
                                        4, 1, 4, channels, 32, 0});
        RecordStream::Options options;
        options.sampleSpec =
            pa_sample_spec{PA_SAMPLE_FLOAT32LE, rate, static_cast<std::uint8_t>(channels)};
        options.fragmentBytes = static_cast<std::uint32_t>(fragmentFrames_) * channels * 4;
        options.name = "system audio capture";
        PulseConnection::Lock lock(connection_);
        recorder_ = std::make_unique<OutputRecorder>(
            connection_, options,
            [this](const std::uint8_t* data, std::size_t bytes) { return deliver(data, bytes); },
            [weak = weak_from_this()](PlatformError error) {
                // Off the main-loop thread: the delegate ends the process.
                std::thread([weak, error = std::move(error)] {
                    if (const auto self = weak.lock()) {
                        self->reportStop(error);
                    }
                }).detach();
            });
        return recorder_->start();
    }

    // Main-loop thread: splits the chunk's whole frames out of libpulse's memory into the slot
    // being filled, planar as the screen-capture service hands its audio over, and hands the
    // buffer to the audio output once it holds a fragment: a chunk the server cut short waits
    // for the rest of its fragment instead of making a trip of its own. While the output's queue
    // is idle the handler runs right here, as one of its jobs: a buffer then costs one thread
    // wake-up, not two, and the slot stays for the next trip (see RecordStream on what a reader
    // that stalls the handler's write holds up meanwhile). Otherwise a job takes the slot there.
    bool deliver(const std::uint8_t* data, std::size_t bytes) {
        if (!filling_ || handedOver_) {
            switch (takeSlot()) {
            case Take::taken:
                break;
            case Take::nobodyListens:
                return true; // the data is consumed and dropped
            case Take::tooManyAway:
                return false; // the data stays in the stream for the next call
            }
        }
        PlanarSampleBuffer& buffer = filling_->buffer;
        const std::size_t frames = planar_.wholeFrames(bytes);
        buffer.reserveMore(frames);
        planar_.split(data, bytes, buffer.runsEnd(), buffer.runDistance());
        buffer.add(frames);
        if (buffer.numSamples() >= static_cast<std::int64_t>(fragmentFrames_)) {
            handedOver_ = filling_->queue->runHereIfIdle(handToHere_);
            if (!handedOver_) {
                filling_->handover = handover_; // kept alive until the job has run
                const std::shared_ptr<SerialQueue> queue = filling_->queue;
                queue->async([travelling = filling_.release()] { handOver(travelling); });
            }
        }
        return true;
    }

    enum class Take { taken, nobodyListens, tooManyAway };

    // Takes a slot to fill: the one handed over here last trip, the one back last when it is
    // there, another resting one, or a new one (one more than were ever away at once).
    Take takeSlot() {
        Handover& handover = *handover_;
        std::unique_ptr<Slot> slot = std::move(filling_); // still away: its trip ended here
        const bool kept = slot != nullptr;
        handedOver_ = false;
        if (!kept && handover.away.load(std::memory_order_relaxed) >= kMostBuffersInFlight) {
            return Take::tooManyAway;
        }
        if (!kept) {
            slot.reset(handover.latest.exchange(nullptr));
        }
        const unsigned registration = handover.registrations.load(std::memory_order_acquire);
        if (!slot || slot->registration != registration) {
            std::lock_guard lock(handover.mutex);
            if (!handover.queue) {
                return Take::nobodyListens;
            }
            if (!slot && !handover.resting.empty()) {
                slot = std::move(handover.resting.back());
                handover.resting.pop_back();
            }
            if (!slot) {
                slot = std::make_unique<Slot>();
            }
            slot->output = handover.output;
            slot->queue = handover.queue;
            slot->registration = registration;
        }
        if (!kept) {
            handover.away.fetch_add(1, std::memory_order_relaxed);
        }
        slot->buffer.start(description_, planar_.channels(), fragmentFrames_);
        filling_ = std::move(slot);
        return Take::taken;
    }

    void reportStop(const PlatformError& error) {
        if (const auto delegate = delegate_.lock()) {
            delegate->streamDidStopWithError(error);
        }
    }

    PulseConnection& connection_;
    const StreamConfiguration configuration_;
    const std::weak_ptr<StreamDelegate> delegate_;
    const std::shared_ptr<Handover> handover_ = std::make_shared<Handover>();
    // Main-loop thread from open() on.
    PlanarFrames planar_{2};
    std::size_t fragmentFrames_ = 480;
    std::shared_ptr<const FormatDescription> description_;
    std::unique_ptr<Slot> filling_; // the slot the next chunk goes into, once one was taken
    bool handedOver_ = false;       // filling_'s buffer went to the output here: a new trip next
    // The hand-over run here, made once: the slot being filled goes to its output.
    const std::function<void()> handToHere_ = [this] { handTo(*filling_); };
    std::unique_ptr<OutputRecorder> recorder_; // last: its streams go before the rest
};

} // namespace

void PulseScreenCapture::getShareableContent(bool, bool, ContentCompletion completion) {
    std::thread([this, completion = std::move(completion)] {
        std::size_t applications = 0;
        std::optional<PlatformError> failure;
        {
            PulseConnection::Lock lock(connection_);
            failure = connection_.roundTrip({[&](pa_context* c) {
                return pa_context_get_sink_input_info_list(c, countClient, &applications);
            }});
        }
        if (failure) {
            completion(nullptr, std::move(failure));
        } else {
            completion(std::make_shared<PulseContent>(applications), std::nullopt);
        }
    }).detach();
}

std::shared_ptr<ContentFilter> PulseScreenCapture::makeContentFilter(const Display&) {
    return std::make_shared<PulseContentFilter>();
}

std::shared_ptr<CaptureStream>
PulseScreenCapture::makeStream(const ContentFilter&, const StreamConfiguration& configuration,
                               std::weak_ptr<StreamDelegate> delegate) {
    return std::make_shared<PulseCaptureStream>(connection_, configuration, std::move(delegate));
}

} // namespace tovanel::platform::pulse
