// AudioHardware over libpulse introspection: each call reads the server's sinks, sources and
// defaults afresh and answers through DeviceModel; default-device writes set the server's
// default sink or source.
#pragma once

#include "platform/audio_hardware.h"
#include "platform/pulse/connection.h"
#include "platform/pulse/device_model.h"

namespace tovanel::platform::pulse {

class PulseAudioHardware final : public AudioHardware {
  public:
    explicit PulseAudioHardware(PulseConnection& connection) : connection_(connection) {}

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

  private:
    template <class Answer, class OnFailure>
    auto withModel(Answer answer, OnFailure onFailure);

    PulseConnection& connection_;
    DeviceIdentifiers identifiers_;
};

// Reads the server's sinks, sources and defaults in one bounded round trip. With the lock held.
std::optional<PlatformError> readServerSnapshot(PulseConnection& connection,
                                                ServerSnapshot& snapshot);

// The server's defaults and name, and one sink, as a snapshot holds them.
void addServerInfo(ServerSnapshot& snapshot, const pa_server_info& info);
void addSink(ServerSnapshot& snapshot, const pa_sink_info& info);

// The status a failed call reports: the libpulse error code, never 0.
OSStatus statusOf(const PlatformError& error);

} // namespace tovanel::platform::pulse
