// Fuzz target: the device queries and the device searches over any device table, held to a plain
// model of the table and to the searches' definitions.
#include "device_table.h"
#include "devices/audio_device_queries.h"
#include "devices/device_selection.h"
#include "devices/virtual_input_keywords.h"
#include "fuzz_check.h"
#include "fuzz_platform.h"

#include <algorithm>

namespace {

using namespace tovanel;
using namespace tovanel::platform;
using Call = sim::SimAudioHardware::Call;
using Write = sim::SimAudioHardware::Write;

std::string asciiLowercased(std::string_view name) {
    std::string lowered(name);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lowered;
}

bool containsKeyword(std::string_view lowered) {
    return std::any_of(
        virtualInputKeywords.begin(), virtualInputKeywords.end(),
        [&](std::string_view keyword) { return lowered.find(keyword) != std::string_view::npos; });
}

// Whatever Unicode does to the other characters, it leaves a keyword spelled in ASCII (in any
// case) or in Korean a keyword; and a name of ASCII alone is lower-cased letter by letter.
void checkNameTest(std::string_view name) {
    const bool answer = isVirtualDeviceName(name);
    if (containsKeyword(asciiLowercased(name))) {
        FUZZ_CHECK(answer);
    }
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        FUZZ_CHECK(answer == containsKeyword(asciiLowercased(name)));
    }
}

struct Model {
    const fuzz::DeviceTable& table;

    bool isVirtual(AudioObjectID id) const {
        const auto name = table.expectedName(id);
        return name && isVirtualDeviceName(*name);
    }
    bool isVirtualCandidate(AudioObjectID id) const {
        return isVirtual(id) && table.expectedHasChannels(id, false) &&
               table.expectedHasChannels(id, true);
    }
    bool isPhysicalCandidate(AudioObjectID id) const {
        return table.expectedName(id) && !isVirtual(id) && table.expectedHasChannels(id, true);
    }
    std::optional<AudioObjectID> firstOf(const std::vector<AudioObjectID>& ids,
                                         auto&& qualifies) const {
        const auto found = std::find_if(ids.begin(), ids.end(), qualifies);
        return found == ids.end() ? std::nullopt : std::optional(*found);
    }
    std::optional<AudioObjectID> virtualDevice() const {
        const auto ids = table.expectedDeviceIDs();
        return ids ? firstOf(*ids, [&](AudioObjectID id) { return isVirtualCandidate(id); })
                   : std::nullopt;
    }
    std::optional<AudioObjectID> physicalOutput() const {
        const auto ids = table.expectedDeviceIDs();
        if (!ids) {
            return std::nullopt;
        }
        if (const auto withVolume = firstOf(*ids, [&](AudioObjectID id) {
                return isPhysicalCandidate(id) && table.expectedSupportsOutputVolume(id);
            })) {
            return withVolume;
        }
        return firstOf(*ids, [&](AudioObjectID id) { return isPhysicalCandidate(id); });
    }
    // The device the default output moves to, or none when it stays.
    std::optional<AudioObjectID> restoredOutput() const {
        const auto current = table.expectedDefaultOutput();
        if (!current || !table.expectedName(*current)) {
            return std::nullopt;
        }
        if (!isVirtual(*current) && table.expectedSupportsOutputVolume(*current)) {
            return std::nullopt;
        }
        return physicalOutput();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader reader({data, size});
    const auto table = fuzz::DeviceTable::read(reader);
    auto& hardware = fuzz::FuzzPlatform::forNextInput().audioHardware();
    table.install(hardware);
    const Model model{table};

    // The queries, for every device of the table and for identifiers outside it.
    FUZZ_CHECK(audioDeviceIDs() == table.expectedDeviceIDs());
    FUZZ_CHECK(defaultOutputDevice() == table.expectedDefaultOutput());
    std::vector<AudioObjectID> probed{kAudioObjectUnknown, kAudioObjectSystemObject};
    for (std::size_t i = 0; i <= table.devices.size(); ++i) {
        probed.push_back(static_cast<AudioObjectID>(fuzz::DeviceTable::kFirstIdentifier + i));
    }
    for (AudioObjectID id : probed) {
        FUZZ_CHECK(audioDeviceName(id) == table.expectedName(id));
        FUZZ_CHECK(audioDeviceHasChannels(id, kAudioObjectPropertyScopeInput) ==
                   table.expectedHasChannels(id, false));
        FUZZ_CHECK(audioDeviceHasChannels(id, kAudioObjectPropertyScopeOutput) ==
                   table.expectedHasChannels(id, true));
        FUZZ_CHECK(audioDeviceSupportsOutputVolume(id) == table.expectedSupportsOutputVolume(id));
        if (const auto name = table.expectedName(id)) {
            checkNameTest(*name);
        }
    }

    // The searches: their definitions, and the model's first qualifying device.
    const auto virtualDevice = findVirtualSystemAudioDevice();
    if (virtualDevice) {
        const auto name = audioDeviceName(*virtualDevice);
        FUZZ_CHECK(name && isVirtualDeviceName(*name));
        FUZZ_CHECK(audioDeviceHasChannels(*virtualDevice, kAudioObjectPropertyScopeInput));
        FUZZ_CHECK(audioDeviceHasChannels(*virtualDevice, kAudioObjectPropertyScopeOutput));
    }
    FUZZ_CHECK(virtualDevice == model.virtualDevice());

    const auto physical = findPhysicalOutputDevice();
    if (physical) {
        const auto name = audioDeviceName(*physical);
        FUZZ_CHECK(name && !isVirtualDeviceName(*name));
        FUZZ_CHECK(audioDeviceHasChannels(*physical, kAudioObjectPropertyScopeOutput));
    }
    FUZZ_CHECK(physical == model.physicalOutput());
    FUZZ_CHECK(hardware.writes().empty()); // searching writes nothing

    // Restoring: both defaults written with the target and its name returned, or nothing at all.
    const std::size_t callsBefore = hardware.calls().size();
    const auto expectedTarget = model.restoredOutput();
    const auto restored = restorePhysicalOutputIfNeeded();
    if (expectedTarget) {
        FUZZ_CHECK(restored == table.expectedName(*expectedTarget));
        FUZZ_CHECK((hardware.writes() ==
                    std::vector<Write>{
                        {kAudioHardwarePropertyDefaultOutputDevice, *expectedTarget},
                        {kAudioHardwarePropertyDefaultSystemOutputDevice, *expectedTarget}}));
    } else {
        FUZZ_CHECK(!restored);
        FUZZ_CHECK(hardware.writes().empty());
    }
    if (!table.expectedDefaultOutput()) {
        const auto calls = hardware.calls();
        FUZZ_CHECK(std::none_of(calls.begin() + static_cast<std::ptrdiff_t>(callsBefore),
                                calls.end(), [](const sim::SimAudioHardware::CallRecord& call) {
                                    return call.address.mSelector == kAudioHardwarePropertyDevices;
                                }));
    }
    return 0;
}
