// InputDeviceAudioCapture: the capture source that records a virtual loopback input device
// through an input queue and writes it as the PCM stream.
#pragma once

#include "launcher/capture_source.h"
#include "platform/audio_hardware.h"
#include "platform/audio_queues.h"
#include "platform/dispatch.h"
#include "platform/output_handle.h"

#include <array>
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

    // Selects the virtual input device, makes it the default input, checks that the input may
    // be recorded (asking for the Microphone permission when nobody has decided yet) and
    // schedules the queue's set-up on the main queue, which must run for capture to begin. Called
    // once, on the main thread, on a source owned by a shared_ptr. Every fatal error ends the
    // process through fail.
    void start();

    // The input queue's callback, on the queue's own thread. `userData` is the source, not
    // retained; the start time and packet descriptions are not needed for linear PCM.
    static void inputCallback(void* userData, platform::AudioQueueRef queue,
                              platform::AudioQueueBufferRef buffer,
                              const platform::AudioTimeStamp* startTime,
                              std::uint32_t numberPacketDescriptions,
                              const platform::AudioStreamPacketDescription* packetDescriptions);

  private:
    static constexpr std::size_t audioQueueBufferCount = 3;

    [[noreturn]] void fail(const std::string& message) const;

    void selectVirtualInputDevice();
    void useAsDefaultInput(platform::AudioObjectID device, const std::string& name) const;
    void requireVirtualInputDevice() const;
    void openInputQueueOnceAuthorized();
    void openInputQueue();
    void handleAudioQueueBuffer(platform::AudioQueueRef queue,
                                platform::AudioQueueBufferRef buffer);
    void startStatusTimer();
    std::string counterText() const;

    // Fields in the order the constructor sets them; the tag says which thread writes each.
    const std::shared_ptr<platform::OutputHandle> output; // input queue thread only
    const MessageCallback onFailure;
    const MessageCallback onStatus; // any thread
    const std::shared_ptr<platform::SerialQueue> captureQueue;
    // Main queue, before the input queue starts; nothing reads them afterwards.
    platform::AudioQueueRef audioQueue = nullptr;
    std::array<platform::AudioQueueBufferRef, audioQueueBufferCount> audioQueueBuffers{};
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
