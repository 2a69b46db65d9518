// ScreenCapture over libpulse: the computer's audio is a record stream on the default sink's
// monitor. Shareable content is one logical display, no windows, and as many applications as
// clients are playing audio; the screen output is accepted and delivers nothing.
#pragma once

#include "platform/pulse/connection.h"
#include "platform/screen_capture.h"

namespace tovanel::platform::pulse {

// How much the server gathers before it sends: one buffer every 10 ms.
inline constexpr std::uint32_t kCaptureFragmentMilliseconds = 10;

class PulseScreenCapture final : public ScreenCapture {
  public:
    explicit PulseScreenCapture(PulseConnection& connection) : connection_(connection) {}

    void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                             ContentCompletion completion) override;
    std::shared_ptr<ContentFilter> makeContentFilter(const Display& display) override;
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                              const StreamConfiguration& configuration,
                                              std::weak_ptr<StreamDelegate> delegate) override;

  private:
    PulseConnection& connection_;
};

} // namespace tovanel::platform::pulse
