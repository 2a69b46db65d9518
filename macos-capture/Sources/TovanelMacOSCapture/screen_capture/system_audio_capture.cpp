// SystemAudioCapture: set-up in three stages, the status timer, the stop notification and the
// sample handler.
#include "screen_capture/system_audio_capture.h"

#include "devices/device_selection.h"
#include "platform/platform.h"

#include <chrono>
#include <cstdio>

namespace tovanel {

namespace {

using namespace platform;

constexpr auto kStatusInterval = std::chrono::seconds(1);
constexpr std::string_view kConvertedDescription = "converted Float32 PCM";

std::shared_ptr<SerialQueue> makeQueue(const char* label) {
    return current().dispatch.makeSerialQueue(label);
}

// The nine stream settings for capturing `display` with its audio.
StreamConfiguration configurationFor(const Display& display) {
    StreamConfiguration configuration;
    configuration.width = display.width();
    configuration.height = display.height();
    configuration.minimumFrameInterval = CMTime{1, 30}; // at most 30 screen frames a second
    configuration.queueDepth = 3;
    configuration.showsCursor = false;
    configuration.capturesAudio = true;
    configuration.sampleRate = 48000;
    configuration.channelCount = 2;
    configuration.excludesCurrentProcessAudio = true;
    return configuration;
}

} // namespace

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<OutputHandle> output,
                                       MessageCallback onFailure, MessageCallback onStatus)
    : output(std::move(output)), onFailure(std::move(onFailure)), onStatus(std::move(onStatus)),
      sampleQueue(makeQueue("tovanel.capture.samples")),
      screenQueue(makeQueue("tovanel.capture.screen")),
      statusQueue(makeQueue("tovanel.capture.status")) {}

void SystemAudioCapture::start() {
    if (const auto restored = restorePhysicalOutputIfNeeded()) {
        reportStatus(onStatus, [&] { return "ok: restored PC tovanel output " + *restored; });
    }
    reportStatus(onStatus, [] { return std::string("ok: requesting ScreenCaptureKit content"); });
    // Held weakly: a source that is gone by the time the content arrives does nothing.
    current().screenCapture.getShareableContent(
        false, false,
        [weak = weak_from_this()](std::shared_ptr<ShareableContent> content,
                                  std::optional<PlatformError> error) {
            if (const auto self = weak.lock()) {
                self->handleShareableContent(std::move(content), std::move(error));
            }
        });
}

void SystemAudioCapture::handleShareableContent(std::shared_ptr<ShareableContent> content,
                                                std::optional<PlatformError> error) {
    if (error) {
        fail("shareable content unavailable: " + error->localizedDescription());
    }
    if (!content) {
        fail("no shareable content available");
    }
    const auto& displays = content->displays();
    if (displays.empty()) {
        fail("no display available for ScreenCaptureKit audio capture");
    }
    const Display& display = *displays.front();
    reportStatus(onStatus, [&] {
        return "ok: starting display capture displays=" + std::to_string(displays.size()) +
               " windows=" + std::to_string(content->windowCount()) +
               " apps=" + std::to_string(content->applicationCount());
    });

    ScreenCapture& screenCapture = current().screenCapture;
    const auto filter = screenCapture.makeContentFilter(display);
    auto newStream = screenCapture.makeStream(*filter, configurationFor(display), weak_from_this());
    for (const auto& [type, queue] : {std::pair{StreamOutputType::screen, screenQueue},
                                      std::pair{StreamOutputType::audio, sampleQueue}}) {
        if (const auto failure = newStream->addStreamOutput(weak_from_this(), type, queue)) {
            fail("failed to add audio output: " + failure->localizedDescription());
        }
    }
    stream = std::move(newStream);
    // Held strongly until the completion has run.
    stream->startCapture([self = shared_from_this()](std::optional<PlatformError> startError) {
        self->handleStartCompletion(std::move(startError));
    });
}

void SystemAudioCapture::handleStartCompletion(std::optional<PlatformError> error) {
    if (error) {
        fail("failed to start capture: " + error->localizedDescription());
    }
    writeStartedBanner(startedBanner);
    startStatusTimer();
}

void SystemAudioCapture::startStatusTimer() {
    statusTimer = current().dispatch.startRepeatingTimer(
        statusQueue, kStatusInterval, [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            reportStatus(self->onStatus, [&] {
                std::lock_guard lock(self->lastAudioDescriptionMutex);
                return self->countersLine(" format=" + self->lastAudioDescription);
            });
        });
}

void SystemAudioCapture::streamDidStopWithError(const PlatformError& error) {
    fail("capture stopped: " + error.localizedDescription());
}

void SystemAudioCapture::streamDidOutputSampleBuffer(const SampleBuffer& sampleBuffer,
                                                     StreamOutputType type) {
    if (type == StreamOutputType::screen) {
        screenFrames.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (type != StreamOutputType::audio) {
        return;
    }
    audioBuffers.fetch_add(1, std::memory_order_relaxed);
    auto converted = convertToTargetPCM(sampleBuffer, conversion);
    if (const auto* failure = std::get_if<ConversionError>(&converted)) {
        reportConversionFailure(*failure);
        return;
    }
    ByteBlock block = std::get<ByteBlock>(std::move(converted)); // sanitised as it was made
    if (block.empty()) {
        return;
    }
    audioBytes.fetch_add(static_cast<std::int64_t>(block.size()), std::memory_order_relaxed);
    output->write(block);
    conversion.spareBlock = std::move(block); // written: its memory serves the next buffer
    if (!wroteAudio) {
        wroteAudio = true;
        std::lock_guard lock(lastAudioDescriptionMutex);
        lastAudioDescription = kConvertedDescription;
    }
}

void SystemAudioCapture::reportConversionFailure(const ConversionError& error) {
    const std::string description = localizedDescription(error);
    const std::string line = "audio conversion failed: " + description + "\n";
    std::fputs(line.c_str(), stderr);
    reportStatus(onStatus, [&] { return countersLine(" conversionError=" + description); });
}

std::string SystemAudioCapture::countersLine(std::string_view ending) const {
    std::string line = "ok: screenFrames=" + std::to_string(screenFrames.load()) +
                       " audioBuffers=" + std::to_string(audioBuffers.load()) +
                       " audioBytes=" + std::to_string(audioBytes.load());
    line += ending;
    return line;
}

void SystemAudioCapture::fail(const std::string& message) const {
    failCaptureSource(failPrefix, message, onFailure);
}

} // namespace tovanel
