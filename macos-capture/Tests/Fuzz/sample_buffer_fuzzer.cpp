// A sample buffer of any description, layout, size and lies through the whole conversion path:
// it either fails with a reason or yields whole, sanitised frames; in the service's own layout
// exactly the frames announced, interleaved from the two runs, and otherwise no more than the
// output had room for. The sanitisers watch every read of the buffer list and the samples.
#include "pcm/sample_conversion.h"
#include "pcm/sanitize.h"
#include "sim/sample_buffer.h"
#include "sim/sim_platform.h"

#include <cmath>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovanel;
    static sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    static ConverterState state; // kept across inputs, as the handler keeps it across buffers
    (void)platform;
    const auto take = [&](std::size_t bytes) { // the next bytes of the input, zeros past its end
        std::uint32_t value = 0;
        const std::size_t taken = std::min(bytes, size);
        std::memcpy(&value, data, std::min(taken, sizeof value));
        data += taken;
        size -= taken;
        return value;
    };
    const double rates[] = {48000, 44100, 24000, 8000, 0, 1e9, std::nan("")};
    auto buffer = std::make_shared<sim::SimSampleBuffer>();
    // Half the time the layout the service hands over (no converter), else anything at all.
    const bool target = take(1) % 2 == 0;
    auto& asbd = buffer->description.emplace(sim::pcmFormat(48000, 2, false));
    if (!target) {
        asbd.mSampleRate = rates[take(1) % 7];
        asbd.mFormatFlags = take(1) & 0x6F;
        asbd.mBytesPerFrame = asbd.mBytesPerPacket = take(1);
        asbd.mChannelsPerFrame = take(1) % 9;
        asbd.mBitsPerChannel = take(1);
    }
    buffer->frames = std::int64_t(take(2) % 4096) - 8;
    if (take(1) % 4 == 0) {
        buffer->announcedCount = take(1) % 8;
    }
    for (std::size_t count = take(1) % 5; count > 0; --count) {
        const std::uint32_t channels = take(1) % 3;
        const std::size_t length = std::min<std::size_t>(take(2) % 40000, size);
        buffer->buffers.push_back({channels, {data, data + length}});
        take(length);
    }
    auto result = convertToTargetPCM(*buffer, state);
    if (const auto* failure = std::get_if<ConversionError>(&result)) {
        if (localizedDescription(*failure).empty()) {
            std::abort();
        }
        return 0;
    }
    const ByteBlock& block = std::get<ByteBlock>(result);
    const std::size_t frames = block.size() / 8;
    bool sound = block.size() % 8 == 0 && sanitizedInterleavedFloatPCM(block.bytes()) == block;
    if (target) { // every announced frame: left from the first run, right from the second
        std::vector<std::uint8_t> pairs;
        for (std::int64_t i = 0; i < buffer->frames; ++i) {
            for (const auto& run : {buffer->buffers.at(0).bytes, buffer->buffers.at(1).bytes}) {
                pairs.insert(pairs.end(), run.begin() + 4 * i, run.begin() + 4 * i + 4);
            }
        }
        sound = sound && block == sanitizedInterleavedFloatPCM(pairs);
    } else { // never more than the output's room: the rate's share plus 16
        sound = sound && frames <= buffer->frames * 48000 / asbd.mSampleRate + 16;
    }
    if (!sound) {
        std::abort();
    }
    return 0;
}
