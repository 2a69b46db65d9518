// Device queries over the five property calls, failures collapsing to none or false, and the
// virtual-device, physical-output and restore decisions built on them.
#include "devices/audio_device_queries.h"
#include "devices/device_selection.h"
#include "platform/audio_types.h"
#include "sim/sim_platform.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tovanel {
namespace {

using namespace platform;
using Call = sim::SimAudioHardware::Call;
using Device = sim::SimAudioHardware::Device;
using Writes = std::vector<std::pair<std::uint32_t, AudioObjectID>>;

constexpr std::uint32_t kIn = kAudioObjectPropertyScopeInput;
constexpr std::uint32_t kOut = kAudioObjectPropertyScopeOutput;
constexpr std::uint32_t kConfig = kAudioDevicePropertyStreamConfiguration;
constexpr std::uint32_t kDefaultOut = kAudioHardwarePropertyDefaultOutputDevice;
constexpr std::uint32_t kSystemOut = kAudioHardwarePropertyDefaultSystemOutputDevice;

Device output(std::string name, std::map<std::uint32_t, bool> volume = {}) {
    return {std::move(name), "uid", {}, {2}, std::move(volume)};
}
Device loopback(std::string name) {
    return {std::move(name), "uid", {2}, {2}, {}};
}

class Devices : public ::testing::Test {
  protected:
    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    sim::SimAudioHardware& hw = platform.audioHardware;
};

TEST_F(Devices, ChannelsAreFoundInAnyRecordOfTheAskedScopeNeverPastTheDelivery) {
    const auto id = hw.add({"X", "x", {0, 2}, {0}, {}});
    EXPECT_TRUE(audioDeviceHasChannels(id, kIn)) << "second record has 2 while the first has 0";
    EXPECT_FALSE(audioDeviceHasChannels(id, kOut)) << "only records with 0 channels";
    struct Case {
        const char* name;
        sim::SimAudioHardware::Raw raw;
        bool expected;
    };
    auto bigList = sim::bufferListBytes({2});
    bigList.resize(1u << 20);
    auto lying = sim::bufferListBytes({0, 0});
    const std::uint32_t many = 3; // announces a record that is not there
    std::memcpy(lying.data(), &many, 4);
    const std::vector<Case> cases = {
        {"size 0", {sim::bufferListBytes({2}), 0}, false},
        {"no records", {sim::bufferListBytes({}), std::nullopt}, false},
        {"largest plausible size", {bigList, std::nullopt}, true},
        {"beyond it", {sim::bufferListBytes({2}), (1u << 20) + 1}, false},
        {"count beyond the block", {lying, std::nullopt}, false},
        {"delivered short of the record", {{2, 0, 0, 0, 2, 0}, 24}, false},
        {"header only", {{1, 0, 0, 0}, std::nullopt}, false},
    };
    for (const Case& c : cases) {
        hw.raw[{id, kConfig, kOut}] = c.raw;
        EXPECT_EQ(audioDeviceHasChannels(id, kOut), c.expected) << c.name;
    }
    hw.fail(Call::size, id, kConfig, -1, kIn);
    EXPECT_FALSE(audioDeviceHasChannels(id, kIn));
    hw.faults.clear();
    hw.fail(Call::data, id, kConfig, -1, kIn);
    EXPECT_FALSE(audioDeviceHasChannels(id, kIn));
}

TEST_F(Devices, OutputVolumeCountsWhenSettableOnElementZeroToTwoOnly) {
    const std::vector<std::pair<std::map<std::uint32_t, bool>, bool>> cases = {
        {{{2, true}}, true},  {{{0, false}, {1, false}, {2, false}}, false},
        {{{3, true}}, false}, {{{0, false}, {1, true}}, true},
        {{}, false},
    };
    for (const auto& [volume, expected] : cases) {
        const auto id = hw.add(output("Out", volume));
        EXPECT_EQ(audioDeviceSupportsOutputVolume(id), expected) << volume.size();
    }
    const auto failing = hw.add(output("Out", {{0, true}, {1, true}}));
    hw.fail(Call::settable, failing, kAudioDevicePropertyVolumeScalar, -1);
    EXPECT_FALSE(audioDeviceSupportsOutputVolume(failing)) << "a failed answer is not settable";
}

TEST_F(Devices, TheDeviceListIsSizedByTheAnswerAndShortDeliveriesStayZero) {
    EXPECT_EQ(audioDeviceIDs(), std::nullopt) << "an empty list has no room for one identifier";
    auto& list = hw.raw[{kAudioObjectSystemObject, kAudioHardwarePropertyDevices,
                         kAudioObjectPropertyScopeGlobal}];
    list = {test::recast<std::uint8_t>(std::vector<AudioObjectID>{7, 8, 9}), 10};
    EXPECT_EQ(audioDeviceIDs(), (std::vector<AudioObjectID>{7, 8})) << "10 bytes: two entries";
    list = {test::recast<std::uint8_t>(std::vector<AudioObjectID>{7}), 12};
    EXPECT_EQ(audioDeviceIDs(), (std::vector<AudioObjectID>{7, 0, 0}));
    for (const std::uint32_t size : {0u, 2u, (1u << 20) + 4}) {
        list.size = size;
        EXPECT_EQ(audioDeviceIDs(), std::nullopt) << size;
    }
    list.size = 4;
    hw.fail(Call::data, kAudioObjectSystemObject, kAudioHardwarePropertyDevices, -1);
    EXPECT_EQ(audioDeviceIDs(), std::nullopt);
}

TEST_F(Devices, NamesUidsAndTheDefaultOutputAreReadOrAbsentAndWritesIgnoreTheirStatus) {
    const auto named = hw.add({"BlackHole 2ch", "BlackHole2ch_UID", {}, {}, {}});
    const auto empty = hw.add({"", std::nullopt, {}, {}, {}});
    EXPECT_EQ(audioDeviceName(named), "BlackHole 2ch");
    EXPECT_EQ(audioDeviceUID(named), "BlackHole2ch_UID");
    EXPECT_EQ(audioDeviceName(empty), std::optional<std::string>("")) << "empty, yet a name";
    EXPECT_EQ(audioDeviceUID(empty), std::nullopt);
    hw.fail(Call::string, named, kAudioObjectPropertyName, kAudioHardwareNotRunningError);
    EXPECT_EQ(audioDeviceName(named), std::nullopt);
    EXPECT_EQ(defaultOutputDevice(), std::nullopt);
    hw.defaults[kDefaultOut] = 0;
    EXPECT_EQ(defaultOutputDevice(), std::nullopt);
    hw.defaults[kDefaultOut] = 104;
    EXPECT_EQ(defaultOutputDevice(), 104u);
    hw.fail(Call::data, kAudioObjectSystemObject, kDefaultOut, -1);
    EXPECT_EQ(defaultOutputDevice(), std::nullopt);
    setSystemDefaultDevice(kSystemOut, 104);
    hw.fail(Call::set, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultInputDevice, -1);
    setSystemDefaultDevice(kAudioHardwarePropertyDefaultInputDevice, 105); // nothing to report
    EXPECT_EQ(hw.writes, (Writes{{kSystemOut, 104}}));
}

TEST(VirtualNames, MatchAnyKeywordAnywhereWhateverTheCase) {
    sim::SimPlatform::installFresh();
    // clang-format off
    const std::vector<std::pair<std::string, bool>> names = {
        {"SOUNDFLOWER (2ch)", true}, {"Multi-Output Device", true}, {"Multi Output Device", true},
        {"My BlackHoleX", true}, {"Background Music", true}, {"VB-Cable", true},
        {"Loopback Audio", true}, {"Aggregate Device", true}, {"\xEF\xBB\xBF" "BlackHole 2ch", true},
        {"\xEB\x8B\xA4\xEC\xA4\x91 \xEC\xB6\x9C\xEB\xA0\xA5 \xEA\xB8\xB0\xEA\xB8\xB0", true},
        {"USB Audio CODEC", false}, {"MacBook Pro Speakers", false}, {"", false}, {"Multioutput", false},
    };
    // clang-format on
    for (const auto& [name, expected] : names) {
        EXPECT_EQ(isVirtualDeviceName(name), expected) << name;
    }
}

TEST_F(Devices, TheVirtualDeviceIsTheFirstNamedOneWithInputsAndOutputs) {
    EXPECT_EQ(findVirtualSystemAudioDevice(), std::nullopt);
    hw.add(output("Built-in Output"));
    hw.add({"Loopback Audio", "l", {2}, {}, {}});
    hw.add({"BlackHole 16ch", "b", {}, {16}, {}});
    hw.add({std::nullopt, "n", {2}, {2}, {}});
    const auto first = hw.add(loopback("BlackHole 2ch"));
    hw.add(loopback("BlackHole 16ch"));
    EXPECT_EQ(findVirtualSystemAudioDevice(), first);
    hw.deviceList = {hw.add(loopback("Aggregate Device")), first};
    EXPECT_EQ(findVirtualSystemAudioDevice(), hw.deviceList[0]);
}

TEST_F(Devices, ThePhysicalOutputPrefersASettableVolumeAndNeverAVirtualDevice) {
    hw.add({std::nullopt, "n", {}, {2}, {{0, true}}});
    hw.add(output("Aggregate Device", {{0, true}}));
    hw.add({"Microphone", "m", {2}, {}, {{0, true}}});
    const auto dac = hw.add(output("USB DAC"));
    const auto headphones = hw.add(output("External Headphones", {{1, true}}));
    EXPECT_EQ(findPhysicalOutputDevice(), headphones);
    hw.deviceList.pop_back();
    EXPECT_EQ(findPhysicalOutputDevice(), dac);
    hw.deviceList = {hw.deviceList[0], hw.deviceList[1]};
    EXPECT_EQ(findPhysicalOutputDevice(), std::nullopt);
}

TEST_F(Devices, RestoringMovesBothDefaultsOnlyOffAVirtualOrVolumelessOutput) {
    struct Case {
        const char* name;
        std::vector<Device> devices; // the first is the default output
        std::optional<std::string> restored;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"virtual default", {loopback("BlackHole 2ch"), output("Built-in Output", {{0, true}})}, "Built-in Output"},
        {"physical with volume", {output("Built-in Output", {{0, true}}), output("Other")}, std::nullopt},
        {"only output, no volume", {output("USB DAC")}, "USB DAC"},
        {"virtual, nothing physical", {loopback("BlackHole 2ch"), loopback("Aggregate Device")}, std::nullopt},
        {"unreadable default", {{std::nullopt, "x", {}, {2}, {}}, output("Speakers", {{0, true}})}, std::nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto& fresh = hw = sim::SimAudioHardware{};
        for (const Device& device : c.devices) {
            fresh.add(device);
        }
        fresh.defaults[kDefaultOut] = fresh.deviceList[0];
        EXPECT_EQ(restorePhysicalOutputIfNeeded(), c.restored);
        const AudioObjectID target = c.restored ? fresh.deviceList.back() : 0;
        const Writes expected =
            c.restored ? Writes{{kDefaultOut, target}, {kSystemOut, target}} : Writes{};
        EXPECT_EQ(fresh.writes, expected);
    }
    auto& none = hw = sim::SimAudioHardware{};
    none.add(output("Speakers"));
    EXPECT_EQ(restorePhysicalOutputIfNeeded(), std::nullopt) << "no default output: no move";
}

} // namespace
} // namespace tovanel
