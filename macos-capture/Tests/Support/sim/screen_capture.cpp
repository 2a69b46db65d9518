// Simulated screen-capture service.
#include "sim/screen_capture.h"

namespace tovanel::sim {

namespace {

// Keeps the display's size, not the display: the content it came from may be gone.
class SimContentFilter final : public platform::ContentFilter {
  public:
    explicit SimContentFilter(const platform::Display& display)
        : size{display.width(), display.height()} {}
    SimCaptureStream::DisplaySize size;
};

std::string nameOf(StreamOutputType type) {
    switch (type) {
    case StreamOutputType::screen:
        return "screen";
    case StreamOutputType::audio:
        return "audio";
    }
    return std::to_string(static_cast<std::int64_t>(type));
}

} // namespace

SimShareableContent::SimShareableContent(
    std::vector<std::pair<std::int64_t, std::int64_t>> displays, std::size_t windows,
    std::size_t applications)
    : windows_(windows), applications_(applications) {
    for (const auto& [width, height] : displays) {
        displays_.push_back(std::make_shared<SimDisplay>(width, height));
    }
}

SimCaptureStream::SimCaptureStream(SimScreenCapture& owner, DisplaySize display,
                                   platform::StreamConfiguration configuration,
                                   std::weak_ptr<platform::StreamDelegate> delegate)
    : owner_(owner), display_(display), configuration_(configuration),
      delegate_(std::move(delegate)) {}

std::optional<PlatformError> SimCaptureStream::addStreamOutput(
    std::weak_ptr<platform::StreamOutput> output, StreamOutputType type,
    const std::shared_ptr<platform::SerialQueue>& sampleHandlerQueue) {
    owner_.log("output(" + nameOf(type) + "," + sampleHandlerQueue->label() + ")");
    if (auto failure = owner_.addingOutputFailure(type)) {
        return failure;
    }
    std::lock_guard lock(mutex_);
    registrations_.push_back({type, std::move(output), sampleHandlerQueue});
    return std::nullopt;
}

void SimCaptureStream::startCapture(std::function<void(std::optional<PlatformError>)> completion) {
    owner_.log("start");
    std::lock_guard lock(mutex_);
    startCompletion_ = std::move(completion);
    startRequested_ = true;
}

std::vector<std::pair<StreamOutputType, std::string>> SimCaptureStream::registrations() const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<StreamOutputType, std::string>> result;
    for (const auto& registration : registrations_) {
        result.emplace_back(registration.type, registration.queue->label());
    }
    return result;
}

bool SimCaptureStream::startRequested() const {
    std::lock_guard lock(mutex_);
    return startRequested_;
}

void SimCaptureStream::completeStart(std::optional<PlatformError> error) {
    std::function<void(std::optional<PlatformError>)> completion;
    {
        std::lock_guard lock(mutex_);
        completion = std::exchange(startCompletion_, nullptr);
    }
    if (completion) {
        completion(std::move(error));
    }
}

bool SimCaptureStream::deliver(std::shared_ptr<const platform::SampleBuffer> buffer,
                               StreamOutputType registeredAs,
                               std::optional<StreamOutputType> reportedType) {
    std::lock_guard lock(mutex_);
    for (const auto& registration : registrations_) {
        if (registration.type == registeredAs) {
            const StreamOutputType type = reportedType.value_or(registeredAs);
            registration.queue->async([output = registration.output, buffer, type] {
                if (auto alive = output.lock()) {
                    alive->streamDidOutputSampleBuffer(*buffer, type);
                }
            });
            return true;
        }
    }
    return false;
}

void SimCaptureStream::dropPendingStart() {
    std::function<void(std::optional<PlatformError>)> dropped;
    std::lock_guard lock(mutex_);
    dropped = std::exchange(startCompletion_, nullptr);
}

void SimCaptureStream::stop(const PlatformError& error) {
    if (auto delegate = delegate_.lock()) {
        delegate->streamDidStopWithError(error);
    }
}

SimScreenCapture::~SimScreenCapture() {
    for (const auto& stream : streams_) {
        stream->dropPendingStart();
    }
}

void SimScreenCapture::getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                           ContentCompletion completion) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::string("content(") + (excludeDesktopWindows ? "true" : "false") + "," +
                      (onScreenWindowsOnly ? "true" : "false") + ")");
    contentRequests_.push_back(std::move(completion));
}

std::shared_ptr<platform::ContentFilter>
SimScreenCapture::makeContentFilter(const platform::Display& display) {
    log("filter(" + std::to_string(display.width()) + "x" + std::to_string(display.height()) + ")");
    return std::make_shared<SimContentFilter>(display);
}

std::shared_ptr<platform::CaptureStream>
SimScreenCapture::makeStream(const platform::ContentFilter& filter,
                             const platform::StreamConfiguration& configuration,
                             std::weak_ptr<platform::StreamDelegate> delegate) {
    log("stream");
    const auto* simFilter = dynamic_cast<const SimContentFilter*>(&filter);
    auto stream = std::make_shared<SimCaptureStream>(
        *this, simFilter ? simFilter->size : SimCaptureStream::DisplaySize{}, configuration,
        std::move(delegate));
    std::lock_guard lock(mutex_);
    streams_.push_back(stream);
    return stream;
}

std::size_t SimScreenCapture::pendingContentRequests() const {
    std::lock_guard lock(mutex_);
    return contentRequests_.size();
}

void SimScreenCapture::completeContentRequest(std::shared_ptr<platform::ShareableContent> content,
                                              std::optional<PlatformError> error) {
    ContentCompletion completion;
    {
        std::lock_guard lock(mutex_);
        if (contentRequests_.empty()) {
            return;
        }
        completion = std::move(contentRequests_.front());
        contentRequests_.erase(contentRequests_.begin());
    }
    completion(std::move(content), std::move(error));
}

void SimScreenCapture::failAddingOutput(StreamOutputType type, PlatformError error) {
    std::lock_guard lock(mutex_);
    outputFailures_[type] = std::move(error);
}

std::shared_ptr<SimCaptureStream> SimScreenCapture::lastStream() const {
    std::lock_guard lock(mutex_);
    return streams_.empty() ? nullptr : streams_.back();
}

std::vector<std::string> SimScreenCapture::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void SimScreenCapture::log(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
}

std::optional<PlatformError> SimScreenCapture::addingOutputFailure(StreamOutputType type) const {
    std::lock_guard lock(mutex_);
    const auto found = outputFailures_.find(type);
    return found == outputFailures_.end() ? std::nullopt : std::optional(found->second);
}

} // namespace tovanel::sim
