// The audio hardware object model on CoreAudio: the five AudioObject property calls, passed
// through with their statuses.
#pragma once

#include "platform/audio_hardware.h"

namespace tovanel::platform::macos {

class MacAudioHardware final : public AudioHardware {
  public:
    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& outDataSize) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t& ioDataSize, void* outData) override;
    OSStatus getStringPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::string& outValue) override;
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override;
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                bool& outIsSettable) override;
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t dataSize, const void* data) override;
};

} // namespace tovanel::platform::macos
