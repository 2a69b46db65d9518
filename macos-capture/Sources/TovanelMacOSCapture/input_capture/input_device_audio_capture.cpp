// InputDeviceAudioCapture: device selection, the input queue's set-up, its buffer handling and
// the status timer.
#include "input_capture/input_device_audio_capture.h"

#include "devices/audio_device_queries.h"
#include "devices/device_selection.h"
#include "pcm/sanitize.h"
#include "platform/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <span>

namespace tovanel {

using platform::AudioQueueBufferRef;
using platform::AudioQueueRef;
using platform::OSStatus;

namespace {

// The PCM stream's own layout (interleaved stereo binary32 at 48000 Hz), so the queue's buffers
// are written without conversion.
constexpr platform::AudioStreamBasicDescription streamFormat{
    48000.0,
    platform::kAudioFormatLinearPCM,
    platform::kAudioFormatFlagIsFloat | platform::kAudioFormatFlagIsPacked,
    8,  // bytes per packet
    1,  // frames per packet
    8,  // bytes per frame
    2,  // channels per frame
    32, // bits per channel
    0,
};

// 4800 frames: 100 ms per buffer, 300 ms of reserve across the three.
constexpr std::uint32_t audioQueueBufferByteSize = 38400;

constexpr const char* allowAnyInputVariable = "TOVANEL_ALLOW_ANY_INPUT";

constexpr const char* microphoneDeniedMessage =
    "Microphone access is denied, so the input device would record only silence. Allow the "
    "application that started this program, PC Tovanel Sender or your terminal, in System "
    "Settings, Privacy & Security, Microphone, then start it again.";
constexpr const char* microphoneRestrictedMessage =
    "Microphone access is restricted on this Mac by a management profile or Screen Time, so the "
    "input device would record only silence; only an administrator can allow it in System "
    "Settings, Privacy & Security, Microphone.";
constexpr const char* microphoneUncheckedMessage = "Microphone access cannot be checked: ";

// The bytes of a filled buffer that may be read: never more than the buffer holds, whatever
// count it carries, and none when it has no data.
std::uint32_t readableByteCount(const platform::AudioQueueBuffer& buffer) {
    if (buffer.mAudioData == nullptr) {
        return 0;
    }
    return std::min(buffer.mAudioDataByteSize, buffer.mAudioDataBytesCapacity);
}

} // namespace

InputDeviceAudioCapture::InputDeviceAudioCapture(std::shared_ptr<platform::OutputHandle> output,
                                                 MessageCallback onFailure,
                                                 MessageCallback onStatus)
    : output(std::move(output)), onFailure(std::move(onFailure)), onStatus(std::move(onStatus)),
      captureQueue(platform::current().dispatch.makeSerialQueue("tovanel.input-device.capture")) {}

void InputDeviceAudioCapture::fail(const std::string& message) const {
    failCaptureSource(failPrefix, message, onFailure);
}

void InputDeviceAudioCapture::start() {
    selectVirtualInputDevice();
    requireVirtualInputDevice();
    reportStatus(onStatus,
                 [&] { return "ok: opening virtual input device " + selectedDeviceName; });
    openInputQueueOnceAuthorized();
}

// Without the Microphone permission an input queue still starts and delivers nothing but zeros,
// behind a banner and status lines that look healthy: the permission is settled first. Each job
// keeps the source alive until the queue set-up has run.
void InputDeviceAudioCapture::openInputQueueOnceAuthorized() {
    const platform::Platform& platform = platform::current();
    const auto authorization = platform.capturePermission.audioAuthorizationStatus();
    if (!authorization.ok()) {
        fail(std::string(microphoneUncheckedMessage) +
             authorization.error().localizedDescription());
    }
    switch (authorization.value()) {
    case platform::AudioAuthorization::authorized:
        platform.dispatch.asyncOnMain([self = shared_from_this()] { self->openInputQueue(); });
        return;
    case platform::AudioAuthorization::notDetermined:
        // The user answers the prompt while the main run loop runs; the answer comes on any
        // thread and the set-up goes on where it would have run.
        platform.capturePermission.requestAudioAccess([self = shared_from_this()](bool granted) {
            platform::current().dispatch.asyncOnMain([self, granted] {
                if (!granted) {
                    self->fail(microphoneDeniedMessage);
                }
                self->openInputQueue();
            });
        });
        return;
    case platform::AudioAuthorization::denied:
        fail(microphoneDeniedMessage);
    case platform::AudioAuthorization::restricted:
        fail(microphoneRestrictedMessage);
    }
}

void InputDeviceAudioCapture::selectVirtualInputDevice() {
    // First attempt: a device whose name and UID can both be read is recorded in full, and the
    // queue is later bound to it by UID.
    if (const auto device = findVirtualSystemAudioDevice()) {
        if (auto name = audioDeviceName(*device)) {
            if (auto uid = audioDeviceUID(*device)) {
                selectedDeviceID = *device;
                selectedDeviceName = std::move(*name);
                selectedDeviceUID = std::move(*uid);
                useAsDefaultInput(*device, selectedDeviceName);
                return;
            }
        }
    }
    // Second attempt: without a UID the queue records the default input, which is this device.
    if (const auto device = findVirtualSystemAudioDevice()) {
        if (auto name = audioDeviceName(*device)) {
            selectedDeviceName = std::move(*name);
            useAsDefaultInput(*device, selectedDeviceName);
        }
    }
}

void InputDeviceAudioCapture::useAsDefaultInput(platform::AudioObjectID device,
                                                const std::string& name) const {
    setSystemDefaultDevice(platform::kAudioHardwarePropertyDefaultInputDevice, device);
    const std::optional<std::string> restoredOutput = restorePhysicalOutputIfNeeded();
    reportStatus(onStatus, [&] {
        std::string line = "ok: selected virtual system-audio input " + name;
        if (restoredOutput) {
            line += ", restored output " + *restoredOutput;
        }
        return line;
    });
}

void InputDeviceAudioCapture::requireVirtualInputDevice() const {
    // Read each time, so the check in the queue set-up sees the environment of that moment.
    const char* allowAnyInput = std::getenv(allowAnyInputVariable);
    if (allowAnyInput != nullptr && std::string_view(allowAnyInput) == "1") {
        return;
    }
    if (isVirtualDeviceName(selectedDeviceName)) {
        return;
    }
    fail("macOS 13 requires a virtual system-audio device. Set Sound Input to BlackHole 2ch and "
         "keep Sound Output on your speaker, then restart PC Tovanel Sender. Current input: " +
         selectedDeviceName);
}

// The second phase of start, on the main queue.
void InputDeviceAudioCapture::openInputQueue() {
    reportStatus(onStatus, [] { return std::string("ok: opening CoreAudio input queue"); });
    requireVirtualInputDevice();

    platform::AudioQueues& queues = platform::current().audioQueues;
    AudioQueueRef queue = nullptr;
    // The source is handed over unretained: it lives as long as the process, so it outlives the
    // queue, which is never stopped.
    OSStatus status = queues.newInput(streamFormat, &inputCallback, this, queue);
    if (status != 0 || queue == nullptr) {
        fail("AudioQueueNewInput failed: " + std::to_string(status));
    }
    if (selectedDeviceUID) {
        status = queues.setCurrentDevice(queue, *selectedDeviceUID);
        if (status != 0) {
            fail("AudioQueueSetProperty CurrentDevice failed: " + std::to_string(status));
        }
    }
    audioQueue = queue;

    // Each buffer is enqueued before the next is allocated.
    for (AudioQueueBufferRef& slot : audioQueueBuffers) {
        AudioQueueBufferRef buffer = nullptr;
        status = queues.allocateBuffer(queue, audioQueueBufferByteSize, buffer);
        if (status != 0 || buffer == nullptr) {
            fail("AudioQueueAllocateBuffer failed: " + std::to_string(status));
        }
        slot = buffer;
        status = queues.enqueueBuffer(queue, buffer);
        if (status != 0) {
            fail("AudioQueueEnqueueBuffer failed: " + std::to_string(status));
        }
    }

    status = queues.start(queue);
    if (status != 0) {
        fail("AudioQueueStart failed: " + std::to_string(status));
    }

    lastFormatDescription = selectedDeviceName + " " +
                            std::to_string(static_cast<std::int64_t>(streamFormat.mSampleRate)) +
                            "Hz " + std::to_string(streamFormat.mChannelsPerFrame) +
                            "ch CoreAudio input";
    reportStatus(onStatus,
                 [&] { return "ok: inputBuffers=0 audioBytes=0 format=" + lastFormatDescription; });
    startStatusTimer();
    writeStartedBanner(startedBanner);
}

void InputDeviceAudioCapture::inputCallback(void* userData, AudioQueueRef queue,
                                            AudioQueueBufferRef buffer,
                                            const platform::AudioTimeStamp*, std::uint32_t,
                                            const platform::AudioStreamPacketDescription*) {
    if (userData == nullptr || buffer == nullptr) {
        return;
    }
    // Holds the source for the length of the call.
    const std::shared_ptr<InputDeviceAudioCapture> self =
        static_cast<InputDeviceAudioCapture*>(userData)->weak_from_this().lock();
    if (!self) {
        return;
    }
    self->handleAudioQueueBuffer(queue, buffer);
}

// On the input queue's thread, one buffer at a time.
void InputDeviceAudioCapture::handleAudioQueueBuffer(AudioQueueRef queue,
                                                     AudioQueueBufferRef buffer) {
    const std::uint32_t byteCount = readableByteCount(*buffer);
    if (byteCount > 0) {
        // Sanitising reads the queue's bytes once into a new block, which is the copy we write;
        // the buffer itself can then go back to the queue.
        const ByteBlock samples = sanitizedInterleavedFloatPCM(
            std::span(static_cast<const std::uint8_t*>(buffer->mAudioData), byteCount));
        // Counted before the write, which may block while the reader is slow.
        inputBuffers.fetch_add(1, std::memory_order_relaxed);
        audioBytes.fetch_add(static_cast<std::int64_t>(samples.size()), std::memory_order_relaxed);
        output->write(samples.bytes());
    }
    const OSStatus status = platform::current().audioQueues.enqueueBuffer(queue, buffer);
    if (status != 0) {
        // The buffer leaves the cycle; the queue carries on with the others.
        reportStatus(onStatus,
                     [&] { return counterText() + " enqueueError=" + std::to_string(status); });
    }
}

void InputDeviceAudioCapture::startStatusTimer() {
    statusTimer = platform::current().dispatch.startRepeatingTimer(
        captureQueue, std::chrono::seconds(1), [weakSelf = weak_from_this()] {
            const std::shared_ptr<InputDeviceAudioCapture> self = weakSelf.lock();
            if (!self) {
                return;
            }
            TOVANEL_ASSERT_ON_QUEUE(*self->captureQueue);
            reportStatus(self->onStatus, [&] {
                return self->counterText() + " format=" + self->lastFormatDescription;
            });
        });
}

// The counters as status lines show them. The two reads are separate, so a line may combine
// counts from slightly different moments.
std::string InputDeviceAudioCapture::counterText() const {
    return "ok: inputBuffers=" + std::to_string(inputBuffers.load(std::memory_order_relaxed)) +
           " audioBytes=" + std::to_string(audioBytes.load(std::memory_order_relaxed));
}

} // namespace tovanel
