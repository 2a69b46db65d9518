// AudioHardware over libpulse introspection.
#include "platform/pulse/audio_hardware.h"

#include <algorithm>
#include <cstring>

namespace tovanel::platform::pulse {

namespace {

struct SnapshotReading {
    ServerSnapshot* snapshot;
    bool listFailed = false;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    if (info != nullptr) {
        addServerInfo(*static_cast<SnapshotReading*>(userdata)->snapshot, *info);
    }
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* reading = static_cast<SnapshotReading*>(userdata);
    if (eol < 0) {
        reading->listFailed = true;
    }
    if (eol == 0 && info != nullptr) {
        addSink(*reading->snapshot, *info);
    }
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* reading = static_cast<SnapshotReading*>(userdata);
    if (eol < 0) {
        reading->listFailed = true;
    }
    if (eol != 0 || info == nullptr) {
        return;
    }
    reading->snapshot->sources.push_back(
        SourceSnapshot{info->name ? info->name : "", info->description ? info->description : "",
                       info->channel_map.channels, info->monitor_of_sink != PA_INVALID_INDEX});
}

struct WriteResult {
    bool done = false;
    int success = 0;
};

void onWritten(pa_context*, int success, void* userdata) {
    auto* result = static_cast<WriteResult*>(userdata);
    result->done = true;
    result->success = success;
}

} // namespace

void addServerInfo(ServerSnapshot& snapshot, const pa_server_info& info) {
    snapshot.defaultSink = info.default_sink_name ? info.default_sink_name : "";
    snapshot.defaultSource = info.default_source_name ? info.default_source_name : "";
    snapshot.serverName = info.server_name ? info.server_name : "";
}

void addSink(ServerSnapshot& snapshot, const pa_sink_info& info) {
    snapshot.sinks.push_back(SinkSnapshot{
        info.name ? info.name : "", info.description ? info.description : "",
        info.channel_map.channels, info.monitor_source_name ? info.monitor_source_name : "",
        info.channel_map.channels});
}

OSStatus statusOf(const PlatformError& error) {
    return error.code != 0 ? static_cast<OSStatus>(error.code) : PA_ERR_UNKNOWN;
}

std::optional<PlatformError> readServerSnapshot(PulseConnection& connection,
                                                ServerSnapshot& snapshot) {
    SnapshotReading reading{&snapshot};
    auto failure = connection.roundTrip({
        [&](pa_context* c) { return pa_context_get_server_info(c, onServerInfo, &reading); },
        [&](pa_context* c) { return pa_context_get_sink_info_list(c, onSinkInfo, &reading); },
        [&](pa_context* c) { return pa_context_get_source_info_list(c, onSourceInfo, &reading); },
    });
    if (!failure && reading.listFailed) {
        failure = connection.contextError("pa_context_get_sink_info_list");
    }
    return failure;
}

// Runs `answer` on a model of a fresh snapshot, so every call sees devices and defaults as they
// are now; a server that cannot be read gives `onFailure`'s answer.
template <class Answer, class OnFailure>
auto PulseAudioHardware::withModel(Answer answer, OnFailure onFailure) {
    PulseConnection::Lock lock(connection_);
    ServerSnapshot snapshot;
    if (const auto failure = readServerSnapshot(connection_, snapshot)) {
        return onFailure(*failure);
    }
    return answer(DeviceModel(snapshot, identifiers_));
}

namespace {
OSStatus failed(const PlatformError& error) {
    return statusOf(error);
}
} // namespace

OSStatus PulseAudioHardware::getPropertyDataSize(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::uint32_t& outDataSize) {
    return withModel(
        [&](const DeviceModel& model) {
            std::vector<std::uint8_t> bytes;
            const OSStatus status = model.value(object, address, bytes);
            if (status == 0) {
                outDataSize = static_cast<std::uint32_t>(bytes.size());
            }
            return status;
        },
        failed);
}

OSStatus PulseAudioHardware::getPropertyData(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             std::uint32_t& ioDataSize, void* outData) {
    return withModel(
        [&](const DeviceModel& model) {
            std::vector<std::uint8_t> bytes;
            const OSStatus status = model.value(object, address, bytes);
            if (status != 0) {
                return status;
            }
            const auto delivered =
                static_cast<std::uint32_t>(std::min<std::size_t>(ioDataSize, bytes.size()));
            if (delivered > 0) {
                std::memcpy(outData, bytes.data(), delivered);
            }
            ioDataSize = delivered;
            return OSStatus{0};
        },
        failed);
}

OSStatus PulseAudioHardware::getStringPropertyData(AudioObjectID object,
                                                   const AudioObjectPropertyAddress& address,
                                                   std::string& outValue) {
    return withModel(
        [&](const DeviceModel& model) { return model.stringValue(object, address, outValue); },
        failed);
}

bool PulseAudioHardware::hasProperty(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address) {
    return withModel([&](const DeviceModel& model) { return model.hasProperty(object, address); },
                     [](const PlatformError&) { return false; });
}

OSStatus PulseAudioHardware::isPropertySettable(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                bool& outIsSettable) {
    return withModel(
        [&](const DeviceModel& model) { return model.isSettable(object, address, outIsSettable); },
        failed);
}

OSStatus PulseAudioHardware::setPropertyData(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             std::uint32_t dataSize, const void* data) {
    return withModel(
        [&](const DeviceModel& model) {
            DefaultWrite write;
            if (const OSStatus status = model.planWrite(object, address, dataSize, data, write);
                status != 0) {
                return status;
            }
            WriteResult result;
            const auto failure = connection_.roundTrip({[&](pa_context* c) {
                return write.target == DefaultWrite::Target::sink
                           ? pa_context_set_default_sink(c, write.name.c_str(), onWritten, &result)
                           : pa_context_set_default_source(c, write.name.c_str(), onWritten,
                                                           &result);
            }});
            if (failure) {
                return statusOf(*failure);
            }
            return result.success ? OSStatus{0}
                                  : statusOf(connection_.contextError("pa_context_set_default"));
        },
        failed);
}

} // namespace tovanel::platform::pulse
