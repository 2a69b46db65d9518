// How the server's sinks and sources appear as audio hardware: the device list, identifiers that
// stay put, names and UIDs, channels per scope, volumes, defaults and the writes they become —
// and that the shared device queries and searches work on top of it.
#include "devices/audio_buffer_list.h"
#include "platform/pulse/device_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace tovanel::platform::pulse {
namespace {

using ::testing::ElementsAre;

ServerSnapshot twoSinksAndAMicrophone() {
    ServerSnapshot snapshot;
    snapshot.sinks = {{"builtin", "Built-in Output", 2, "builtin.monitor", 2},
                      {"blackhole", "BlackHole 2ch", 2, "blackhole.monitor", 2}};
    snapshot.sources = {{"builtin.monitor", "Monitor of Built-in Output", 2, true},
                        {"mic", "USB Microphone", 1, false},
                        {"blackhole.monitor", "Monitor of BlackHole 2ch", 2, true}};
    snapshot.defaultSink = "blackhole";
    snapshot.defaultSource = "mic";
    return snapshot;
}

std::vector<AudioObjectID> deviceList(const DeviceModel& model) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(model.value(kAudioObjectSystemObject, {kAudioHardwarePropertyDevices}, bytes), 0);
    std::vector<AudioObjectID> ids(bytes.size() / sizeof(AudioObjectID));
    if (!ids.empty()) {
        std::memcpy(ids.data(), bytes.data(), bytes.size());
    }
    return ids;
}

AudioObjectID defaultOf(const DeviceModel& model, std::uint32_t selector) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(model.value(kAudioObjectSystemObject, {selector}, bytes), 0);
    AudioObjectID id = 0;
    EXPECT_EQ(bytes.size(), sizeof id);
    std::memcpy(&id, bytes.data(), sizeof id);
    return id;
}

std::string stringOf(const DeviceModel& model, AudioObjectID id, std::uint32_t selector) {
    std::string value;
    EXPECT_EQ(model.stringValue(id, {selector}, value), 0);
    return value;
}

bool hasChannels(const DeviceModel& model, AudioObjectID id, std::uint32_t scope) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(model.value(id, {kAudioDevicePropertyStreamConfiguration, scope, 0}, bytes), 0);
    return bufferListHasChannels(bytes);
}

TEST(PulseDeviceModel, SinksWithTheirMonitorsThenNonMonitorSources) {
    const ServerSnapshot snapshot = twoSinksAndAMicrophone();
    DeviceIdentifiers identifiers;
    const DeviceModel model(snapshot, identifiers);
    const auto ids = deviceList(model);
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_THAT(std::vector({stringOf(model, ids[0], kAudioObjectPropertyName),
                             stringOf(model, ids[1], kAudioObjectPropertyName),
                             stringOf(model, ids[2], kAudioObjectPropertyName)}),
                ElementsAre("Built-in Output", "BlackHole 2ch", "USB Microphone"));
    EXPECT_EQ(stringOf(model, ids[1], kAudioDevicePropertyDeviceUID), "blackhole");
    for (AudioObjectID id : ids) {
        EXPECT_NE(id, kAudioObjectUnknown);
        EXPECT_NE(id, kAudioObjectSystemObject);
    }
    // A sink has outputs and, through its monitor, inputs; a source has inputs only.
    EXPECT_TRUE(hasChannels(model, ids[1], kAudioObjectPropertyScopeInput));
    EXPECT_TRUE(hasChannels(model, ids[1], kAudioObjectPropertyScopeOutput));
    EXPECT_TRUE(hasChannels(model, ids[2], kAudioObjectPropertyScopeInput));
    EXPECT_FALSE(hasChannels(model, ids[2], kAudioObjectPropertyScopeOutput));
}

TEST(PulseDeviceModel, IdentifiersStayTheSameAcrossSnapshotsAndServerOrder) {
    DeviceIdentifiers identifiers;
    ServerSnapshot first = twoSinksAndAMicrophone();
    const auto before = deviceList(DeviceModel(first, identifiers));
    ServerSnapshot reordered = first;
    std::swap(reordered.sinks[0], reordered.sinks[1]);
    reordered.sinks.push_back({"usb", "USB DAC", 2, "usb.monitor", 2});
    const auto after = deviceList(DeviceModel(reordered, identifiers));
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[0], before[1]);
    EXPECT_EQ(after[1], before[0]);
    EXPECT_EQ(after[3], before[2]);
    EXPECT_NE(after[2], before[0]);
    // A device that went away is unknown, not someone else.
    ServerSnapshot without = first;
    without.sinks.pop_back();
    const DeviceModel model(without, identifiers);
    std::string name;
    EXPECT_EQ(model.stringValue(before[1], {kAudioObjectPropertyName}, name),
              DeviceModel::kBadObject);
}

TEST(PulseDeviceModel, DefaultsMapToDevicesAndAMonitorMeansItsSink) {
    ServerSnapshot snapshot = twoSinksAndAMicrophone();
    DeviceIdentifiers identifiers;
    const auto ids = deviceList(DeviceModel(snapshot, identifiers));
    {
        const DeviceModel model(snapshot, identifiers);
        EXPECT_EQ(defaultOf(model, kAudioHardwarePropertyDefaultOutputDevice), ids[1]);
        EXPECT_EQ(defaultOf(model, kAudioHardwarePropertyDefaultSystemOutputDevice), ids[1]);
        EXPECT_EQ(defaultOf(model, kAudioHardwarePropertyDefaultInputDevice), ids[2]);
    }
    snapshot.defaultSource = "blackhole.monitor";
    snapshot.defaultSink = "gone";
    const DeviceModel model(snapshot, identifiers);
    EXPECT_EQ(defaultOf(model, kAudioHardwarePropertyDefaultInputDevice), ids[1]);
    EXPECT_EQ(defaultOf(model, kAudioHardwarePropertyDefaultOutputDevice), kAudioObjectUnknown);
}

struct WriteCase {
    const char* name;
    std::uint32_t selector;
    int device; // index into the device list, or -1 for an unknown identifier
    OSStatus status;
    DefaultWrite::Target target;
    std::string serverName;
};

class PulseDefaultWrites : public ::testing::TestWithParam<WriteCase> {};

TEST_P(PulseDefaultWrites, BecomeTheServersDefaultSinkOrSource) {
    const ServerSnapshot snapshot = twoSinksAndAMicrophone();
    DeviceIdentifiers identifiers;
    const DeviceModel model(snapshot, identifiers);
    const auto ids = deviceList(model);
    const AudioObjectID device = GetParam().device < 0 ? 9999 : ids[GetParam().device];
    DefaultWrite write;
    EXPECT_EQ(model.planWrite(kAudioObjectSystemObject, {GetParam().selector}, sizeof device,
                              &device, write),
              GetParam().status);
    if (GetParam().status == 0) {
        EXPECT_EQ(write.target, GetParam().target);
        EXPECT_EQ(write.name, GetParam().serverName);
    }
}

using Target = DefaultWrite::Target;

INSTANTIATE_TEST_SUITE_P(
    Table, PulseDefaultWrites,
    ::testing::Values(
        WriteCase{"OutputToSink", kAudioHardwarePropertyDefaultOutputDevice, 0, 0, Target::sink,
                  "builtin"},
        WriteCase{"SystemOutputToSink", kAudioHardwarePropertyDefaultSystemOutputDevice, 0, 0,
                  Target::sink, "builtin"},
        WriteCase{"InputToSinkMeansItsMonitor", kAudioHardwarePropertyDefaultInputDevice, 1, 0,
                  Target::source, "blackhole.monitor"},
        WriteCase{"InputToSource", kAudioHardwarePropertyDefaultInputDevice, 2, 0, Target::source,
                  "mic"},
        WriteCase{"OutputToInputOnlyDevice", kAudioHardwarePropertyDefaultOutputDevice, 2,
                  DeviceModel::kBadObject, Target::sink, ""},
        WriteCase{"UnknownDevice", kAudioHardwarePropertyDefaultOutputDevice, -1,
                  DeviceModel::kBadObject, Target::sink, ""},
        WriteCase{"NotADefault", kAudioHardwarePropertyDevices, 0, DeviceModel::kUnknownProperty,
                  Target::sink, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PulseDeviceModel, EverySinkHasASettableVolumeOnItsMainElementAndEachChannel) {
    const ServerSnapshot snapshot = twoSinksAndAMicrophone();
    DeviceIdentifiers identifiers;
    const DeviceModel model(snapshot, identifiers);
    const auto ids = deviceList(model);
    for (std::uint32_t element : {0u, 1u, 2u}) {
        const AudioObjectPropertyAddress volume{kAudioDevicePropertyVolumeScalar,
                                                kAudioObjectPropertyScopeOutput, element};
        EXPECT_TRUE(model.hasProperty(ids[0], volume)) << element;
        bool settable = false;
        EXPECT_EQ(model.isSettable(ids[0], volume, settable), 0);
        EXPECT_TRUE(settable);
        EXPECT_FALSE(model.hasProperty(ids[2], volume)) << "a source has no output volume";
    }
    EXPECT_FALSE(model.hasProperty(
        ids[0], {kAudioDevicePropertyVolumeScalar, kAudioObjectPropertyScopeOutput, 3}));
}

TEST(PulseDeviceModel, WrongWritesAreRefusedWithoutReadingPastTheData) {
    const ServerSnapshot snapshot = twoSinksAndAMicrophone();
    DeviceIdentifiers identifiers;
    const DeviceModel model(snapshot, identifiers);
    DefaultWrite write;
    const std::uint16_t tooShort = 1;
    EXPECT_EQ(model.planWrite(kAudioObjectSystemObject, {kAudioHardwarePropertyDefaultOutputDevice},
                              sizeof tooShort, &tooShort, write),
              DeviceModel::kBadPropertySize);
    EXPECT_EQ(model.planWrite(kAudioObjectSystemObject, {kAudioHardwarePropertyDefaultOutputDevice},
                              4, nullptr, write),
              DeviceModel::kBadPropertySize);
}

} // namespace
} // namespace tovanel::platform::pulse
