// Simulated screen-capture service: content requests and stream starts that the test answers,
// adding an output that fails per type on demand, sample buffers delivered on the queues the
// outputs were registered with, a stop the test triggers, and a log of every call in order.
#pragma once

#include "platform/screen_capture.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tovanel::sim {

using platform::PlatformError;
using platform::StreamOutputType;

struct SimDisplay final : platform::Display {
    std::int64_t w = 0;
    std::int64_t h = 0;
    SimDisplay(std::int64_t width, std::int64_t height) : w(width), h(height) {}
    std::int64_t width() const override { return w; }
    std::int64_t height() const override { return h; }
};

struct SimContent final : platform::ShareableContent {
    std::vector<std::shared_ptr<platform::Display>> list;
    std::size_t windows = 0;
    std::size_t applications = 0;
    const std::vector<std::shared_ptr<platform::Display>>& displays() const override {
        return list;
    }
    std::size_t windowCount() const override { return windows; }
    std::size_t applicationCount() const override { return applications; }
};

class SimScreenCapture;

struct SimStream final : platform::CaptureStream {
    struct Output {
        StreamOutputType type;
        std::weak_ptr<platform::StreamOutput> output;
        std::shared_ptr<platform::SerialQueue> queue;
    };

    SimScreenCapture& owner;
    platform::StreamConfiguration configuration;
    std::weak_ptr<platform::StreamDelegate> delegate;
    std::vector<Output> outputs;
    std::function<void(std::optional<PlatformError>)> startCompletion;

    SimStream(SimScreenCapture& owner, platform::StreamConfiguration configuration,
              std::weak_ptr<platform::StreamDelegate> delegate)
        : owner(owner), configuration(configuration), delegate(std::move(delegate)) {}

    std::optional<PlatformError>
    addStreamOutput(std::weak_ptr<platform::StreamOutput> output, StreamOutputType type,
                    const std::shared_ptr<platform::SerialQueue>& queue) override;
    void startCapture(std::function<void(std::optional<PlatformError>)> completion) override;

    // Hands `buffer` to the output registered as `registeredAs`, on its queue, as `reported`.
    void deliver(std::shared_ptr<const platform::SampleBuffer> buffer,
                 StreamOutputType registeredAs, StreamOutputType reported);
    void deliver(std::shared_ptr<const platform::SampleBuffer> buffer, StreamOutputType type) {
        deliver(std::move(buffer), type, type);
    }
};

class SimScreenCapture final : public platform::ScreenCapture {
  public:
    std::deque<ContentCompletion> requests;
    std::map<StreamOutputType, PlatformError> outputFaults;
    std::vector<std::string> events; // "content(0,0)", "filter(WxH)", "stream", ...
    std::shared_ptr<SimStream> stream;

    // Answers the oldest content request on the calling thread.
    void answer(std::shared_ptr<platform::ShareableContent> content,
                std::optional<PlatformError> error);

    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentCompletion completion) override;
    std::shared_ptr<platform::ContentFilter>
    makeContentFilter(const platform::Display& display) override;
    std::shared_ptr<platform::CaptureStream>
    makeStream(const platform::ContentFilter& filter,
               const platform::StreamConfiguration& configuration,
               std::weak_ptr<platform::StreamDelegate> delegate) override;
};

// Content listing displays of these sizes, in this order.
std::shared_ptr<SimContent> content(std::vector<std::pair<std::int64_t, std::int64_t>> displays,
                                    std::size_t windows = 41, std::size_t applications = 17);

} // namespace tovanel::sim
