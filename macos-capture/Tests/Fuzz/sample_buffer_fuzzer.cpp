// A sample buffer of any description, layout, size and lies through the whole conversion path:
// it either fails with a reason or yields whole frames, which sanitise to finite samples within
// the bounds. The sanitisers watch every read of the buffer list and the samples.
#include "pcm/sample_conversion.h"
#include "pcm/sanitize.h"
#include "sim/sample_buffer.h"
#include "sim/sim_platform.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Takes values off the front of the input; zeros once it runs out.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    template <class T>
    T take() {
        T value{};
        const std::size_t n = std::min(sizeof value, size);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovanel;
    static sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    static ConverterState state; // kept across inputs, as the handler keeps it across buffers
    (void)platform;
    Input in{data, size};
    auto buffer = std::make_shared<sim::SimSampleBuffer>();
    const double rates[] = {48000, 44100, 24000, 8000, 0, 1e9, std::nan("")};
    buffer->description = platform::AudioStreamBasicDescription{rates[in.take<std::uint8_t>() % 7],
                                                                platform::kAudioFormatLinearPCM,
                                                                in.take<std::uint8_t>() & 0x6Fu,
                                                                in.take<std::uint8_t>(),
                                                                1u + in.take<std::uint8_t>() % 2,
                                                                in.take<std::uint8_t>(),
                                                                in.take<std::uint8_t>() % 9u,
                                                                in.take<std::uint8_t>(),
                                                                0};
    buffer->description->mBytesPerPacket +=
        buffer->description->mFramesPerPacket == 1
            ? buffer->description->mBytesPerFrame - buffer->description->mBytesPerPacket
            : 0;
    buffer->frames = in.take<std::uint16_t>() % 4096 - 8;
    buffer->announcedCount = in.take<std::uint8_t>() % 4 == 0
                                 ? std::optional(in.take<std::uint8_t>() % 8)
                                 : std::nullopt;
    const std::size_t buffers = in.take<std::uint8_t>() % 5;
    for (std::size_t b = 0; b < buffers; ++b) {
        const std::uint32_t channels = in.take<std::uint8_t>() % 3u;
        const std::size_t length = std::min<std::size_t>(in.take<std::uint16_t>() % 40000, in.size);
        buffer->buffers.push_back({channels, {in.data, in.data + length}});
        in.data += length;
        in.size -= length;
    }
    auto result = convertToTargetPCM(*buffer, state);
    if (auto* block = std::get_if<ByteBlock>(&result)) {
        if (block->size() % 8 != 0) {
            std::abort();
        }
        const ByteBlock clean = sanitizedInterleavedFloatPCM(std::move(*block));
        for (std::size_t i = 0; i < clean.size(); i += 4) {
            float sample;
            std::memcpy(&sample, clean.data() + i, 4);
            if (!std::isfinite(sample) || std::fabs(sample) > 0.95f) {
                std::abort();
            }
        }
    } else if (localizedDescription(std::get<ConversionError>(result)).empty()) {
        std::abort();
    }
    return 0;
}
