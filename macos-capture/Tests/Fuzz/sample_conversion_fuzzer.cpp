// Fuzz target: convertToTargetPCM over a run of sample buffers sharing one converter state, each
// result held to a model of the path: which error a buffer must give, that a buffer whose list
// cannot back its frames never yields audio, that the output is whole stereo frames within the
// output capacity, and that at 48000 Hz every sample comes through exactly (decoded to float
// where the source is not float).
//
// Input: sample buffers as SampleBufferRecipe encodes them, one after another (at most 8).
#include "fuzz_check.h"
#include "fuzz_platform.h"
#include "fuzz_sample_buffer.h"
#include "pcm/sample_conversion.h"
#include "platform/portable/audio_format.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using namespace tovanel;
using namespace tovanel::platform;
using platform::portable::PortableAudioFormat;
using platform::portable::SampleType;
using Case = CaptureError::Case;
using Recipe = fuzz::SampleBufferRecipe;

constexpr std::size_t kMaxBuffers = 8;
// The largest list the path asks for (4096 records); a larger size is refused.
constexpr std::size_t kLargestList = audioBufferListSize(4096);

// One sample decoded the plain way: integers over their full scale, floats as they are.
float referenceSample(SampleType type, const std::uint8_t* bytes) {
    const auto load = [&](auto value) {
        std::memcpy(&value, bytes, sizeof value);
        return value;
    };
    switch (type) {
    case SampleType::int16:
        return static_cast<float>(load(std::int16_t{})) / 32768.0f;
    case SampleType::int24Packed: {
        std::int32_t value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16);
        if (value & 0x800000) {
            value -= 0x1000000;
        }
        return static_cast<float>(value) / 8388608.0f;
    }
    case SampleType::int24AlignedLow: {
        std::int32_t value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16);
        if (value & 0x800000) {
            value -= 0x1000000;
        }
        return static_cast<float>(value) / 8388608.0f;
    }
    case SampleType::int24AlignedHigh: {
        std::int32_t value = bytes[1] | (bytes[2] << 8) | (bytes[3] << 16);
        if (value & 0x800000) {
            value -= 0x1000000;
        }
        return static_cast<float>(value) / 8388608.0f;
    }
    case SampleType::int32:
        return static_cast<float>(static_cast<double>(load(std::int32_t{})) / 2147483648.0);
    case SampleType::float32:
        return load(float{});
    case SampleType::float64:
        return static_cast<float>(load(double{}));
    }
    return 0;
}

bool sameSample(float actual, float expected) {
    return std::bit_cast<std::uint32_t>(actual) == std::bit_cast<std::uint32_t>(expected) ||
           (std::isnan(actual) && std::isnan(expected));
}

struct Expectation {
    std::optional<Case> error;             // the error the buffer must give
    bool reachesConverter = false;         // the converter state is chosen (and may change)
    bool passesThrough = false;            // already the target: no converter involved
    std::optional<std::uint32_t> capacity; // the output buffer's frames, when converted
    bool exact = false;                    // every frame comes out decoded, in order
};

Expectation failure(Case error) {
    Expectation expectation;
    expectation.error = error;
    return expectation;
}

// What the path must do with `buffer`, from its recipe and the list it handed out.
Expectation expect(const fuzz::FuzzSampleBuffer& buffer,
                   std::shared_ptr<PortableAudioFormat>& format) {
    const Recipe& recipe = buffer.recipe();
    if (recipe.description == Recipe::Description::none) {
        return failure(Case::missingFormatDescription);
    }
    if (recipe.description == Recipe::Description::notAudio) {
        return failure(Case::missingStreamDescription);
    }
    format = PortableAudioFormat::fromStreamDescription(recipe.asbd);
    if (!format) {
        return failure(Case::unsupportedSourceFormat);
    }
    if (recipe.sizeStatus) {
        return failure(Case::audioBufferListUnavailable);
    }
    const std::size_t listSize =
        recipe.sizeNeeded.value_or(audioBufferListSize(recipe.records.size()));
    if (listSize == 0 || listSize > kLargestList) {
        return failure(Case::audioBufferListUnavailable);
    }
    const auto& fill = buffer.lastFill();
    FUZZ_CHECK(fill && fill->listSize == listSize); // the list asked for is the size announced
    if (fill->status != 0) {
        return failure(Case::audioBufferListUnavailable);
    }
    if (recipe.numSamples < 0 || recipe.numSamples > std::numeric_limits<std::uint32_t>::max()) {
        return failure(Case::bufferAllocationFailed);
    }
    const auto frames = static_cast<std::uint64_t>(recipe.numSamples);
    const std::uint64_t needed = frames * format->bytesPerBufferFrame();
    // Every buffer of the format must be backed by a record with data holding all its frames,
    // and this is settled before any memory is taken for them.
    const std::size_t recordsInList = (listSize - kAudioBufferListHeaderSize) / sizeof(AudioBuffer);
    const std::size_t usable = std::min<std::size_t>(fill->count, recordsInList);
    if (needed > 0) {
        for (std::uint32_t i = 0; i < format->bufferCount(); ++i) {
            const bool backed = i < usable && i < fill->records.size() &&
                                fill->records[i].mData != nullptr &&
                                fill->records[i].mDataByteSize >= needed;
            if (!backed) {
                return failure(Case::audioBufferListUnavailable);
            }
        }
    }
    Expectation expectation;
    const auto target =
        PortableAudioFormat::fromCommonFormat(CommonFormat::float32, 48000, 2, false);
    if (format->isEqual(*target)) {
        expectation.passesThrough = true;
        expectation.exact = true;
        return expectation;
    }
    expectation.reachesConverter = true;
    if (!platform::portable::isConvertibleSampleRate(format->sampleRate())) {
        expectation.error = Case::converterUnavailable;
        return expectation;
    }
    const double converted = static_cast<double>(frames) * (48000.0 / format->sampleRate());
    if (!(converted < static_cast<double>(std::numeric_limits<std::uint32_t>::max()) - 16)) {
        expectation.error = Case::bufferAllocationFailed;
        return expectation;
    }
    expectation.capacity = static_cast<std::uint32_t>(converted) + 16;
    expectation.exact = format->sampleRate() == 48000.0;
    return expectation;
}

// The frames of the buffer's audio as the target's left and right channels, decoded.
void checkExact(const fuzz::FuzzSampleBuffer& buffer, const PortableAudioFormat& format,
                const ByteBlock& block) {
    const auto frames = static_cast<std::size_t>(buffer.recipe().numSamples);
    FUZZ_CHECK(block.size() == frames * 8);
    const auto& records = buffer.lastFill()->records;
    const std::size_t sampleBytes = portable::bytesPerSample(format.sampleType());
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::uint32_t side = 0; side < 2; ++side) {
            const std::uint32_t channel = std::min(side, format.channelCount() - 1);
            const auto* data = static_cast<const std::uint8_t*>(
                records[format.isInterleaved() ? 0 : channel].mData);
            const std::uint8_t* sample = data + i * format.bytesPerBufferFrame() +
                                         (format.isInterleaved() ? channel * sampleBytes : 0);
            float actual;
            std::memcpy(&actual, block.data() + 8 * i + 4 * side, 4);
            FUZZ_CHECK(sameSample(actual, referenceSample(format.sampleType(), sample)));
        }
    }
}

// Buffers that never reach the converter leave the state alone. The others keep the converter
// when their description equals the one it was made for, and otherwise get a new one (or none,
// when it cannot be made), with their own description stored beside it.
void checkConverterState(const ConverterState& before, const ConverterState& after,
                         const fuzz::FuzzSampleBuffer& buffer, const Expectation& expected) {
    if (!expected.reachesConverter) {
        FUZZ_CHECK(after.converter == before.converter &&
                   after.sourceFormatDescription == before.sourceFormatDescription);
        return;
    }
    FUZZ_CHECK(after.sourceFormatDescription == buffer.formatDescription());
    const bool reusable = before.converter && before.sourceFormatDescription &&
                          before.sourceFormatDescription->isEqual(*buffer.formatDescription());
    if (reusable) {
        FUZZ_CHECK(after.converter == before.converter);
    } else if (before.converter) {
        FUZZ_CHECK(after.converter != before.converter);
    }
    FUZZ_CHECK((expected.error == Case::converterUnavailable) == !after.converter);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzPlatform::forNextInput();
    fuzz::ByteReader reader({data, size});
    ConverterState state;
    for (std::size_t n = 0; n < kMaxBuffers && !reader.empty(); ++n) {
        const fuzz::FuzzSampleBuffer buffer(Recipe::read(reader));
        const ConverterState before = state;

        auto result = convertToTargetPCM(buffer, state);

        std::shared_ptr<PortableAudioFormat> format;
        const Expectation expected = expect(buffer, format);
        if (expected.error) {
            const auto* error = std::get_if<ConversionError>(&result);
            FUZZ_CHECK(error != nullptr);
            const auto* ours = std::get_if<CaptureError>(error);
            FUZZ_CHECK(ours != nullptr && ours->errorCase() == *expected.error);
            checkConverterState(before, state, buffer, expected);
            continue;
        }
        const auto* block = std::get_if<ByteBlock>(&result);
        FUZZ_CHECK(block != nullptr); // no converter error for a buffer it accepted
        FUZZ_CHECK(block->size() % 8 == 0);
        checkConverterState(before, state, buffer, expected);
        if (!expected.passesThrough) {
            FUZZ_CHECK(block->size() <= std::size_t{*expected.capacity} * 8);
        }
        if (expected.exact) {
            checkExact(buffer, *format, *block);
        }
    }
    return 0;
}
