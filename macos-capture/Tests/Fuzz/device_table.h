// The input of the device-search target: a table of devices (names of any bytes, channel layouts
// or raw stream configurations, volume elements, failing calls), the device list the system
// reports for them and the default output; how it is set up on the simulated hardware; and the
// plain model of what each query and search must answer for it.
#pragma once

#include "fuzz_bytes.h"
#include "sim/audio_hardware.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovanel::fuzz {

struct DeviceEntry {
    struct Scope {
        std::vector<std::uint32_t> channels;          // one buffer record per entry
        std::optional<std::vector<std::uint8_t>> raw; // delivered instead, byte for byte
        bool sizeCallFails = false;
        bool dataCallFails = false;
    };
    struct Volume {
        bool exists = false;
        bool settable = false;
        bool queryFails = false;
    };

    std::optional<std::string> name; // none: reading it fails
    Scope input;
    Scope output;
    std::array<Volume, 4> volume; // elements 0 to 3; element 3 must never count
};

struct DeviceTable {
    enum class ListForm : std::uint8_t { everyDevice = 0, identifiers = 1, raw = 2 };

    std::vector<DeviceEntry> devices; // identifiers 100, 101, ... in this order
    ListForm listForm = ListForm::everyDevice;
    std::vector<platform::AudioObjectID> listedIdentifiers; // for ListForm::identifiers
    std::vector<std::uint8_t> rawList;                      // for ListForm::raw
    bool listSizeCallFails = false;
    bool listDataCallFails = false;
    std::optional<std::uint32_t> listDeliverAtMost;
    std::optional<platform::AudioObjectID> defaultOutput; // none: the property does not exist
    bool defaultOutputReadFails = false;

    static constexpr std::size_t kMaxDevices = 16;
    static constexpr platform::AudioObjectID kFirstIdentifier = 100;

    static DeviceTable read(ByteReader& in);
    void write(ByteWriter& out) const;

    // Sets the table up on a fresh simulated hardware, so that device i gets identifier 100 + i.
    void install(sim::SimAudioHardware& hardware) const;

    // The model. Identifiers outside the table have no name, no channels and no volume.
    const DeviceEntry* device(platform::AudioObjectID id) const;
    std::optional<std::vector<platform::AudioObjectID>> expectedDeviceIDs() const;
    std::optional<std::string> expectedName(platform::AudioObjectID id) const;
    bool expectedHasChannels(platform::AudioObjectID id, bool output) const;
    bool expectedSupportsOutputVolume(platform::AudioObjectID id) const;
    std::optional<platform::AudioObjectID> expectedDefaultOutput() const;
};

} // namespace tovanel::fuzz
