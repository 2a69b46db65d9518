// A sample buffer of any description, layout, size and lies through the whole conversion path:
// it either fails with a reason or yields whole frames of finite samples within the bounds, which
// sanitising again leaves as they are. The sanitisers watch every read of the buffer list and the
// samples.
#include "pcm/sample_conversion.h"
#include "pcm/sanitize.h"
#include "sim/sample_buffer.h"
#include "sim/sim_platform.h"

#include <cmath>
#include <cstdlib>

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
    auto& asbd = buffer->description.emplace(sim::pcmFormat(rates[take(1) % 7], 1, true));
    asbd.mFormatFlags = take(1) & 0x6F;
    asbd.mBytesPerFrame = asbd.mBytesPerPacket = take(1);
    asbd.mChannelsPerFrame = take(1) % 9;
    asbd.mBitsPerChannel = take(1);
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
    if (auto* block = std::get_if<ByteBlock>(&result)) {
        if (!(sanitizedInterleavedFloatPCM(block->bytes()) == *block)) {
            std::abort();
        }
        for (std::size_t i = 0; i < block->size(); i += 4) {
            float sample;
            std::memcpy(&sample, block->data() + i, 4);
            if (block->size() % 8 != 0 || !std::isfinite(sample) || std::fabs(sample) > 0.95f) {
                std::abort();
            }
        }
    } else if (localizedDescription(std::get<ConversionError>(result)).empty()) {
        std::abort();
    }
    return 0;
}
