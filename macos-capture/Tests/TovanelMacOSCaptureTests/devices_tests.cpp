// Device queries and device selection over the simulated audio hardware: every failure the
// hardware can give, malformed buffer lists, and the exact default-device writes.
#include "devices/audio_buffer_list.h"
#include "devices/audio_device_queries.h"
#include "devices/device_selection.h"
#include "sim/sim_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace tovanel {
namespace {

using namespace platform;
using sim::SimAudioHardware;
using Call = SimAudioHardware::Call;
using Write = SimAudioHardware::Write;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Optional;

constexpr AudioObjectPropertyAddress kDevices{kAudioHardwarePropertyDevices};
constexpr AudioObjectPropertyAddress kDefaultOutput{kAudioHardwarePropertyDefaultOutputDevice};
constexpr AudioObjectPropertyAddress kName{kAudioObjectPropertyName};
constexpr AudioObjectPropertyAddress kUID{kAudioDevicePropertyDeviceUID};
constexpr AudioObjectPropertyAddress streamConfiguration(std::uint32_t scope) {
    return {kAudioDevicePropertyStreamConfiguration, scope, kAudioObjectPropertyElementMain};
}
constexpr std::uint32_t kInput = kAudioObjectPropertyScopeInput;
constexpr std::uint32_t kOutput = kAudioObjectPropertyScopeOutput;
constexpr OSStatus kFailure = -50;

class Devices : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    SimAudioHardware& hardware = platform.audioHardware;

    // A device with the given name, channels per scope and settable volume elements.
    AudioObjectID add(std::optional<std::string> name, std::uint32_t inputs, std::uint32_t outputs,
                      std::vector<std::uint32_t> settableVolumeElements = {}) {
        SimAudioHardware::Device device;
        device.name = std::move(name);
        device.uid = device.name ? std::optional("uid:" + *device.name) : std::nullopt;
        if (inputs > 0) {
            device.inputBuffers = {inputs};
        }
        if (outputs > 0) {
            device.outputBuffers = {outputs};
        }
        for (std::uint32_t element : settableVolumeElements) {
            device.outputVolume[element] = {};
        }
        return hardware.addDevice(std::move(device));
    }
};

// --- audioDeviceHasChannels -------------------------------------------------------------------

std::vector<std::uint8_t> withCount(std::vector<std::uint8_t> bytes, std::uint32_t count) {
    std::memcpy(bytes.data(), &count, sizeof count);
    return bytes;
}

struct ChannelCase {
    const char* name;
    std::vector<std::uint8_t> bufferList;
    bool expected;
};

class HasChannels : public Devices, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(HasChannels, ReadsTheBufferListSafely) {
    const AudioObjectID device = add("Device", 0, 0);
    hardware.setRawValue(device, streamConfiguration(kOutput), GetParam().bufferList);
    EXPECT_EQ(audioDeviceHasChannels(device, kOutput), GetParam().expected);
    // The other scope is a separate property.
    EXPECT_FALSE(audioDeviceHasChannels(device, kInput));
}

INSTANTIATE_TEST_SUITE_P(
    BufferLists, HasChannels,
    ::testing::Values(
        ChannelCase{"SizeZero", {}, false},
        ChannelCase{"NoRecords", SimAudioHardware::bufferList({}), false},
        ChannelCase{"OnlyRecordsWithZeroChannels", SimAudioHardware::bufferList({0, 0, 0}), false},
        ChannelCase{"FirstRecordHasChannels", SimAudioHardware::bufferList({2}), true},
        ChannelCase{"SecondRecordHasChannels", SimAudioHardware::bufferList({0, 2}), true},
        ChannelCase{"LastOfManyHasChannels", SimAudioHardware::bufferList({0, 0, 0, 0, 1}), true},
        // Malformed lists: never read past the block, treated as no channels.
        ChannelCase{"CountLargerThanTheRecordsThatFit",
                    withCount(SimAudioHardware::bufferList({0, 2}), 3), false},
        ChannelCase{"HugeCount", withCount(SimAudioHardware::bufferList({2}), 0xFFFFFFFF), false},
        ChannelCase{"CountButNoRoomForAnyRecord", withCount(std::vector<std::uint8_t>(8), 1),
                    false},
        ChannelCase{"CountOnlyFourBytes", withCount(std::vector<std::uint8_t>(4), 1), false},
        ChannelCase{"ShorterThanTheCount", {1, 0}, false},
        ChannelCase{"RecordCutShort",
                    [] {
                        auto bytes = SimAudioHardware::bufferList({2});
                        bytes.resize(bytes.size() - 1);
                        return bytes;
                    }(),
                    false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Devices, HasChannelsIsFalseWhenEitherCallFailsAndNothingIsAllocatedForSizeZero) {
    const AudioObjectID sizeFails = add("A", 2, 2);
    hardware.failCall(Call::getPropertyDataSize, sizeFails, streamConfiguration(kInput), kFailure);
    const AudioObjectID dataFails = add("B", 2, 2);
    hardware.failCall(Call::getPropertyData, dataFails, streamConfiguration(kInput), kFailure);
    const AudioObjectID sizeZero = add("C", 2, 2);
    hardware.setRawValue(sizeZero, streamConfiguration(kInput), {});

    EXPECT_FALSE(audioDeviceHasChannels(sizeFails, kInput));
    EXPECT_FALSE(audioDeviceHasChannels(dataFails, kInput));
    EXPECT_FALSE(audioDeviceHasChannels(sizeZero, kInput));
    EXPECT_FALSE(hardware.wasCalled(Call::getPropertyData, sizeZero,
                                    kAudioDevicePropertyStreamConfiguration));
    EXPECT_TRUE(audioDeviceHasChannels(sizeFails, kOutput));
}

TEST_F(Devices, HasChannelsReadsOnlyWhatWasDelivered) {
    const AudioObjectID device = add("Device", 0, 2);
    hardware.deliverAtMost(device, streamConfiguration(kOutput), 8); // the count, no record
    EXPECT_FALSE(audioDeviceHasChannels(device, kOutput));
}

// --- audioDeviceSupportsOutputVolume ----------------------------------------------------------

struct VolumeCase {
    const char* name;
    std::map<std::uint32_t, SimAudioHardware::VolumeElement> elements;
    bool expected;
    std::vector<std::uint32_t> probedElements; // hasProperty calls, in order
};

class OutputVolume : public Devices, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(OutputVolume, IsSettableOnElementZeroOneOrTwo) {
    SimAudioHardware::Device device;
    device.name = "Device";
    device.outputVolume = GetParam().elements;
    const AudioObjectID id = hardware.addDevice(device);

    EXPECT_EQ(audioDeviceSupportsOutputVolume(id), GetParam().expected);
    std::vector<std::uint32_t> probed;
    for (const auto& call : hardware.calls()) {
        if (call.call == Call::hasProperty) {
            EXPECT_EQ(call.address.mSelector, kAudioDevicePropertyVolumeScalar);
            EXPECT_EQ(call.address.mScope, kOutput);
            probed.push_back(call.address.mElement);
        }
        EXPECT_NE(call.call, Call::getPropertyData) << "the volume value is never read";
        EXPECT_NE(call.call, Call::setPropertyData) << "the volume value is never written";
    }
    EXPECT_EQ(probed, GetParam().probedElements);
}

using Element = SimAudioHardware::VolumeElement;
const Element settable{true, 0};
const Element notSettable{false, 0};
const Element settableQueryFails{true, kFailure};

INSTANTIATE_TEST_SUITE_P(
    Elements, OutputVolume,
    ::testing::Values(
        VolumeCase{"None", {}, false, {0, 1, 2}},
        VolumeCase{"MainSettableStopsAtOnce", {{0, settable}, {1, settable}}, true, {0}},
        VolumeCase{"OnlyElementOne", {{1, settable}}, true, {0, 1}},
        VolumeCase{"OnlyElementTwo", {{2, settable}}, true, {0, 1, 2}},
        VolumeCase{
            "MainNotSettableElementOneSettable", {{0, notSettable}, {1, settable}}, true, {0, 1}},
        VolumeCase{"ExistsEverywhereSettableNowhere",
                   {{0, notSettable}, {1, notSettable}, {2, notSettable}},
                   false,
                   {0, 1, 2}},
        VolumeCase{
            "SettableQueryFailsEvenWithFlagSet", {{0, settableQueryFails}}, false, {0, 1, 2}},
        VolumeCase{"OnlyElementThreeNeverProbed", {{3, settable}}, false, {0, 1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- names, UIDs, device list, default output, writes -----------------------------------------

TEST_F(Devices, AnEmptyNameIsNotAnAbsentName) {
    const AudioObjectID empty = add("", 0, 2);
    const AudioObjectID absent = add(std::nullopt, 0, 2);
    EXPECT_THAT(audioDeviceName(empty), Optional(std::string()));
    EXPECT_EQ(audioDeviceName(absent), std::nullopt);
    EXPECT_THAT(audioDeviceUID(empty), Optional(std::string("uid:")));
    EXPECT_EQ(audioDeviceUID(absent), std::nullopt);
    EXPECT_EQ(audioDeviceName(4242), std::nullopt);
    hardware.failCall(Call::getStringPropertyData, empty, kUID, kFailure);
    EXPECT_EQ(audioDeviceUID(empty), std::nullopt);
}

TEST_F(Devices, NamesAndUIDsKeepTheirBytes) {
    const AudioObjectID device = add("BlackHole 2ch \xEB\x8B\xA4", 2, 2);
    EXPECT_THAT(audioDeviceName(device), Optional(std::string("BlackHole 2ch \xEB\x8B\xA4")));
    EXPECT_THAT(audioDeviceUID(device), Optional(std::string("uid:BlackHole 2ch \xEB\x8B\xA4")));
}

struct DeviceListCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::optional<std::vector<AudioObjectID>> expected;
};

class DeviceList : public Devices, public ::testing::WithParamInterface<DeviceListCase> {};

std::vector<std::uint8_t> idBytes(std::vector<AudioObjectID> ids, std::size_t extra = 0) {
    std::vector<std::uint8_t> bytes(ids.size() * 4 + extra, 0xEE);
    std::memcpy(bytes.data(), ids.data(), ids.size() * 4);
    return bytes;
}

TEST_P(DeviceList, HoldsSizeOverFourEntries) {
    hardware.setRawValue(kAudioObjectSystemObject, kDevices, GetParam().bytes);
    EXPECT_EQ(audioDeviceIDs(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DeviceList,
    ::testing::Values(
        DeviceListCase{"Empty", {}, std::nullopt}, DeviceListCase{"TwoBytes", {1, 2}, std::nullopt},
        DeviceListCase{"ThreeBytes", {1, 2, 3}, std::nullopt},
        DeviceListCase{"OneDevice", idBytes({7}), std::vector<AudioObjectID>{7}},
        DeviceListCase{"TenBytesGiveTwo", idBytes({7, 8}, 2), std::vector<AudioObjectID>{7, 8}},
        DeviceListCase{"OrderKept", idBytes({9, 3, 5}), std::vector<AudioObjectID>{9, 3, 5}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Devices, DeviceListFailuresAndShortDelivery) {
    hardware.setDeviceList({11, 12, 13});
    hardware.deliverAtMost(kAudioObjectSystemObject, kDevices, 4);
    EXPECT_EQ(audioDeviceIDs(), (std::vector<AudioObjectID>{11, 0, 0}));

    hardware.failCall(Call::getPropertyData, kAudioObjectSystemObject, kDevices, kFailure);
    EXPECT_EQ(audioDeviceIDs(), std::nullopt);
    hardware.failCall(Call::getPropertyDataSize, kAudioObjectSystemObject, kDevices, kFailure);
    EXPECT_EQ(audioDeviceIDs(), std::nullopt);
}

TEST_F(Devices, AbsurdSizesAreFailedReadsNotAllocations) {
    const AudioObjectID device = add("Device", 2, 2);
    auto huge = SimAudioHardware::bufferList({2});
    huge.resize(2u << 20);
    hardware.setRawValue(device, streamConfiguration(kOutput), huge);
    EXPECT_FALSE(audioDeviceHasChannels(device, kOutput));
    hardware.setRawValue(kAudioObjectSystemObject, kDevices, idBytes({device}, 2u << 20));
    EXPECT_EQ(audioDeviceIDs(), std::nullopt);
    EXPECT_FALSE(hardware.wasCalled(Call::getPropertyData, kAudioObjectSystemObject,
                                    kAudioHardwarePropertyDevices));
}

TEST_F(Devices, DefaultOutputOfZeroOrAFailedReadIsNone) {
    EXPECT_EQ(defaultOutputDevice(), std::nullopt); // the property does not exist yet
    hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, 0);
    EXPECT_EQ(defaultOutputDevice(), std::nullopt);
    hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, 123);
    EXPECT_THAT(defaultOutputDevice(), Optional(123u));
    hardware.failCall(Call::getPropertyData, kAudioObjectSystemObject, kDefaultOutput, kFailure);
    EXPECT_EQ(defaultOutputDevice(), std::nullopt);
}

TEST_F(Devices, SetSystemDefaultDeviceWritesFourBytesAndIgnoresItsStatus) {
    hardware.failCall(Call::setPropertyData, kAudioObjectSystemObject,
                      {kAudioHardwarePropertyDefaultInputDevice}, kFailure);
    setSystemDefaultDevice(kAudioHardwarePropertyDefaultInputDevice, 77);
    setSystemDefaultDevice(kAudioHardwarePropertyDefaultOutputDevice, 78);
    EXPECT_THAT(hardware.writes(),
                ElementsAre(Write{kAudioHardwarePropertyDefaultInputDevice, 77},
                            Write{kAudioHardwarePropertyDefaultOutputDevice, 78}));
    EXPECT_EQ(hardware.defaultDevice(kAudioHardwarePropertyDefaultOutputDevice), 78u);
}

// --- isVirtualDeviceName ----------------------------------------------------------------------

struct NameCase {
    const char* label;
    std::string name;
    bool expected;
};

class VirtualName : public Devices, public ::testing::WithParamInterface<NameCase> {};

TEST_P(VirtualName, MatchesAKeywordAfterUnicodeLowerCasing) {
    EXPECT_EQ(isVirtualDeviceName(GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, VirtualName,
    ::testing::Values(
        NameCase{"BlackHole", "BlackHole 2ch", true},
        NameCase{"UpperCase", "SOUNDFLOWER (2ch)", true},
        NameCase{"MultiOutputHyphen", "Multi-Output Device", true},
        NameCase{"MultiOutputSpace", "Multi Output Device", true},
        NameCase{"Korean",
                 "\xEB\x8B\xA4\xEC\xA4\x91 \xEC\xB6\x9C\xEB\xA0\xA5 \xEA\xB8\xB0\xEA\xB8\xB0",
                 true},
        NameCase{"InsideALongerWord", "MyLoopbackThing", true},
        NameCase{"VbCable", "CABLE Output (VB-Cable)", true},
        NameCase{"BackgroundMusic", "Background Music (UI Sounds)", true},
        NameCase{"Aggregate", "Aggregate Device", true},
        NameCase{"Physical", "USB Audio CODEC", false},
        NameCase{"BuiltIn", "Built-in Output", false}, NameCase{"Empty", "", false},
        NameCase{"MultiWithoutSeparator", "MultiOutput", false},
        // Only a real Unicode mapping turns KELVIN SIGN (U+212A) into "k".
        NameCase{"KelvinSign", "BLAC\xE2\x84\xAAHOLE", true},
        NameCase{"NonAsciiCapitalsAround", "\xC3\x96KO LOOPBACK \xC3\x89TUDE", true},
        NameCase{"InvalidUtf8AroundKeyword",
                 "\xFF\xFE"
                 "BlackHole\xC3",
                 true},
        NameCase{"InvalidUtf8Only", "\xC0\xAF\xED\xA0\x80\xF8\x88\x80\x80\x80", false},
        NameCase{"EmbeddedNulSplitsKeyword", std::string("Black\0Hole", 10), false},
        NameCase{"EmbeddedNulBeforeKeyword", std::string("\0blackhole", 10), true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(PortableTextLowercasing, MapsUnicodeCapitalsAndKeepsInvalidBytes) {
    platform::portable::PortableText text;
    EXPECT_EQ(text.lowercased("\xC3\x89"
                              "COUTE \xCE\xA3\xCE\x99\xCE\xA3"),
              "\xC3\xA9"
              "coute \xCF\x83\xCE\xB9\xCF\x83");
    EXPECT_EQ(text.lowercased("\xD0\x96\xF0\x90\x90\x80"),
              "\xD0\xB6\xF0\x90\x90\xA8"); // Ж, Deseret
    EXPECT_EQ(text.lowercased("A\xFF"
                              "B\xC3"),
              "a\xFF"
              "b\xC3");
    EXPECT_EQ(text.lowercased(std::string("A\0B", 3)), std::string("a\0b", 3));
}

// --- the searches -----------------------------------------------------------------------------

TEST_F(Devices, VirtualSearchTakesTheFirstVirtualDeviceWithInputsAndOutputs) {
    add("Built-in Output", 0, 2, {0});
    const AudioObjectID twoChannel = add("BlackHole 2ch", 2, 2);
    add("BlackHole 16ch", 16, 16);
    EXPECT_THAT(findVirtualSystemAudioDevice(), Optional(twoChannel));
}

TEST_F(Devices, VirtualSearchPassesOverDevicesMissingAScopeOrAName) {
    add("Loopback Audio", 2, 0);
    add("Soundflower (2ch)", 0, 2);
    add(std::nullopt, 2, 2);
    EXPECT_EQ(findVirtualSystemAudioDevice(), std::nullopt);
    const AudioObjectID aggregate = add("Aggregate Device", 2, 2);
    EXPECT_THAT(findVirtualSystemAudioDevice(), Optional(aggregate));
}

TEST_F(Devices, SearchesPassOverEntriesTheSystemDidNotDeliver) {
    const AudioObjectID blackHole = add("BlackHole 2ch", 2, 2);
    const AudioObjectID speaker = add("Built-in Output", 0, 2);
    hardware.setDeviceList({blackHole, speaker, 0, 0});
    hardware.deliverAtMost(kAudioObjectSystemObject, kDevices, 4); // only the first arrives
    EXPECT_THAT(findVirtualSystemAudioDevice(), Optional(blackHole));
    EXPECT_EQ(findPhysicalOutputDevice(), std::nullopt);
}

TEST_F(Devices, SearchesFindNothingWithoutADeviceList) {
    add("BlackHole 2ch", 2, 2);
    add("Built-in Output", 0, 2, {0});
    hardware.failCall(Call::getPropertyDataSize, kAudioObjectSystemObject, kDevices, kFailure);
    EXPECT_EQ(findVirtualSystemAudioDevice(), std::nullopt);
    EXPECT_EQ(findPhysicalOutputDevice(), std::nullopt);
}

TEST_F(Devices, PhysicalSearchPrefersASettableVolumeThenTakesTheFirstOutput) {
    const AudioObjectID dac = add("USB DAC", 0, 2);
    const AudioObjectID headphones = add("External Headphones", 0, 2, {1});
    EXPECT_THAT(findPhysicalOutputDevice(), Optional(headphones));
    hardware.setDeviceList({dac});
    EXPECT_THAT(findPhysicalOutputDevice(), Optional(dac));
}

TEST_F(Devices, PhysicalSearchNeverTakesVirtualNamelessOrInputOnlyDevices) {
    add("Aggregate Device", 2, 2, {0});
    add(std::nullopt, 0, 2, {0});
    add("Built-in Microphone", 2, 0, {0});
    EXPECT_EQ(findPhysicalOutputDevice(), std::nullopt);
}

// --- restorePhysicalOutputIfNeeded ------------------------------------------------------------

TEST_F(Devices, RestoreMovesAVirtualDefaultOutputToThePhysicalDevice) {
    const AudioObjectID blackHole = add("BlackHole 2ch", 2, 2, {0});
    const AudioObjectID speaker = add("Built-in Output", 0, 2, {0});
    hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, blackHole);
    EXPECT_THAT(restorePhysicalOutputIfNeeded(), Optional(std::string("Built-in Output")));
    EXPECT_THAT(hardware.writes(),
                ElementsAre(Write{kAudioHardwarePropertyDefaultOutputDevice, speaker},
                            Write{kAudioHardwarePropertyDefaultSystemOutputDevice, speaker}));
}

TEST_F(Devices, RestoreLeavesAPhysicalOutputWithSettableVolumeAlone) {
    const AudioObjectID speaker = add("Built-in Output", 0, 2, {0});
    add("External Headphones", 0, 2, {0});
    hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, speaker);
    EXPECT_EQ(restorePhysicalOutputIfNeeded(), std::nullopt);
    EXPECT_THAT(hardware.writes(), IsEmpty());
}

TEST_F(Devices, RestoreRewritesTheOnlyOutputWhenItHasNoSettableVolume) {
    const AudioObjectID dac = add("USB DAC", 0, 2);
    hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, dac);
    EXPECT_THAT(restorePhysicalOutputIfNeeded(), Optional(std::string("USB DAC")));
    EXPECT_THAT(hardware.writes(),
                ElementsAre(Write{kAudioHardwarePropertyDefaultOutputDevice, dac},
                            Write{kAudioHardwarePropertyDefaultSystemOutputDevice, dac}));
}

TEST_F(Devices, RestoreMovesANonVirtualOutputWithoutVolumeToOneWithVolume) {
    const AudioObjectID dac = add("USB DAC", 0, 2);
    const AudioObjectID speaker = add("Built-in Output", 0, 2, {2});
    hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, dac);
    EXPECT_THAT(restorePhysicalOutputIfNeeded(), Optional(std::string("Built-in Output")));
    EXPECT_THAT(hardware.writes(),
                ElementsAre(Write{kAudioHardwarePropertyDefaultOutputDevice, speaker},
                            Write{kAudioHardwarePropertyDefaultSystemOutputDevice, speaker}));
}

TEST_F(Devices, RestoreChangesNothingWhenNoPhysicalOutputExists) {
    const AudioObjectID blackHole = add("BlackHole 2ch", 2, 2, {0});
    add("Multi-Output Device", 0, 2, {0});
    hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, blackHole);
    EXPECT_EQ(restorePhysicalOutputIfNeeded(), std::nullopt);
    EXPECT_THAT(hardware.writes(), IsEmpty());
}

TEST_F(Devices, RestoreChangesNothingWhenTheDefaultOutputsNameIsUnreadable) {
    const AudioObjectID nameless = add(std::nullopt, 0, 2);
    add("Built-in Output", 0, 2, {0});
    hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, nameless);
    EXPECT_EQ(restorePhysicalOutputIfNeeded(), std::nullopt);
    EXPECT_THAT(hardware.writes(), IsEmpty());
}

TEST_F(Devices, RestoreWithoutADefaultOutputNeverReadsTheDeviceList) {
    add("Built-in Output", 0, 2, {0});
    for (bool readFails : {false, true}) {
        hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, 0);
        if (readFails) {
            hardware.failCall(Call::getPropertyData, kAudioObjectSystemObject, kDefaultOutput,
                              kFailure);
        }
        EXPECT_EQ(restorePhysicalOutputIfNeeded(), std::nullopt);
        EXPECT_FALSE(hardware.wasCalled(Call::getPropertyDataSize, kAudioObjectSystemObject,
                                        kAudioHardwarePropertyDevices));
        EXPECT_THAT(hardware.writes(), IsEmpty());
    }
}

} // namespace
} // namespace tovanel
