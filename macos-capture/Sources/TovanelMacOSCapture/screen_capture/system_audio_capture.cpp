// SystemAudioCapture: construction and the failure path.
#include "screen_capture/system_audio_capture.h"

#include "platform/platform.h"

namespace tovanel {

namespace {
std::shared_ptr<platform::SerialQueue> makeQueue(const char* label) {
    return platform::current().dispatch.makeSerialQueue(label);
}
} // namespace

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<platform::OutputHandle> output,
                                       MessageCallback onFailure, MessageCallback onStatus)
    : output(std::move(output)), onFailure(std::move(onFailure)), onStatus(std::move(onStatus)),
      sampleQueue(makeQueue("tovanel.capture.samples")),
      screenQueue(makeQueue("tovanel.capture.screen")),
      statusQueue(makeQueue("tovanel.capture.status")) {}

void SystemAudioCapture::fail(const std::string& message) const {
    failCaptureSource(failPrefix, message, onFailure);
}

} // namespace tovanel
