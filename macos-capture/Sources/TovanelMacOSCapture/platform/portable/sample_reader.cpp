// Sample types to planar 32-bit floats, one channel at a time.
#include "platform/portable/sample_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tovanel::platform::portable {

namespace {

template <SampleType type>
float decoded(const std::byte* bytes) {
    if constexpr (type == SampleType::int16) {
        std::int16_t value;
        std::memcpy(&value, bytes, sizeof value);
        return static_cast<float>(value) * (1.0f / 32768.0f);
    } else if constexpr (type == SampleType::int24Packed) {
        const auto low = static_cast<std::uint32_t>(bytes[0]) |
                         (static_cast<std::uint32_t>(bytes[1]) << 8) |
                         (static_cast<std::uint32_t>(bytes[2]) << 16);
        return static_cast<float>(static_cast<std::int32_t>(low << 8) >> 8) * (1.0f / 8388608.0f);
    } else if constexpr (type == SampleType::int24AlignedLow) {
        std::uint32_t word;
        std::memcpy(&word, bytes, sizeof word);
        return static_cast<float>(static_cast<std::int32_t>(word << 8) >> 8) * (1.0f / 8388608.0f);
    } else if constexpr (type == SampleType::int24AlignedHigh) {
        std::int32_t word;
        std::memcpy(&word, bytes, sizeof word);
        return static_cast<float>(word >> 8) * (1.0f / 8388608.0f);
    } else if constexpr (type == SampleType::int32) {
        std::int32_t value;
        std::memcpy(&value, bytes, sizeof value);
        return static_cast<float>(value) * (1.0f / 2147483648.0f);
    } else {
        static_assert(type == SampleType::float64);
        double value;
        std::memcpy(&value, bytes, sizeof value);
        return static_cast<float>(value);
    }
}

// One channel of 32-bit floats out of frames `strideBytes` apart, moved as 32-bit words: bytes,
// not float values, so no load or store may touch a NaN's bits. A stride fixed at compile time
// lets the vectoriser turn the loop into a few shuffles per vector.
template <std::size_t kStrideBytes>
void copyWords(const std::byte* source, std::size_t strideBytes, std::size_t count,
               float* destination) {
    const std::size_t stride = kStrideBytes != 0 ? kStrideBytes : strideBytes;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t word;
        std::memcpy(&word, source + i * stride, sizeof word);
        std::memcpy(destination + i, &word, sizeof word);
    }
}

template <SampleType type>
void readChannel(const std::byte* source, std::size_t strideBytes, std::size_t count,
                 float* destination) {
    if constexpr (type == SampleType::float32) {
        if (strideBytes == sizeof(float)) {
            std::memcpy(destination, source, count * sizeof(float));
        } else if (strideBytes == 2 * sizeof(float)) {
            copyWords<2 * sizeof(float)>(source, strideBytes, count, destination); // stereo
        } else {
            copyWords<0>(source, strideBytes, count, destination);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            destination[i] = decoded<type>(source + i * strideBytes);
        }
    }
}

using ChannelReader = void (*)(const std::byte*, std::size_t, std::size_t, float*);

ChannelReader readerFor(SampleType type) {
    switch (type) {
    case SampleType::int16:
        return readChannel<SampleType::int16>;
    case SampleType::int24Packed:
        return readChannel<SampleType::int24Packed>;
    case SampleType::int24AlignedLow:
        return readChannel<SampleType::int24AlignedLow>;
    case SampleType::int24AlignedHigh:
        return readChannel<SampleType::int24AlignedHigh>;
    case SampleType::int32:
        return readChannel<SampleType::int32>;
    case SampleType::float32:
        return readChannel<SampleType::float32>;
    case SampleType::float64:
        break;
    }
    return readChannel<SampleType::float64>;
}

} // namespace

void readPlanarFloat(const PortablePCMBuffer& source, std::size_t firstFrame,
                     std::size_t frameCount, const std::vector<float*>& destinations) {
    const PortableAudioFormat& format = source.portableFormat();
    const ChannelReader read = readerFor(format.sampleType());
    const std::size_t sampleBytes = bytesPerSample(format.sampleType());
    const std::size_t frameBytes = format.bytesPerBufferFrame();
    const std::uint32_t lastChannel = format.channelCount() - 1;
    for (std::size_t c = 0; c < destinations.size(); ++c) {
        const auto channel = static_cast<std::uint32_t>(std::min<std::size_t>(c, lastChannel));
        const std::byte* start =
            format.isInterleaved()
                ? source.bufferData(0) + firstFrame * frameBytes + channel * sampleBytes
                : source.bufferData(channel) + firstFrame * frameBytes;
        read(start, frameBytes, frameCount, destinations[c]);
    }
}

} // namespace tovanel::platform::portable
