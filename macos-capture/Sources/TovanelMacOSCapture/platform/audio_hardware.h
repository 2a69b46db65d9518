// The audio hardware object model: five property calls on object identifiers and property
// addresses, with platform statuses, exactly as CoreAudio's AudioObject functions take them.
//
// Callers guarantee:
//   - `data` points to at least `ioDataSize` (or `dataSize`) bytes.
// Every backend must:
//   - return 0 for success and a non-zero status for every failure, never throw;
//   - never write more than `ioDataSize` bytes, and set it to the number of bytes delivered;
//   - deliver string-valued properties (name, UID) through getStringPropertyData, which owns
//     the conversion from the platform's string reference and its release;
//   - be callable from any thread.
#pragma once

#include "platform/status_codes.h"

#include <cstdint>
#include <string>

namespace tovanel::platform {

using AudioObjectID = std::uint32_t;

inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

inline constexpr std::uint32_t kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
inline constexpr std::uint32_t kAudioObjectPropertyScopeInput = fourCharCode("inpt");
inline constexpr std::uint32_t kAudioObjectPropertyScopeOutput = fourCharCode("outp");
inline constexpr std::uint32_t kAudioObjectPropertyElementMain = 0;

inline constexpr std::uint32_t kAudioHardwarePropertyDevices = fourCharCode("dev#");
inline constexpr std::uint32_t kAudioObjectPropertyName = fourCharCode("lnam");
inline constexpr std::uint32_t kAudioDevicePropertyDeviceUID = fourCharCode("uid ");
inline constexpr std::uint32_t kAudioDevicePropertyStreamConfiguration = fourCharCode("slay");
inline constexpr std::uint32_t kAudioDevicePropertyVolumeScalar = fourCharCode("volm");
inline constexpr std::uint32_t kAudioHardwarePropertyDefaultOutputDevice = fourCharCode("dOut");
inline constexpr std::uint32_t kAudioHardwarePropertyDefaultSystemOutputDevice =
    fourCharCode("sOut");
inline constexpr std::uint32_t kAudioHardwarePropertyDefaultInputDevice = fourCharCode("dIn ");

// The status of a hardware facility that cannot be reached ('stop', as CoreAudio's
// kAudioHardwareNotRunningError).
inline constexpr OSStatus kAudioHardwareNotRunningError =
    static_cast<OSStatus>(fourCharCode("stop"));

struct AudioObjectPropertyAddress {
    std::uint32_t mSelector = 0;
    std::uint32_t mScope = kAudioObjectPropertyScopeGlobal;
    std::uint32_t mElement = kAudioObjectPropertyElementMain;

    friend bool operator==(const AudioObjectPropertyAddress&,
                           const AudioObjectPropertyAddress&) = default;
};

class AudioHardware {
  public:
    virtual ~AudioHardware() = default;

    virtual OSStatus getPropertyDataSize(AudioObjectID object,
                                         const AudioObjectPropertyAddress& address,
                                         std::uint32_t& outDataSize) = 0;
    virtual OSStatus getPropertyData(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address,
                                     std::uint32_t& ioDataSize, void* outData) = 0;
    // getPropertyData for a property whose value is a string reference, returned as UTF-8.
    virtual OSStatus getStringPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           std::string& outValue) = 0;
    virtual bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) = 0;
    virtual OSStatus isPropertySettable(AudioObjectID object,
                                        const AudioObjectPropertyAddress& address,
                                        bool& outIsSettable) = 0;
    virtual OSStatus setPropertyData(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address,
                                     std::uint32_t dataSize, const void* data) = 0;
};

} // namespace tovanel::platform
