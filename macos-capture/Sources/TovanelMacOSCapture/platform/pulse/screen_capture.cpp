// ScreenCapture over libpulse.
#include "platform/pulse/screen_capture.h"

#include "platform/portable/sample_buffer.h"
#include "platform/pulse/record_stream.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace tovanel::platform::pulse {

namespace {

// Buffers handed to the sample queue and not yet handled. Beyond this (10 s of 10 ms buffers)
// the stream stops taking data, and the server holds it, then drops it as a device would.
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
            std::lock_guard lock(mutex_);
            audio_ = Output{std::move(output), sampleHandlerQueue};
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
    struct Output {
        std::weak_ptr<StreamOutput> output;
        std::shared_ptr<SerialQueue> queue;
    };

    std::optional<PlatformError> open() {
        if (configuration_.sampleRate <= 0 || configuration_.sampleRate > PA_RATE_MAX ||
            configuration_.channelCount <= 0 || configuration_.channelCount > PA_CHANNELS_MAX) {
            return pulseError("pa_stream_new", PA_ERR_INVALID);
        }
        const auto rate = static_cast<std::uint32_t>(configuration_.sampleRate);
        const auto channels = static_cast<std::uint32_t>(configuration_.channelCount);
        frameBytes_ = channels * 4;
        description_ = std::make_shared<portable::PortableFormatDescription>(
            AudioStreamBasicDescription{static_cast<double>(rate), kAudioFormatLinearPCM,
                                        kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
                                        frameBytes_, 1, frameBytes_, channels, 32, 0});
        RecordStream::Options options;
        options.source = "@DEFAULT_MONITOR@";
        options.sampleSpec =
            pa_sample_spec{PA_SAMPLE_FLOAT32LE, rate, static_cast<std::uint8_t>(channels)};
        options.fragmentBytes = rate * kCaptureFragmentMilliseconds / 1000 * frameBytes_;
        options.name = "system audio capture";
        PulseConnection::Lock lock(connection_);
        return RecordStream::open(
            connection_, options,
            [this](const std::uint8_t* data, std::size_t bytes) { return deliver(data, bytes); },
            [weak = weak_from_this()](PlatformError error) {
                // Off the main-loop thread: the delegate ends the process.
                std::thread([weak, error = std::move(error)] {
                    if (const auto self = weak.lock()) {
                        self->reportStop(error);
                    }
                }).detach();
            },
            stream_);
    }

    // Main-loop thread: hands whole frames to the audio output's queue as one sample buffer.
    // While that queue is idle the handler runs right here, as one of its jobs: a buffer then
    // costs one thread wake-up, not two. A reader that stalls the handler's write holds this
    // thread meanwhile; the server keeps what it records, up to its buffer, until we read again.
    bool deliver(const std::uint8_t* data, std::size_t bytes) {
        if (inFlight_->load() >= kMostBuffersInFlight) {
            return false;
        }
        Output audio;
        {
            std::lock_guard lock(mutex_);
            audio = audio_;
        }
        if (!audio.queue) {
            return true; // nobody listens: the data is consumed and dropped
        }
        std::vector<portable::PortableSampleBuffer::Buffer> buffers(1);
        buffers[0].channels = frameBytes_ / 4;
        std::vector<std::uint8_t>& frames = buffers[0].bytes;
        if (carry_.empty() && bytes % frameBytes_ == 0) {
            frames.assign(data, data + bytes); // the usual case: whole frames, one copy
        } else {
            // A frame split across chunks waits for its other part.
            carry_.insert(carry_.end(), data, data + bytes);
            const std::size_t whole = carry_.size() / frameBytes_ * frameBytes_;
            frames.assign(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(whole));
            carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(whole));
        }
        if (frames.empty()) {
            return true;
        }
        const std::size_t frameCount = frames.size() / frameBytes_;
        auto buffer = std::make_shared<portable::PortableSampleBuffer>(
            description_, static_cast<std::int64_t>(frameCount), std::move(buffers));
        ++*inFlight_;
        audio.queue->asyncOrRunHere([output = audio.output, buffer, inFlight = inFlight_] {
            if (const auto alive = output.lock()) {
                alive->streamDidOutputSampleBuffer(*buffer, StreamOutputType::audio);
            }
            --*inFlight;
        });
        return true;
    }

    void reportStop(const PlatformError& error) {
        if (const auto delegate = delegate_.lock()) {
            delegate->streamDidStopWithError(error);
        }
    }

    PulseConnection& connection_;
    const StreamConfiguration configuration_;
    const std::weak_ptr<StreamDelegate> delegate_;
    std::mutex mutex_;
    Output audio_; // the audio output, once registered
    // Main-loop thread from open() on.
    std::uint32_t frameBytes_ = 8;
    std::shared_ptr<const FormatDescription> description_;
    std::vector<std::uint8_t> carry_;
    const std::shared_ptr<std::atomic<int>> inFlight_ = std::make_shared<std::atomic<int>>(0);
    std::unique_ptr<RecordStream> stream_; // last: disconnected before the rest goes
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
