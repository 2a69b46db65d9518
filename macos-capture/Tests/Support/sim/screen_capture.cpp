// Simulated screen-capture service.
#include "sim/screen_capture.h"

namespace tovanel::sim {

using namespace platform;

std::optional<PlatformError>
SimStream::addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                           const std::shared_ptr<SerialQueue>& queue) {
    owner.events.push_back("output(" + std::to_string(static_cast<int>(type)) + "," +
                           queue->label() + ")");
    if (const auto fault = owner.outputFaults.find(type); fault != owner.outputFaults.end()) {
        return fault->second;
    }
    outputs.push_back({type, std::move(output), queue});
    return std::nullopt;
}

void SimStream::startCapture(std::function<void(std::optional<PlatformError>)> completion) {
    owner.events.push_back("start");
    startCompletion = std::move(completion);
}

void SimStream::deliver(std::shared_ptr<const SampleBuffer> buffer, StreamOutputType registeredAs,
                        StreamOutputType reported) {
    for (const Output& registered : outputs) {
        if (registered.type == registeredAs) {
            registered.queue->async([output = registered.output, buffer, reported] {
                if (const auto alive = output.lock()) {
                    alive->streamDidOutputSampleBuffer(*buffer, reported);
                }
            });
        }
    }
}

void SimScreenCapture::answer(std::shared_ptr<ShareableContent> content,
                              std::optional<PlatformError> error) {
    auto completion = std::move(requests.front());
    requests.pop_front();
    completion(std::move(content), std::move(error));
}

void SimScreenCapture::getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                           ContentCompletion completion) {
    events.push_back("content(" + std::to_string(excludeDesktopWindows) + "," +
                     std::to_string(onScreenWindowsOnly) + ")");
    requests.push_back(std::move(completion));
}

std::shared_ptr<ContentFilter> SimScreenCapture::makeContentFilter(const Display& display) {
    events.push_back("filter(" + std::to_string(display.width()) + "x" +
                     std::to_string(display.height()) + ")");
    return std::make_shared<ContentFilter>();
}

std::shared_ptr<CaptureStream> SimScreenCapture::makeStream(const ContentFilter&,
                                                            const StreamConfiguration& configuration,
                                                            std::weak_ptr<StreamDelegate> delegate) {
    events.push_back("stream");
    stream = std::make_shared<SimStream>(*this, configuration, std::move(delegate));
    return stream;
}

std::shared_ptr<SimContent> content(std::vector<std::pair<std::int64_t, std::int64_t>> displays,
                                    std::size_t windows, std::size_t applications) {
    auto made = std::make_shared<SimContent>();
    for (const auto& [width, height] : displays) {
        made->list.push_back(std::make_shared<SimDisplay>(width, height));
    }
    made->windows = windows;
    made->applications = applications;
    return made;
}

} // namespace tovanel::sim
