// InputDeviceAudioCapture: the capture source that records a virtual loopback input device
// through an input queue and writes it as the PCM stream.
#pragma once

#include "launcher/capture_source.h"
#include "platform/dispatch.h"
#include "platform/output_handle.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tovanel {

class InputDeviceAudioCapture : public std::enable_shared_from_this<InputDeviceAudioCapture> {
  public:
    static constexpr std::string_view failPrefix = "tovanel-input-device-capture: ";
    static constexpr std::string_view startedBanner = "tovanel-input-device-capture started\n";

    // Creates the capture queue and nothing else: no input or output, no callback, no capture.
    InputDeviceAudioCapture(std::shared_ptr<platform::OutputHandle> output,
                            MessageCallback onFailure, MessageCallback onStatus);
    InputDeviceAudioCapture(const InputDeviceAudioCapture&) = delete;
    InputDeviceAudioCapture& operator=(const InputDeviceAudioCapture&) = delete;

  private:
    friend struct InputDeviceAudioCaptureProbe; // tests read the fields through it

    [[noreturn]] void fail(const std::string& message) const;

    // Fields in the order the constructor sets them; the tag says which thread writes each.
    const std::shared_ptr<platform::OutputHandle> output; // input queue thread only
    const MessageCallback onFailure;
    const MessageCallback onStatus; // any thread
    const std::shared_ptr<platform::SerialQueue> captureQueue;
    std::unique_ptr<platform::RepeatingTimer> statusTimer; // main queue, once
    std::atomic<std::int64_t> inputBuffers{0};             // input queue thread; timer reads
    std::atomic<std::int64_t> audioBytes{0};               // input queue thread; timer reads
    // Main thread, set before the status timer (its only other reader) exists.
    std::string lastFormatDescription = "none";
    // Main thread: written in the first phase of start, read in the second.
    std::optional<std::uint32_t> selectedDeviceID;
    std::string selectedDeviceName = "Unknown Input";
    std::optional<std::string> selectedDeviceUID;
};

} // namespace tovanel
