// Simulated screen-capture service: content requests and stream starts that the test answers,
// output registration that can be made to fail per type, sample buffers delivered on the
// registered queues, a scripted stop, and a log of every call in order.
#pragma once

#include "platform/screen_capture.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tovanel::sim {

using platform::PlatformError;
using platform::StreamOutputType;

class SimDisplay final : public platform::Display {
  public:
    SimDisplay(std::int64_t width, std::int64_t height) : width_(width), height_(height) {}
    std::int64_t width() const override { return width_; }
    std::int64_t height() const override { return height_; }

  private:
    std::int64_t width_;
    std::int64_t height_;
};

class SimShareableContent final : public platform::ShareableContent {
  public:
    // Displays as (width, height) pairs, in the order they are listed.
    SimShareableContent(std::vector<std::pair<std::int64_t, std::int64_t>> displays,
                        std::size_t windows, std::size_t applications);
    const std::vector<std::shared_ptr<platform::Display>>& displays() const override {
        return displays_;
    }
    std::size_t windowCount() const override { return windows_; }
    std::size_t applicationCount() const override { return applications_; }

  private:
    std::vector<std::shared_ptr<platform::Display>> displays_;
    std::size_t windows_;
    std::size_t applications_;
};

class SimCaptureStream final : public platform::CaptureStream {
  public:
    struct Registration {
        StreamOutputType type;
        std::weak_ptr<platform::StreamOutput> output;
        std::shared_ptr<platform::SerialQueue> queue;
    };

    struct DisplaySize {
        std::int64_t width = 0;
        std::int64_t height = 0;
    };

    SimCaptureStream(class SimScreenCapture& owner, DisplaySize display,
                     platform::StreamConfiguration configuration,
                     std::weak_ptr<platform::StreamDelegate> delegate);

    std::optional<PlatformError>
    addStreamOutput(std::weak_ptr<platform::StreamOutput> output, StreamOutputType type,
                    const std::shared_ptr<platform::SerialQueue>& sampleHandlerQueue) override;
    void startCapture(std::function<void(std::optional<PlatformError>)> completion) override;

    // Test controls.
    // The size of the display the stream's filter was made for.
    DisplaySize display() const { return display_; }
    const platform::StreamConfiguration& configuration() const { return configuration_; }
    std::vector<std::pair<StreamOutputType, std::string>> registrations() const;
    bool startRequested() const;
    // Answers the start request on the calling thread.
    void completeStart(std::optional<PlatformError> error);
    // Delivers `buffer` to the output registered as `registeredAs`, on its queue, reporting
    // `reportedType` (normally the same). Returns false when no such output is registered.
    bool deliver(std::shared_ptr<const platform::SampleBuffer> buffer,
                 StreamOutputType registeredAs,
                 std::optional<StreamOutputType> reportedType = std::nullopt);
    // Tells the delegate, on the calling thread, that the stream stopped.
    void stop(const PlatformError& error);
    void dropPendingStart();

  private:
    SimScreenCapture& owner_;
    const DisplaySize display_;
    const platform::StreamConfiguration configuration_;
    const std::weak_ptr<platform::StreamDelegate> delegate_;
    mutable std::mutex mutex_;
    std::vector<Registration> registrations_;
    std::function<void(std::optional<PlatformError>)> startCompletion_;
    bool startRequested_ = false;
};

class SimScreenCapture final : public platform::ScreenCapture {
  public:
    SimScreenCapture() = default;
    // Drops the completions nobody answered: a start completion holds its source, which holds
    // the stream, so an unanswered one would keep both alive for good.
    ~SimScreenCapture() override;
    SimScreenCapture(const SimScreenCapture&) = delete;
    SimScreenCapture& operator=(const SimScreenCapture&) = delete;

    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentCompletion completion) override;
    std::shared_ptr<platform::ContentFilter>
    makeContentFilter(const platform::Display& display) override;
    std::shared_ptr<platform::CaptureStream>
    makeStream(const platform::ContentFilter& filter,
               const platform::StreamConfiguration& configuration,
               std::weak_ptr<platform::StreamDelegate> delegate) override;

    // Test controls.
    std::size_t pendingContentRequests() const;
    // Answers the oldest content request on the calling thread.
    void completeContentRequest(std::shared_ptr<platform::ShareableContent> content,
                                std::optional<PlatformError> error);
    // Makes adding an output of `type` fail with `error`.
    void failAddingOutput(StreamOutputType type, PlatformError error);
    std::shared_ptr<SimCaptureStream> lastStream() const;
    // Every call in order, e.g. "content(false,false)", "filter(1920x1080)", "stream",
    // "output(screen,tovanel.capture.screen)", "start".
    std::vector<std::string> events() const;

  private:
    friend class SimCaptureStream;
    void log(std::string event);
    std::optional<PlatformError> addingOutputFailure(StreamOutputType type) const;

    mutable std::mutex mutex_;
    std::vector<ContentCompletion> contentRequests_;
    std::map<StreamOutputType, PlatformError> outputFailures_;
    std::vector<std::shared_ptr<SimCaptureStream>> streams_;
    std::vector<std::string> events_;
};

} // namespace tovanel::sim
