// Test access to SystemAudioCapture's private fields (the class names this struct its friend).
#pragma once

#include "capture/system_audio_capture.h"

#include <mutex>
#include <string>
#include <vector>

namespace tovanel {

struct SystemAudioCaptureProbe {
    static std::vector<std::string> queueLabels(const SystemAudioCapture& source) {
        return {source.sampleQueue->label(), source.screenQueue->label(),
                source.statusQueue->label()};
    }
    static platform::SerialQueue& sampleQueue(const SystemAudioCapture& source) {
        return *source.sampleQueue;
    }
    static platform::SerialQueue& screenQueue(const SystemAudioCapture& source) {
        return *source.screenQueue;
    }
    static platform::SerialQueue& statusQueue(const SystemAudioCapture& source) {
        return *source.statusQueue;
    }
    static bool holdsDefaults(const SystemAudioCapture& source) {
        std::lock_guard lock(source.lastAudioDescriptionMutex);
        return source.screenFrames == 0 && source.audioBuffers == 0 && source.audioBytes == 0 &&
               source.lastAudioDescription == "none" && source.statusTimer == nullptr &&
               source.stream == nullptr && source.conversion.converter == nullptr &&
               source.conversion.sourceFormatDescription == nullptr;
    }
    static bool hasStream(const SystemAudioCapture& source) { return source.stream != nullptr; }
    static bool hasConverter(const SystemAudioCapture& source) {
        return source.conversion.converter != nullptr;
    }
    static bool hasSourceFormatDescription(const SystemAudioCapture& source) {
        return source.conversion.sourceFormatDescription != nullptr;
    }
    static std::string lastAudioDescription(const SystemAudioCapture& source) {
        std::lock_guard lock(source.lastAudioDescriptionMutex);
        return source.lastAudioDescription;
    }
    static std::int64_t audioBuffers(const SystemAudioCapture& source) {
        return source.audioBuffers;
    }
    static std::int64_t audioBytes(const SystemAudioCapture& source) { return source.audioBytes; }
    static std::int64_t screenFrames(const SystemAudioCapture& source) {
        return source.screenFrames;
    }
};

} // namespace tovanel
