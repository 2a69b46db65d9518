// Sanitising beside memcpy, on the block sizes the capture paths produce and beyond.
#include "pcm/sanitize.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
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

} // namespace

BENCHMARK_MAIN();
