// The screen-capture service: shareable content, a stream made from a display filter and a
// configuration, outputs registered per type on a queue, start with a completion, and the stop
// notification. The shapes follow ScreenCaptureKit one for one.
//
// Callers guarantee:
//   - displays, filters and queues given to a backend were made by the same backend / platform;
//   - whoever registers an output or a delegate keeps it alive for as long as it wants calls.
// Every backend must:
//   - call each completion exactly once, on a thread of its own choosing;
//   - always return a filter and a stream (the platform's initialisers cannot fail);
//   - set the nine configuration values on the platform in the order StreamConfiguration
//     declares them, and no others;
//   - reach outputs and the delegate only through the weak references it was given, and do
//     nothing once they are gone;
//   - deliver sample buffers of an output one at a time, on the queue it was registered with;
//   - give every error a readable description.
#pragma once

#include "platform/dispatch.h"
#include "platform/media.h"
#include "platform/platform_error.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tovanel::platform {

// SCStreamOutputType. Other values may arrive and are passed on unchanged.
enum class StreamOutputType : std::int64_t {
    screen = 0,
    audio = 1,
};

struct CMTime {
    std::int64_t value = 0;
    std::int32_t timescale = 0;
    friend bool operator==(const CMTime&, const CMTime&) = default;
};

// The nine stream settings, in the order they are set.
struct StreamConfiguration {
    std::int64_t width = 0;
    std::int64_t height = 0;
    CMTime minimumFrameInterval{};
    std::int64_t queueDepth = 0;
    bool showsCursor = false;
    bool capturesAudio = false;
    std::int64_t sampleRate = 0;
    std::int64_t channelCount = 0;
    bool excludesCurrentProcessAudio = false;
    friend bool operator==(const StreamConfiguration&, const StreamConfiguration&) = default;
};

class Display {
  public:
    virtual ~Display() = default;
    virtual std::int64_t width() const = 0; // points, as the display reports them
    virtual std::int64_t height() const = 0;
};

class ShareableContent {
  public:
    virtual ~ShareableContent() = default;
    virtual const std::vector<std::shared_ptr<Display>>& displays() const = 0;
    virtual std::size_t windowCount() const = 0;
    virtual std::size_t applicationCount() const = 0;
};

class ContentFilter {
  public:
    virtual ~ContentFilter() = default;
};

// SCStreamOutput.
class StreamOutput {
  public:
    virtual ~StreamOutput() = default;
    virtual void streamDidOutputSampleBuffer(const SampleBuffer& sampleBuffer,
                                             StreamOutputType type) = 0;
};

// SCStreamDelegate.
class StreamDelegate {
  public:
    virtual ~StreamDelegate() = default;
    virtual void streamDidStopWithError(const PlatformError& error) = 0;
};

class CaptureStream {
  public:
    virtual ~CaptureStream() = default;
    // addStreamOutput:type:sampleHandlerQueue:error:; the error when it fails.
    virtual std::optional<PlatformError>
    addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                    const std::shared_ptr<SerialQueue>& sampleHandlerQueue) = 0;
    // startCaptureWithCompletionHandler:; the completion gets the error when starting failed.
    virtual void startCapture(std::function<void(std::optional<PlatformError>)> completion) = 0;
};

class ScreenCapture {
  public:
    using ContentCompletion = std::function<void(std::shared_ptr<ShareableContent> content,
                                                 std::optional<PlatformError> error)>;

    virtual ~ScreenCapture() = default;
    // getShareableContentExcludingDesktopWindows:onScreenWindowsOnly:completionHandler:. The
    // completion may get content, an error, both or neither.
    virtual void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                     ContentCompletion completion) = 0;
    // initWithDisplay:excludingWindows: with no excluded windows.
    virtual std::shared_ptr<ContentFilter> makeContentFilter(const Display& display) = 0;
    // initWithFilter:configuration:delegate:.
    virtual std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                                      const StreamConfiguration& configuration,
                                                      std::weak_ptr<StreamDelegate> delegate) = 0;
};

} // namespace tovanel::platform
