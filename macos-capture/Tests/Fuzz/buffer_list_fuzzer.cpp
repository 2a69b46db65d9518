// Fuzz target: audioDeviceHasChannels over any stream-configuration value the hardware can hand
// back, held to a plain reading that never leaves the delivered bytes.
#include "buffer_list_input.h"
#include "devices/audio_device_queries.h"
#include "fuzz_check.h"
#include "fuzz_platform.h"
#include "reference_buffer_list.h"

#include <algorithm>

namespace {

using namespace tovanel;
using namespace tovanel::platform;
using Call = sim::SimAudioHardware::Call;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader reader({data, size});
    const auto input = fuzz::BufferListInput::read(reader);
    auto& platform = fuzz::FuzzPlatform::forNextInput();
    auto& hardware = platform.audioHardware();

    sim::SimAudioHardware::Device device;
    device.name = "Device";
    const AudioObjectID id = hardware.addDevice(device);
    const std::uint32_t scope =
        input.outputScope ? kAudioObjectPropertyScopeOutput : kAudioObjectPropertyScopeInput;
    const AudioObjectPropertyAddress address{kAudioDevicePropertyStreamConfiguration, scope,
                                             kAudioObjectPropertyElementMain};
    hardware.setRawValue(id, address, input.value);
    if (input.sizeCallFails) {
        hardware.failCall(Call::getPropertyDataSize, id, address, -50);
    }
    if (input.dataCallFails) {
        hardware.failCall(Call::getPropertyData, id, address, -50);
    }
    if (input.deliverAtMost) {
        hardware.deliverAtMost(id, address, *input.deliverAtMost);
    }
    if (input.announcedSize) {
        platform.announceSize(id, address, *input.announcedSize);
    }

    const bool answer = audioDeviceHasChannels(id, scope);

    // What the hardware hands over: the announced size asked for, at most the value, at most the
    // delivery limit.
    const auto announced =
        input.announcedSize.value_or(static_cast<std::uint32_t>(input.value.size()));
    bool expected = false;
    if (!input.sizeCallFails && announced > 0 && !input.dataCallFails) {
        std::size_t delivered = std::min<std::size_t>(announced, input.value.size());
        if (input.deliverAtMost) {
            delivered = std::min<std::size_t>(delivered, *input.deliverAtMost);
        }
        expected = fuzz::referenceHasChannels(std::span(input.value).first(delivered));
    }
    FUZZ_CHECK(answer == expected);
    // A size of 0 allocates nothing and asks for no data.
    if (!input.sizeCallFails && announced == 0) {
        FUZZ_CHECK(!hardware.wasCalled(Call::getPropertyData, id,
                                       kAudioDevicePropertyStreamConfiguration));
    }
    // The other scope is another property, in which this device has no records.
    FUZZ_CHECK(!audioDeviceHasChannels(id, input.outputScope ? kAudioObjectPropertyScopeInput
                                                             : kAudioObjectPropertyScopeOutput));
    return 0;
}
