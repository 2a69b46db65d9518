// SystemAudioCapture: the capture source that takes the computer's audio from the screen-capture
// service and writes it as the PCM stream.
#pragma once

#include "launcher/capture_source.h"
#include "pcm/sample_conversion.h"
#include "platform/dispatch.h"
#include "platform/output_handle.h"
#include "platform/screen_capture.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tovanel {

class SystemAudioCapture : public std::enable_shared_from_this<SystemAudioCapture>,
                           public platform::StreamOutput,
                           public platform::StreamDelegate {
  public:
    static constexpr std::string_view failPrefix = "tovanel-macos-capture: ";
    static constexpr std::string_view startedBanner = "tovanel-macos-capture started\n";

    // Creates the three queues and nothing else: no input or output, no callback, no capture.
    SystemAudioCapture(std::shared_ptr<platform::OutputHandle> output, MessageCallback onFailure,
                       MessageCallback onStatus);
    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Restores a physical output if needed and asks for the shareable content; returns before
    // capture runs. Set-up goes on in the service's completions and ends with the started banner
    // and the status timer, or in fail. Called once, on the main thread.
    void start();

    // stream:didOutputSampleBuffer:ofType: — screen buffers on the screen queue, audio buffers
    // on the sample queue.
    void streamDidOutputSampleBuffer(const platform::SampleBuffer& sampleBuffer,
                                     platform::StreamOutputType type) override;
    // stream:didStopWithError: — ends the process.
    void streamDidStopWithError(const platform::PlatformError& error) override;

  private:
    void handleShareableContent(std::shared_ptr<platform::ShareableContent> content,
                                std::optional<platform::PlatformError> error);
    void handleStartCompletion(std::optional<platform::PlatformError> error);
    void startStatusTimer();
    void reportConversionFailure(const ConversionError& error);
    // "ok: screenFrames=… audioBuffers=… audioBytes=…" with `ending` appended.
    std::string countersLine(std::string_view ending) const;
    [[noreturn]] void fail(const std::string& message) const;

    // Fields in the order the constructor sets them; the tag says which thread writes each.
    const std::shared_ptr<platform::OutputHandle> output; // written on the sample queue only
    const MessageCallback onFailure;
    const MessageCallback onStatus; // any thread
    const std::shared_ptr<platform::SerialQueue> sampleQueue;
    const std::shared_ptr<platform::SerialQueue> screenQueue;
    const std::shared_ptr<platform::SerialQueue> statusQueue;
    std::shared_ptr<platform::CaptureStream> stream; // content completion, once
    ConverterState conversion; // sample queue: converter, description, spare block
    std::unique_ptr<platform::RepeatingTimer> statusTimer; // start completion, once
    std::atomic<std::int64_t> screenFrames{0};             // screen queue; status timer reads
    std::atomic<std::int64_t> audioBuffers{0};             // sample queue; status timer reads
    std::atomic<std::int64_t> audioBytes{0};               // sample queue; status timer reads
    mutable std::mutex lastAudioDescriptionMutex;
    std::string lastAudioDescription = "none"; // sample queue; status timer reads; under the mutex
    bool wroteAudio = false;                   // sample queue
};

} // namespace tovanel
