// Simulated screen-capture service: content requests and stream starts the test answers, outputs
// failing per type on demand, sample buffers on the outputs' queues, and a log of every call.
#pragma once

#include "platform/screen_capture.h"
#include "sim/dispatch.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tovanel::sim {

using namespace platform;

struct SimDisplay final : Display {
    std::int64_t w, h;
    SimDisplay(std::int64_t width, std::int64_t height) : w(width), h(height) {}
    std::int64_t width() const override { return w; }
    std::int64_t height() const override { return h; }
};

struct SimContent final : ShareableContent {
    std::vector<std::shared_ptr<Display>> list;
    std::size_t windows = 41, applications = 17;
    const std::vector<std::shared_ptr<Display>>& displays() const override { return list; }
    std::size_t windowCount() const override { return windows; }
    std::size_t applicationCount() const override { return applications; }
};

// Content listing displays of these sizes, in this order.
inline std::shared_ptr<SimContent>
content(std::vector<std::pair<std::int64_t, std::int64_t>> displays) {
    auto made = std::make_shared<SimContent>();
    for (const auto& [width, height] : displays) {
        made->list.push_back(std::make_shared<SimDisplay>(width, height));
    }
    return made;
}

struct SimStream final : CaptureStream {
    struct Output {
        StreamOutputType type;
        std::weak_ptr<StreamOutput> output;
        std::shared_ptr<SerialQueue> queue;
    };
    StreamConfiguration configuration;
    std::weak_ptr<StreamDelegate> delegate;
    std::vector<std::string>& events;
    const std::map<StreamOutputType, PlatformError>& outputFaults;
    std::vector<Output> outputs;
    std::function<void(std::optional<PlatformError>)> startCompletion;

    SimStream(StreamConfiguration configuration, std::weak_ptr<StreamDelegate> delegate,
              std::vector<std::string>& events,
              const std::map<StreamOutputType, PlatformError>& outputFaults)
        : configuration(configuration), delegate(std::move(delegate)), events(events),
          outputFaults(outputFaults) {}

    std::optional<PlatformError>
    addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                    const std::shared_ptr<SerialQueue>& queue) override {
        events.push_back("output(" + std::to_string(int(type)) + "," + queue->label() + ")");
        if (const auto fault = outputFaults.find(type); fault != outputFaults.end()) {
            return fault->second;
        }
        outputs.push_back({type, std::move(output), queue});
        return std::nullopt;
    }
    void startCapture(std::function<void(std::optional<PlatformError>)> completion) override {
        events.push_back("start");
        startCompletion = std::move(completion);
    }
    // Hands `buffer` to the output registered as `registeredAs`, on its queue, as `reported`,
    // and returns once it has been handled.
    void deliver(std::shared_ptr<const SampleBuffer> buffer, StreamOutputType registeredAs,
                 std::optional<StreamOutputType> reported = std::nullopt) {
        for (const Output& o : outputs) {
            if (o.type == registeredAs) {
                o.queue->async([output = o.output, buffer, type = reported.value_or(o.type)] {
                    if (const auto alive = output.lock()) {
                        alive->streamDidOutputSampleBuffer(*buffer, type);
                    }
                });
                drain(*o.queue);
            }
        }
    }
};

class SimScreenCapture final : public ScreenCapture {
  public:
    std::deque<ContentCompletion> requests;
    std::map<StreamOutputType, PlatformError> outputFaults;
    std::vector<std::string> events; // "content(0,0)", "filter(WxH)", "stream", ...
    std::shared_ptr<SimStream> stream;

    // Answers the oldest content request on the calling thread.
    void answer(std::shared_ptr<ShareableContent> content, std::optional<PlatformError> error) {
        auto completion = std::move(requests.front());
        requests.pop_front();
        completion(std::move(content), std::move(error));
    }

    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentCompletion completion) override {
        events.push_back("content(" + std::to_string(excludeDesktopWindows) + "," +
                         std::to_string(onScreenWindowsOnly) + ")");
        requests.push_back(std::move(completion));
    }
    std::shared_ptr<ContentFilter> makeContentFilter(const Display& display) override {
        events.push_back("filter(" + std::to_string(display.width()) + "x" +
                         std::to_string(display.height()) + ")");
        return std::make_shared<ContentFilter>();
    }
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter&,
                                              const StreamConfiguration& configuration,
                                              std::weak_ptr<StreamDelegate> delegate) override {
        events.push_back("stream");
        stream =
            std::make_shared<SimStream>(configuration, std::move(delegate), events, outputFaults);
        return stream;
    }
};

} // namespace tovanel::sim
