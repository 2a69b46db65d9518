// The portable converter as the capture path drives it, in 10 ms buffers: a PCM buffer made and
// filled for each input, an output buffer of the input's share plus 16 frames, one conversion
// whose block hands over the input once; and the whole path from sample buffer to sanitised
// bytes, with a converter and without (the planar target format). The sample buffers are made
// here for every iteration, which the capture streams do not do. Reported as multiples of real time
// (x_realtime: seconds of audio converted per second of CPU time).
#include "pcm/sample_conversion.h"
#include "platform/platform.h"
#include "platform/portable/media.h"
#include "platform/portable/sample_buffer.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

namespace {

using namespace tovanel::platform;

// Ten seconds of something like music: two tones and some noise, in the source's sample type.
template <class Sample>
std::vector<Sample> musicLike(double rate, std::uint32_t channels, double scale) {
    const auto frames = static_cast<std::size_t>(rate * 10);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 0.05);
    std::vector<Sample> samples(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (std::uint32_t c = 0; c < channels; ++c) {
            const double x = 0.4 * std::sin(2 * std::numbers::pi * 440 * t + c) +
                             0.2 * std::sin(2 * std::numbers::pi * 3150 * t) + noise(random);
            samples[i * channels + c] = static_cast<Sample>(x * scale);
        }
    }
    return samples;
}

template <class Sample>
void convertLikeTheCapturePath(benchmark::State& state, CommonFormat common, double rate,
                               std::uint32_t channels, double scale) {
    portable::PortableMedia media;
    const auto source = media.makeFormat(common, rate, channels, true);
    const auto target = media.makeFormat(CommonFormat::float32, 48000, 2, false);
    const auto converter = media.makeConverter(source, target);
    if (!source || !target || !converter) {
        state.SkipWithError("no converter");
        return;
    }
    const std::vector<Sample> signal = musicLike<Sample>(rate, channels, scale);
    const auto bufferFrames = static_cast<std::uint32_t>(rate / 100); // 10 ms
    const std::size_t bufferBytes = std::size_t{bufferFrames} * channels * sizeof(Sample);
    const std::size_t signalFrames = signal.size() / channels;
    const auto capacity = static_cast<std::uint32_t>(bufferFrames * (48000 / rate)) + 16;

    std::size_t position = 0;
    std::int64_t framesOut = 0;
    for (auto _ : state) {
        auto input = media.makePCMBuffer(source, bufferFrames);
        input->setFrameLength(bufferFrames);
        std::memcpy(audioBuffers(input->mutableAudioBufferList(), 1)[0].mData,
                    signal.data() + position * channels, bufferBytes);
        position = (position + bufferFrames) % (signalFrames - bufferFrames);

        auto output = media.makePCMBuffer(target, capacity);
        std::optional<PlatformError> error;
        converter->convertToBuffer(*output, error, tovanel::oneShotInput(input));
        if (error) {
            state.SkipWithError(error->description.c_str());
            return;
        }
        framesOut += output->frameLength();
        benchmark::DoNotOptimize(output->floatChannelData()[0]);
    }
    const double audioSeconds = static_cast<double>(state.iterations()) * bufferFrames / rate;
    state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["frames_out"] = static_cast<double>(framesOut);
}

// The common case that needs a resampler: 44.1 kHz int16 interleaved stereo.
void Int16Stereo44100ToTarget(benchmark::State& state) {
    convertLikeTheCapturePath<std::int16_t>(state, CommonFormat::int16, 44100, 2, 32767);
}

// Same rate, layout only: 48 kHz interleaved float32 stereo, no resampler.
void Float32Stereo48000InterleavedToTarget(benchmark::State& state) {
    convertLikeTheCapturePath<float>(state, CommonFormat::float32, 48000, 2, 1);
}

// Upsampling by two from mono: 24 kHz float32.
void Float32Mono24000ToTarget(benchmark::State& state) {
    convertLikeTheCapturePath<float>(state, CommonFormat::float32, 24000, 1, 1);
}

// The whole data path of one audio sample buffer, as the sample handler runs it up to the write:
// copied out of the sample buffer, converted, interleaved and sanitised (one pass).
template <class Sample>
void wholePathFromSampleBuffers(benchmark::State& state, AudioStreamBasicDescription format,
                                double scale) {
    installNativePlatform(); // the portable media; nothing here reaches a sound server
    const double rate = format.mSampleRate;
    const std::uint32_t channels = format.mChannelsPerFrame;
    const std::vector<Sample> signal = musicLike<Sample>(rate, channels, scale);
    const auto bufferFrames = static_cast<std::size_t>(rate / 100); // 10 ms
    const std::size_t bufferBytes = bufferFrames * channels * sizeof(Sample);
    const auto description = std::make_shared<portable::PortableFormatDescription>(format);
    tovanel::ConverterState converterState;
    std::size_t position = 0;
    const bool planar = (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
    for (auto _ : state) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(signal.data()) +
                            position * channels * sizeof(Sample);
        std::vector<portable::PortableSampleBuffer::Buffer> buffers(planar ? channels : 1);
        if (planar) { // one buffer per channel, as the screen-capture service hands it over
            for (std::uint32_t c = 0; c < channels; ++c) {
                buffers[c].channels = 1;
                buffers[c].bytes.resize(bufferFrames * sizeof(Sample));
                for (std::size_t i = 0; i < bufferFrames; ++i) {
                    std::memcpy(&buffers[c].bytes[i * sizeof(Sample)],
                                first + (i * channels + c) * sizeof(Sample), sizeof(Sample));
                }
            }
        } else {
            buffers[0].channels = channels;
            buffers[0].bytes.assign(first, first + bufferBytes);
        }
        const portable::PortableSampleBuffer sampleBuffer(
            description, static_cast<std::int64_t>(bufferFrames), std::move(buffers));
        auto converted = tovanel::convertToTargetPCM(sampleBuffer, converterState);
        if (!std::holds_alternative<tovanel::ByteBlock>(converted)) {
            state.SkipWithError("conversion failed");
            return;
        }
        // As the sample handler does: the block, once written, serves the next buffer.
        auto block = std::get<tovanel::ByteBlock>(std::move(converted));
        benchmark::DoNotOptimize(block.data());
        converterState.spareBlock = std::move(block);
        position = (position + bufferFrames) % (signal.size() / channels - bufferFrames);
    }
    const double audioSeconds =
        static_cast<double>(state.iterations()) * static_cast<double>(bufferFrames) / rate;
    state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}

AudioStreamBasicDescription interleaved(double rate, std::uint32_t bits, bool isFloat) {
    const std::uint32_t frameBytes = 2 * bits / 8;
    return {rate,
            kAudioFormatLinearPCM,
            (isFloat ? kAudioFormatFlagIsFloat : kAudioFormatFlagIsSignedInteger) |
                kAudioFormatFlagIsPacked,
            frameBytes,
            1,
            frameBytes,
            2,
            bits,
            0};
}

void WholePathInt16Stereo44100(benchmark::State& state) {
    wholePathFromSampleBuffers<std::int16_t>(state, interleaved(44100, 16, false), 32767);
}

void WholePathFloat32Stereo48000Interleaved(benchmark::State& state) {
    wholePathFromSampleBuffers<float>(state, interleaved(48000, 32, true), 1);
}

// The target format itself, planar as the screen-capture service (and the Linux backend) hands
// it over: the branch that runs no converter.
void WholePathFloat32Stereo48000Planar(benchmark::State& state) {
    wholePathFromSampleBuffers<float>(
        state,
        {48000, kAudioFormatLinearPCM,
         kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved, 4,
         1, 4, 2, 32, 0},
        1);
}

BENCHMARK(Int16Stereo44100ToTarget);
BENCHMARK(WholePathInt16Stereo44100);
BENCHMARK(WholePathFloat32Stereo48000Interleaved);
BENCHMARK(WholePathFloat32Stereo48000Planar);
BENCHMARK(Float32Stereo48000InterleavedToTarget);
BENCHMARK(Float32Mono24000ToTarget);

} // namespace

BENCHMARK_MAIN();
