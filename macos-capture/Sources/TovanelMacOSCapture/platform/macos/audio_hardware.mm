// The five AudioObject property calls, with no qualifier, statuses passed through unchanged.
// CoreAudio's functions may be called from any thread.
#include "platform/macos/audio_hardware.h"

#include "platform/macos/cf_ptr.h"
#include "platform/macos/foundation_bridge.h"

#include <CoreAudio/CoreAudio.h>

namespace tovanel::platform::macos {

namespace {

static_assert(sizeof(platform::AudioObjectID) == sizeof(::AudioObjectID));
static_assert(kAudioObjectSystemObject == ::kAudioObjectSystemObject);
static_assert(kAudioObjectPropertyScopeGlobal == ::kAudioObjectPropertyScopeGlobal);
static_assert(kAudioObjectPropertyScopeInput == ::kAudioObjectPropertyScopeInput);
static_assert(kAudioObjectPropertyScopeOutput == ::kAudioObjectPropertyScopeOutput);
static_assert(kAudioObjectPropertyElementMain == ::kAudioObjectPropertyElementMain);
static_assert(kAudioHardwarePropertyDevices == ::kAudioHardwarePropertyDevices);
static_assert(kAudioObjectPropertyName == ::kAudioObjectPropertyName);
static_assert(kAudioDevicePropertyDeviceUID == ::kAudioDevicePropertyDeviceUID);
static_assert(kAudioDevicePropertyStreamConfiguration == ::kAudioDevicePropertyStreamConfiguration);
static_assert(kAudioDevicePropertyVolumeScalar == ::kAudioDevicePropertyVolumeScalar);
static_assert(kAudioHardwarePropertyDefaultOutputDevice ==
              ::kAudioHardwarePropertyDefaultOutputDevice);
static_assert(kAudioHardwarePropertyDefaultSystemOutputDevice ==
              ::kAudioHardwarePropertyDefaultSystemOutputDevice);
static_assert(kAudioHardwarePropertyDefaultInputDevice ==
              ::kAudioHardwarePropertyDefaultInputDevice);
static_assert(kAudioHardwareNotRunningError == ::kAudioHardwareNotRunningError);

::AudioObjectPropertyAddress native(const AudioObjectPropertyAddress& address) {
    return {address.mSelector, address.mScope, address.mElement};
}

} // namespace

OSStatus MacAudioHardware::getPropertyDataSize(AudioObjectID object,
                                               const AudioObjectPropertyAddress& address,
                                               std::uint32_t& outDataSize) {
    const ::AudioObjectPropertyAddress nativeAddress = native(address);
    UInt32 size = 0;
    const OSStatus status =
        AudioObjectGetPropertyDataSize(object, &nativeAddress, 0, nullptr, &size);
    outDataSize = size;
    return status;
}

OSStatus MacAudioHardware::getPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           std::uint32_t& ioDataSize, void* outData) {
    const ::AudioObjectPropertyAddress nativeAddress = native(address);
    UInt32 size = ioDataSize;
    const OSStatus status =
        AudioObjectGetPropertyData(object, &nativeAddress, 0, nullptr, &size, outData);
    ioDataSize = size;
    return status;
}

OSStatus MacAudioHardware::getStringPropertyData(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::string& outValue) {
    const ::AudioObjectPropertyAddress nativeAddress = native(address);
    CFStringRef value = nullptr;
    UInt32 size = sizeof value;
    const OSStatus status =
        AudioObjectGetPropertyData(object, &nativeAddress, 0, nullptr, &size, &value);
    // The string comes back retained (+1), whatever the status says.
    const CFPtr<CFStringRef> owned(value);
    if (status != noErr) {
        return status;
    }
    // Success with no string is a property that holds nothing: an empty string (utf8String
    // gives one for null), not a failed read.
    outValue = utf8String(owned.get());
    return noErr;
}

bool MacAudioHardware::hasProperty(AudioObjectID object,
                                   const AudioObjectPropertyAddress& address) {
    const ::AudioObjectPropertyAddress nativeAddress = native(address);
    return AudioObjectHasProperty(object, &nativeAddress);
}

OSStatus MacAudioHardware::isPropertySettable(AudioObjectID object,
                                              const AudioObjectPropertyAddress& address,
                                              bool& outIsSettable) {
    const ::AudioObjectPropertyAddress nativeAddress = native(address);
    Boolean settable = false;
    const OSStatus status = AudioObjectIsPropertySettable(object, &nativeAddress, &settable);
    outIsSettable = settable;
    return status;
}

OSStatus MacAudioHardware::setPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           std::uint32_t dataSize, const void* data) {
    const ::AudioObjectPropertyAddress nativeAddress = native(address);
    return AudioObjectSetPropertyData(object, &nativeAddress, 0, nullptr, dataSize, data);
}

} // namespace tovanel::platform::macos
