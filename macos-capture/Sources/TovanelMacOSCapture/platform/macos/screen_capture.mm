// ScreenCaptureKit behind the screen-capture facility. Completion handlers and the stop
// notification run on threads ScreenCaptureKit chooses; sample buffers arrive on the queue each
// output was added with. Everything here is ARC-managed; the sample buffers are borrowed for
// the length of their callback.
#include "platform/macos/screen_capture.h"

#include "platform/macos/dispatch.h"
#include "platform/macos/foundation_bridge.h"
#include "platform/macos/media.h"

#import <ScreenCaptureKit/ScreenCaptureKit.h>

#include <mutex>
#include <vector>

using tovanel::platform::StreamDelegate;
using tovanel::platform::StreamOutput;

// Our one Objective-C class: it stands in for a C++ output or delegate towards ScreenCaptureKit
// and forwards each call through a weak reference, doing nothing once its target is gone.
@interface TovanelStreamForwarder : NSObject <SCStreamOutput, SCStreamDelegate>
- (instancetype)initWithOutput:(std::weak_ptr<StreamOutput>)output
                      delegate:(std::weak_ptr<StreamDelegate>)delegate NS_DESIGNATED_INITIALIZER;
- (instancetype)init NS_UNAVAILABLE;
@end

@implementation TovanelStreamForwarder {
    std::weak_ptr<StreamOutput> _output;
    std::weak_ptr<StreamDelegate> _delegate;
}

- (instancetype)initWithOutput:(std::weak_ptr<StreamOutput>)output
                      delegate:(std::weak_ptr<StreamDelegate>)delegate {
    if ((self = [super init])) {
        _output = std::move(output);
        _delegate = std::move(delegate);
    }
    return self;
}

// On the sample handler queue of the output, one buffer at a time. The type is passed on as
// ScreenCaptureKit reports it.
- (void)stream:(SCStream*)stream
    didOutputSampleBuffer:(CMSampleBufferRef)sampleBuffer
                   ofType:(SCStreamOutputType)type {
    (void)stream;
    @autoreleasepool {
        if (const auto output = _output.lock()) {
            const tovanel::platform::macos::MacSampleBuffer buffer(sampleBuffer);
            output->streamDidOutputSampleBuffer(
                buffer, static_cast<tovanel::platform::StreamOutputType>(type));
        }
    }
}

- (void)stream:(SCStream*)stream didStopWithError:(NSError*)error {
    (void)stream;
    @autoreleasepool {
        if (const auto delegate = _delegate.lock()) {
            delegate->streamDidStopWithError(tovanel::platform::macos::platformError(
                "SCStream stream:didStopWithError:", error));
        }
    }
}

@end

namespace tovanel::platform::macos {

namespace {

static_assert(static_cast<NSInteger>(StreamOutputType::screen) == SCStreamOutputTypeScreen);
static_assert(static_cast<NSInteger>(StreamOutputType::audio) == SCStreamOutputTypeAudio);

class MacDisplay final : public Display {
  public:
    explicit MacDisplay(SCDisplay* display) : display_(display) {}

    SCDisplay* display() const { return display_; }
    std::int64_t width() const override { return display_.width; }
    std::int64_t height() const override { return display_.height; }

  private:
    SCDisplay* display_; // strong (ARC), never nil
};

class MacShareableContent final : public ShareableContent {
  public:
    explicit MacShareableContent(SCShareableContent* content) : content_(content) {
        for (SCDisplay* display in content.displays) {
            displays_.push_back(std::make_shared<MacDisplay>(display));
        }
    }

    const std::vector<std::shared_ptr<Display>>& displays() const override { return displays_; }
    std::size_t windowCount() const override { return content_.windows.count; }
    std::size_t applicationCount() const override { return content_.applications.count; }

  private:
    SCShareableContent* content_; // strong (ARC), never nil
    std::vector<std::shared_ptr<Display>> displays_;
};

class MacContentFilter final : public ContentFilter {
  public:
    explicit MacContentFilter(SCContentFilter* filter) : filter_(filter) {}
    SCContentFilter* filter() const { return filter_; }

  private:
    SCContentFilter* filter_; // strong (ARC), never nil
};

class MacCaptureStream final : public CaptureStream {
  public:
    MacCaptureStream(SCStream* stream, TovanelStreamForwarder* delegate)
        : stream_(stream), delegate_(delegate) {}

    std::optional<PlatformError>
    addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                    const std::shared_ptr<SerialQueue>& sampleHandlerQueue) override {
        TovanelStreamForwarder* forwarder =
            [[TovanelStreamForwarder alloc] initWithOutput:std::move(output) delegate:{}];
        // Callers guarantee the queue is one of ours.
        const dispatch_queue_t queue =
            sampleHandlerQueue
                ? static_cast<const MacSerialQueue&>(*sampleHandlerQueue).dispatchQueue()
                : nil;
        NSError* error = nil;
        if (![stream_ addStreamOutput:forwarder
                                 type:static_cast<SCStreamOutputType>(type)
                   sampleHandlerQueue:queue
                                error:&error]) {
            return platformError("SCStream addStreamOutput:type:sampleHandlerQueue:error:", error);
        }
        std::lock_guard lock(mutex_);
        outputs_.push_back(forwarder);
        return std::nullopt;
    }

    void startCapture(std::function<void(std::optional<PlatformError>)> completion) override {
        [stream_ startCaptureWithCompletionHandler:^(NSError* _Nullable error) {
          @autoreleasepool {
              if (error == nil) {
                  completion(std::nullopt);
              } else {
                  completion(platformError("SCStream startCaptureWithCompletionHandler:", error));
              }
          }
        }];
    }

  private:
    // Strong references for the stream's whole life: ScreenCaptureKit does not promise to keep
    // its delegate or its outputs.
    SCStream* stream_;
    [[maybe_unused]] TovanelStreamForwarder* delegate_; // held, never read
    std::mutex mutex_;
    std::vector<TovanelStreamForwarder*> outputs_;
};

} // namespace

void MacScreenCapture::getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                           ContentCompletion completion) {
    @autoreleasepool {
        [SCShareableContent
            getShareableContentExcludingDesktopWindows:excludeDesktopWindows
                                   onScreenWindowsOnly:onScreenWindowsOnly
                                     completionHandler:^(SCShareableContent* _Nullable content,
                                                         NSError* _Nullable error) {
                                       @autoreleasepool {
                                           std::shared_ptr<ShareableContent> wrapped;
                                           if (content != nil) {
                                               wrapped =
                                                   std::make_shared<MacShareableContent>(content);
                                           }
                                           std::optional<PlatformError> failure;
                                           if (error != nil) {
                                               failure = platformError(
                                                   "SCShareableContent getShareableContent"
                                                   "ExcludingDesktopWindows:onScreenWindowsOnly:"
                                                   "completionHandler:",
                                                   error);
                                           }
                                           completion(std::move(wrapped), std::move(failure));
                                       }
                                     }];
    }
}

std::shared_ptr<ContentFilter> MacScreenCapture::makeContentFilter(const Display& display) {
    @autoreleasepool {
        // Callers guarantee the display came from our shareable content.
        SCDisplay* native = static_cast<const MacDisplay&>(display).display();
        return std::make_shared<MacContentFilter>([[SCContentFilter alloc] initWithDisplay:native
                                                                          excludingWindows:@[]]);
    }
}

std::shared_ptr<CaptureStream>
MacScreenCapture::makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                             std::weak_ptr<StreamDelegate> delegate) {
    @autoreleasepool {
        // The nine settings, in this order, on a fresh configuration.
        SCStreamConfiguration* settings = [[SCStreamConfiguration alloc] init];
        settings.width = static_cast<size_t>(configuration.width); // display points as pixels
        settings.height = static_cast<size_t>(configuration.height);
        settings.minimumFrameInterval = CMTimeMake(configuration.minimumFrameInterval.value,
                                                   configuration.minimumFrameInterval.timescale);
        settings.queueDepth = static_cast<NSInteger>(configuration.queueDepth);
        settings.showsCursor = configuration.showsCursor;
        settings.capturesAudio = configuration.capturesAudio;
        settings.sampleRate = static_cast<NSInteger>(configuration.sampleRate);
        settings.channelCount = static_cast<NSInteger>(configuration.channelCount);
        settings.excludesCurrentProcessAudio = configuration.excludesCurrentProcessAudio;

        TovanelStreamForwarder* forwarder =
            [[TovanelStreamForwarder alloc] initWithOutput:{} delegate:std::move(delegate)];
        // Callers guarantee the filter is one of ours.
        SCStream* stream =
            [[SCStream alloc] initWithFilter:static_cast<const MacContentFilter&>(filter).filter()
                               configuration:settings
                                    delegate:forwarder];
        return std::make_shared<MacCaptureStream>(stream, forwarder);
    }
}

} // namespace tovanel::platform::macos
