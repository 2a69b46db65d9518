// Sanitising beside memcpy, on the block sizes the capture paths produce and beyond; and the
// one-pass stereo form (planar channels in, sanitised frames out) beside the two passes it
// replaced, interleaving and then sanitising in place.
#include "pcm/sanitize.h"
#include "platform/vector_clones.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Audio-like input: mostly in range, some loud samples, a few non-finite ones.
std::vector<std::uint8_t> audioLikeBlock(std::size_t bytes) {
    std::mt19937 random(1);
    std::normal_distribution<float> level(0.0f, 0.6f);
    std::vector<float> samples(bytes / 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = (i % 997 == 0) ? std::numeric_limits<float>::quiet_NaN() : level(random);
    }
    std::vector<std::uint8_t> block(bytes);
    std::memcpy(block.data(), samples.data(), samples.size() * 4);
    return block;
}

void Sanitize(benchmark::State& state) {
    const auto input = audioLikeBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto output = tovanel::sanitizedInterleavedFloatPCM(input);
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// What the capture handler runs: the block sanitised in its own memory. The pass has no branch
// per sample, so it costs the same on the already sanitised block of the second round on.
void SanitizeInPlace(benchmark::State& state) {
    const auto input = audioLikeBlock(static_cast<std::size_t>(state.range(0)));
    tovanel::ByteBlock block{std::span<const std::uint8_t>(input)};
    for (auto _ : state) {
        block = tovanel::sanitizedInterleavedFloatPCM(std::move(block));
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// The floor: a plain copy into memory that already exists.
void Memcpy(benchmark::State& state) {
    const auto input = audioLikeBlock(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> output(input.size());
    for (auto _ : state) {
        std::memcpy(output.data(), input.data(), input.size());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// A copy into a new block, the closest plain equivalent of what sanitising returns.
void CopyToNewBlock(benchmark::State& state) {
    const auto input = audioLikeBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        tovanel::ByteBlock output{std::span<const std::uint8_t>(input)};
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Sample counts of the odd sizes the tests use (1, 3, 7, 253, 9600 samples), the input queue's
// 38400-byte buffer and a large block.
void Sizes(benchmark::internal::Benchmark* benchmark) {
    for (std::int64_t bytes : {4, 12, 28, 1012, 38400, 8 * 1024 * 1024}) {
        benchmark->Arg(bytes);
    }
}

BENCHMARK(Sanitize)->Apply(Sizes);
BENCHMARK(SanitizeInPlace)->Apply(Sizes);
BENCHMARK(Memcpy)->Apply(Sizes);
BENCHMARK(CopyToNewBlock)->Apply(Sizes);

// The first pass of the two the screen-capture path made before: the frames interleaved as
// words, built for the widest vector unit as the program built it.
TOVANEL_VECTOR_CLONES void interleave(const float* left, const float* right, std::size_t frames,
                                      std::uint8_t* out) {
#pragma GCC unroll 2
    for (std::size_t i = 0; i < frames; ++i) {
        std::memcpy(out + 8 * i, left + i, 4);
        std::memcpy(out + 8 * i + 4, right + i, 4);
    }
}

// Frame counts: the odd sizes, a 10 ms buffer at 48 kHz (what the capture path hands over a
// hundred times a second), 100 ms and a large block.
void StereoSizes(benchmark::internal::Benchmark* benchmark) {
    for (std::int64_t frames : {1, 3, 7, 253, 480, 4800, 1 << 20}) {
        benchmark->Arg(frames);
    }
}

struct Channels {
    std::vector<float> left;
    std::vector<float> right;
    explicit Channels(std::size_t frames) : left(frames), right(frames) {
        const auto bytes = audioLikeBlock(frames * 8);
        std::memcpy(left.data(), bytes.data(), frames * 4);
        std::memcpy(right.data(), bytes.data() + frames * 4, frames * 4);
    }
};

// What the capture path did before: interleaved into the block, then sanitised in its memory.
void InterleaveThenSanitize(benchmark::State& state) {
    const auto frames = static_cast<std::size_t>(state.range(0));
    const Channels input(frames);
    auto block = tovanel::ByteBlock::forOverwrite(frames * 8);
    for (auto _ : state) {
        interleave(input.left.data(), input.right.data(), frames, block.data());
        block = tovanel::sanitizedInterleavedFloatPCM(std::move(block));
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 8);
}

// What it does now: one pass into the block of the buffer before, at the widest width.
void SanitizeInterleavedStereo(benchmark::State& state) {
    const auto frames = static_cast<std::size_t>(state.range(0));
    const Channels input(frames);
    tovanel::ByteBlock block;
    for (auto _ : state) {
        block = tovanel::sanitizedInterleavedStereo(input.left.data(), input.right.data(), frames,
                                                    std::move(block));
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 8);
}

BENCHMARK(InterleaveThenSanitize)->Apply(StereoSizes);
BENCHMARK(SanitizeInterleavedStereo)->Apply(StereoSizes);

// The one pass at every width the CPU runs, for a comparison between widths.
const bool kEveryWidth = [] {
    for (const tovanel::StereoSanitizer& version : tovanel::stereoSanitizers()) {
        if (!version.runsHere) {
            continue;
        }
        const std::string name = "SanitizeInterleavedStereo/" + std::string(version.width);
        benchmark::RegisterBenchmark(name.c_str(), [run = version.run](benchmark::State& state) {
            const auto frames = static_cast<std::size_t>(state.range(0));
            const Channels input(frames);
            std::vector<std::uint8_t> out(frames * 8);
            for (auto _ : state) {
                run(input.left.data(), input.right.data(), frames, out.data());
                benchmark::DoNotOptimize(out.data());
                benchmark::ClobberMemory();
            }
            state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) *
                                    8);
        })->Apply(StereoSizes);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
