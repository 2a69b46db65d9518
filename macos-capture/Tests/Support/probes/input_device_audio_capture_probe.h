// Test access to InputDeviceAudioCapture's private fields (the class names this struct its
// friend).
#pragma once

#include "capture/input_device_audio_capture.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

namespace tovanel {

struct InputDeviceAudioCaptureProbe {
    static std::string queue(const InputDeviceAudioCapture& source) {
        return source.captureQueue->label();
    }
    static platform::SerialQueue& captureQueue(const InputDeviceAudioCapture& source) {
        return *source.captureQueue;
    }
    static bool holdsDefaults(const InputDeviceAudioCapture& source) {
        static_assert(std::tuple_size_v<decltype(InputDeviceAudioCapture::audioQueueBuffers)> == 3);
        return source.inputBuffers == 0 && source.audioBytes == 0 &&
               source.lastFormatDescription == "none" && !source.selectedDeviceID &&
               source.selectedDeviceName == "Unknown Input" && !source.selectedDeviceUID &&
               source.statusTimer == nullptr && source.audioQueue == nullptr &&
               source.audioQueueBuffers == decltype(source.audioQueueBuffers){};
    }
    static platform::AudioQueueRef audioQueue(const InputDeviceAudioCapture& source) {
        return source.audioQueue;
    }
    static std::array<platform::AudioQueueBufferRef, 3>
    audioQueueBuffers(const InputDeviceAudioCapture& source) {
        return source.audioQueueBuffers;
    }
    static bool hasStatusTimer(const InputDeviceAudioCapture& source) {
        return source.statusTimer != nullptr;
    }
    static std::int64_t inputBuffers(const InputDeviceAudioCapture& source) {
        return source.inputBuffers;
    }
    static std::int64_t audioBytes(const InputDeviceAudioCapture& source) {
        return source.audioBytes;
    }
    static std::string lastFormatDescription(const InputDeviceAudioCapture& source) {
        return source.lastFormatDescription;
    }
    static std::optional<std::uint32_t> selectedDeviceID(const InputDeviceAudioCapture& source) {
        return source.selectedDeviceID;
    }
    static std::string selectedDeviceName(const InputDeviceAudioCapture& source) {
        return source.selectedDeviceName;
    }
    static std::optional<std::string> selectedDeviceUID(const InputDeviceAudioCapture& source) {
        return source.selectedDeviceUID;
    }
};

} // namespace tovanel
