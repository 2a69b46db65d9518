// Audio facilities for a Linux build whose PulseAudio backend is not built yet: every call fails
// with a non-zero status or a readable error, and no data is ever made up.
#pragma once

#include "platform/audio_hardware.h"
#include "platform/audio_queues.h"
#include "platform/screen_capture.h"

namespace tovanel::platform::pulse {

class UnavailableAudioHardware final : public AudioHardware {
  public:
    OSStatus getPropertyDataSize(AudioObjectID, const AudioObjectPropertyAddress&,
                                 std::uint32_t&) override;
    OSStatus getPropertyData(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t&,
                             void*) override;
    OSStatus getStringPropertyData(AudioObjectID, const AudioObjectPropertyAddress&,
                                   std::string&) override;
    bool hasProperty(AudioObjectID, const AudioObjectPropertyAddress&) override;
    OSStatus isPropertySettable(AudioObjectID, const AudioObjectPropertyAddress&, bool&) override;
    OSStatus setPropertyData(AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t,
                             const void*) override;
};

class UnavailableScreenCapture final : public ScreenCapture {
  public:
    // Completes, on a thread of its own, with an error that says why.
    void getShareableContent(bool, bool, ContentCompletion completion) override;
    // Never reached, since no content is ever delivered.
    std::shared_ptr<ContentFilter> makeContentFilter(const Display&) override { return nullptr; }
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter&, const StreamConfiguration&,
                                              std::weak_ptr<StreamDelegate>) override {
        return nullptr;
    }
};

class UnavailableAudioQueues final : public AudioQueues {
  public:
    OSStatus newInput(const AudioStreamBasicDescription&, AudioQueueInputCallback, void*,
                      AudioQueueRef&) override;
    OSStatus setCurrentDevice(AudioQueueRef, const std::string&) override;
    OSStatus allocateBuffer(AudioQueueRef, std::uint32_t, AudioQueueBufferRef&) override;
    OSStatus enqueueBuffer(AudioQueueRef, AudioQueueBufferRef) override;
    OSStatus start(AudioQueueRef) override;
};

} // namespace tovanel::platform::pulse
