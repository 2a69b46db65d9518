// The stream's promise about every single sample: finite and within ±0.95.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tovanel::signals {

struct SampleBoundsReport {
    std::uint64_t samples = 0;
    std::uint64_t nonFinite = 0;
    std::uint64_t outOfBounds = 0;               // finite but beyond ±0.95
    std::optional<std::uint64_t> firstNonFinite; // sample offsets
    std::optional<std::uint64_t> firstOutOfBounds;
    float largestMagnitude = 0; // of the finite samples

    bool clean() const { return nonFinite == 0 && outOfBounds == 0; }
};

// Scans samples; `firstOffset` is the offset of samples[0] in the whole stream, so pieces of one
// stream can be scanned in turn and merged with `add`.
SampleBoundsReport checkSampleBounds(std::span<const float> samples, std::uint64_t firstOffset = 0);
void add(SampleBoundsReport& total, const SampleBoundsReport& piece);

} // namespace tovanel::signals
