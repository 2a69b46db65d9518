// Simulated screen-capture service. (Stub until the simulation is written.)
#pragma once

#include "platform/screen_capture.h"

namespace tovanel::sim {

class SimScreenCapture : public platform::ScreenCapture {
  public:
    void getShareableContent(bool, bool, ContentCompletion) override {}
    std::shared_ptr<platform::ContentFilter> makeContentFilter(const platform::Display&) override {
        return nullptr;
    }
    std::shared_ptr<platform::CaptureStream>
    makeStream(const platform::ContentFilter&, const platform::StreamConfiguration&,
               std::weak_ptr<platform::StreamDelegate>) override {
        return nullptr;
    }
};

} // namespace tovanel::sim
