// Device tables: their encoding, their set-up on the simulated hardware, and their model.
#include "device_table.h"

#include "reference_buffer_list.h"

#include <algorithm>
#include <cstring>

namespace tovanel::fuzz {

namespace {

using namespace platform;
using Call = sim::SimAudioHardware::Call;

constexpr std::size_t kMaxRecords = 8;
constexpr std::size_t kMaxListedIdentifiers = 32;
constexpr OSStatus kFailure = -50;

constexpr AudioObjectPropertyAddress kDevices{kAudioHardwarePropertyDevices};
constexpr AudioObjectPropertyAddress kDefaultOutput{kAudioHardwarePropertyDefaultOutputDevice};

AudioObjectPropertyAddress streamConfiguration(bool output) {
    return {kAudioDevicePropertyStreamConfiguration,
            output ? kAudioObjectPropertyScopeOutput : kAudioObjectPropertyScopeInput,
            kAudioObjectPropertyElementMain};
}

std::vector<std::uint8_t> takeSized(ByteReader& in) {
    return in.takeBytes(in.take<std::uint16_t>());
}

void putSized(ByteWriter& out, std::span<const std::uint8_t> bytes) {
    out.put(static_cast<std::uint16_t>(bytes.size()));
    out.putBytes(bytes);
}

void readScope(ByteReader& in, bool raw, DeviceEntry::Scope& scope) {
    if (raw) {
        scope.raw = takeSized(in);
        return;
    }
    const std::size_t count = in.take<std::uint8_t>() % (kMaxRecords + 1);
    for (std::size_t i = 0; i < count; ++i) {
        scope.channels.push_back(in.take<std::uint32_t>());
    }
}

void writeScope(ByteWriter& out, const DeviceEntry::Scope& scope) {
    if (scope.raw) {
        putSized(out, *scope.raw);
        return;
    }
    out.put(static_cast<std::uint8_t>(scope.channels.size()));
    for (std::uint32_t channels : scope.channels) {
        out.put(channels);
    }
}

// The bytes the simulated hardware delivers for a scope.
std::vector<std::uint8_t> scopeValue(const DeviceEntry::Scope& scope) {
    return scope.raw ? *scope.raw : sim::SimAudioHardware::bufferList(scope.channels);
}

} // namespace

DeviceTable DeviceTable::read(ByteReader& in) {
    DeviceTable table;
    const std::size_t count = in.take<std::uint8_t>() % (kMaxDevices + 1);
    for (std::size_t i = 0; i < count; ++i) {
        DeviceEntry device;
        const auto flags = in.take<std::uint8_t>();
        if (flags & 1) {
            const auto name = takeSized(in);
            device.name.emplace(name.begin(), name.end());
        }
        readScope(in, flags & 2, device.input);
        readScope(in, flags & 4, device.output);
        device.input.sizeCallFails = flags & 8;
        device.input.dataCallFails = flags & 16;
        device.output.sizeCallFails = flags & 32;
        device.output.dataCallFails = flags & 64;
        const auto volume = in.take<std::uint16_t>();
        for (std::size_t element = 0; element < device.volume.size(); ++element) {
            device.volume[element].exists = volume & (1u << element);
            device.volume[element].settable = volume & (1u << (element + 4));
            device.volume[element].queryFails = volume & (1u << (element + 8));
        }
        table.devices.push_back(std::move(device));
    }
    const auto listFlags = in.take<std::uint8_t>();
    table.listForm = static_cast<ListForm>((listFlags & 3) % 3);
    table.listSizeCallFails = listFlags & 4;
    table.listDataCallFails = listFlags & 8;
    if (table.listForm == ListForm::identifiers) {
        const std::size_t listed = in.take<std::uint8_t>() % (kMaxListedIdentifiers + 1);
        for (std::size_t i = 0; i < listed; ++i) {
            table.listedIdentifiers.push_back(in.take<AudioObjectID>());
        }
    } else if (table.listForm == ListForm::raw) {
        table.rawList = takeSized(in);
    }
    if (listFlags & 16) {
        table.listDeliverAtMost = in.take<std::uint32_t>();
    }
    const auto defaultFlags = in.take<std::uint8_t>();
    if (defaultFlags & 1) {
        table.defaultOutput = in.take<AudioObjectID>();
    }
    table.defaultOutputReadFails = defaultFlags & 2;
    return table;
}

void DeviceTable::write(ByteWriter& out) const {
    out.put(static_cast<std::uint8_t>(devices.size()));
    for (const DeviceEntry& device : devices) {
        out.put(static_cast<std::uint8_t>(
            (device.name ? 1 : 0) | (device.input.raw ? 2 : 0) | (device.output.raw ? 4 : 0) |
            (device.input.sizeCallFails ? 8 : 0) | (device.input.dataCallFails ? 16 : 0) |
            (device.output.sizeCallFails ? 32 : 0) | (device.output.dataCallFails ? 64 : 0)));
        if (device.name) {
            putSized(out, std::span(reinterpret_cast<const std::uint8_t*>(device.name->data()),
                                    device.name->size()));
        }
        writeScope(out, device.input);
        writeScope(out, device.output);
        std::uint16_t volume = 0;
        for (std::size_t element = 0; element < device.volume.size(); ++element) {
            volume |= (device.volume[element].exists ? 1u : 0u) << element;
            volume |= (device.volume[element].settable ? 1u : 0u) << (element + 4);
            volume |= (device.volume[element].queryFails ? 1u : 0u) << (element + 8);
        }
        out.put(volume);
    }
    out.put(static_cast<std::uint8_t>(static_cast<unsigned>(listForm) |
                                      (listSizeCallFails ? 4 : 0) | (listDataCallFails ? 8 : 0) |
                                      (listDeliverAtMost ? 16 : 0)));
    if (listForm == ListForm::identifiers) {
        out.put(static_cast<std::uint8_t>(listedIdentifiers.size()));
        for (AudioObjectID id : listedIdentifiers) {
            out.put(id);
        }
    } else if (listForm == ListForm::raw) {
        putSized(out, rawList);
    }
    if (listDeliverAtMost) {
        out.put(*listDeliverAtMost);
    }
    out.put(static_cast<std::uint8_t>((defaultOutput ? 1 : 0) | (defaultOutputReadFails ? 2 : 0)));
    if (defaultOutput) {
        out.put(*defaultOutput);
    }
}

void DeviceTable::install(sim::SimAudioHardware& hardware) const {
    for (const DeviceEntry& entry : devices) {
        sim::SimAudioHardware::Device device;
        device.name = entry.name;
        device.inputBuffers = entry.input.channels;
        device.outputBuffers = entry.output.channels;
        for (std::size_t element = 0; element < entry.volume.size(); ++element) {
            if (entry.volume[element].exists) {
                device.outputVolume[static_cast<std::uint32_t>(element)] = {
                    entry.volume[element].settable,
                    entry.volume[element].queryFails ? kFailure : 0};
            }
        }
        const AudioObjectID id = hardware.addDevice(std::move(device));
        for (bool output : {false, true}) {
            const DeviceEntry::Scope& scope = output ? entry.output : entry.input;
            if (scope.raw) {
                hardware.setRawValue(id, streamConfiguration(output), *scope.raw);
            }
            if (scope.sizeCallFails) {
                hardware.failCall(Call::getPropertyDataSize, id, streamConfiguration(output),
                                  kFailure);
            }
            if (scope.dataCallFails) {
                hardware.failCall(Call::getPropertyData, id, streamConfiguration(output), kFailure);
            }
        }
    }
    if (listForm == ListForm::identifiers) {
        hardware.setDeviceList(listedIdentifiers);
    } else if (listForm == ListForm::raw) {
        hardware.setRawValue(kAudioObjectSystemObject, kDevices, rawList);
    }
    if (listSizeCallFails) {
        hardware.failCall(Call::getPropertyDataSize, kAudioObjectSystemObject, kDevices, kFailure);
    }
    if (listDataCallFails) {
        hardware.failCall(Call::getPropertyData, kAudioObjectSystemObject, kDevices, kFailure);
    }
    if (listDeliverAtMost) {
        hardware.deliverAtMost(kAudioObjectSystemObject, kDevices, *listDeliverAtMost);
    }
    if (defaultOutput) {
        hardware.setDefault(kAudioHardwarePropertyDefaultOutputDevice, *defaultOutput);
    }
    if (defaultOutputReadFails) {
        hardware.failCall(Call::getPropertyData, kAudioObjectSystemObject, kDefaultOutput,
                          kFailure);
    }
}

const DeviceEntry* DeviceTable::device(AudioObjectID id) const {
    if (id < kFirstIdentifier || id - kFirstIdentifier >= devices.size()) {
        return nullptr;
    }
    return &devices[id - kFirstIdentifier];
}

std::optional<std::vector<AudioObjectID>> DeviceTable::expectedDeviceIDs() const {
    std::vector<std::uint8_t> value;
    if (listForm == ListForm::everyDevice) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const auto id = static_cast<AudioObjectID>(kFirstIdentifier + i);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&id);
            value.insert(value.end(), bytes, bytes + sizeof id);
        }
    } else if (listForm == ListForm::identifiers) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(listedIdentifiers.data());
        value.assign(bytes, bytes + listedIdentifiers.size() * sizeof(AudioObjectID));
    } else {
        value = rawList;
    }
    if (listSizeCallFails || value.size() < 4 || listDataCallFails) {
        return std::nullopt;
    }
    // As many entries as the size announces, filled as far as the delivery reaches, 0 after.
    std::vector<AudioObjectID> ids(value.size() / 4, kAudioObjectUnknown);
    const std::size_t delivered = std::min<std::size_t>(
        ids.size() * 4, listDeliverAtMost.value_or(static_cast<std::uint32_t>(value.size())));
    std::memcpy(ids.data(), value.data(), delivered);
    return ids;
}

std::optional<std::string> DeviceTable::expectedName(AudioObjectID id) const {
    const DeviceEntry* entry = device(id);
    return entry ? entry->name : std::nullopt;
}

bool DeviceTable::expectedHasChannels(AudioObjectID id, bool output) const {
    const DeviceEntry* entry = device(id);
    if (entry == nullptr) {
        return false;
    }
    const DeviceEntry::Scope& scope = output ? entry->output : entry->input;
    const auto value = scopeValue(scope);
    if (scope.sizeCallFails || value.empty() || scope.dataCallFails) {
        return false;
    }
    return referenceHasChannels(value);
}

bool DeviceTable::expectedSupportsOutputVolume(AudioObjectID id) const {
    const DeviceEntry* entry = device(id);
    if (entry == nullptr) {
        return false;
    }
    for (std::size_t element = 0; element < 3; ++element) {
        const DeviceEntry::Volume& volume = entry->volume[element];
        if (volume.exists && !volume.queryFails && volume.settable) {
            return true;
        }
    }
    return false;
}

std::optional<AudioObjectID> DeviceTable::expectedDefaultOutput() const {
    if (defaultOutputReadFails || !defaultOutput || *defaultOutput == kAudioObjectUnknown) {
        return std::nullopt;
    }
    return defaultOutput;
}

} // namespace tovanel::fuzz
