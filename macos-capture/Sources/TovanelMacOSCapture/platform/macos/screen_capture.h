// The screen-capture service on ScreenCaptureKit: shareable content, a display filter, a stream
// with its configuration, outputs on our serial queues, start, and the stop notification.
#pragma once

#include "platform/screen_capture.h"

namespace tovanel::platform::macos {

class MacScreenCapture final : public ScreenCapture {
  public:
    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentCompletion completion) override;
    std::shared_ptr<ContentFilter> makeContentFilter(const Display& display) override;
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                              const StreamConfiguration& configuration,
                                              std::weak_ptr<StreamDelegate> delegate) override;
};

} // namespace tovanel::platform::macos
