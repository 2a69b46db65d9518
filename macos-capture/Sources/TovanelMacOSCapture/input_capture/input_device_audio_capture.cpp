// InputDeviceAudioCapture: construction and the failure path.
#include "input_capture/input_device_audio_capture.h"

#include "platform/platform.h"

namespace tovanel {

InputDeviceAudioCapture::InputDeviceAudioCapture(std::shared_ptr<platform::OutputHandle> output,
                                                 MessageCallback onFailure,
                                                 MessageCallback onStatus)
    : output(std::move(output)), onFailure(std::move(onFailure)), onStatus(std::move(onStatus)),
      captureQueue(platform::current().dispatch.makeSerialQueue("tovanel.input-device.capture")) {}

void InputDeviceAudioCapture::fail(const std::string& message) const {
    failCaptureSource(failPrefix, message, onFailure);
}

} // namespace tovanel
