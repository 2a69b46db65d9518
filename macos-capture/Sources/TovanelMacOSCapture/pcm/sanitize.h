// The last step before any PCM leaves the program: every sample made finite and clamped.
#pragma once

#include "pcm/byte_block.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

namespace tovanel {

// The stream's sample bounds, -0.95 and +0.95 as binary32.
inline constexpr std::uint32_t kLowerSampleBoundBits = 0xBF733333;
inline constexpr std::uint32_t kUpperSampleBoundBits = 0x3F733333;

// Reads `block` as packed binary32 samples in host order (any alignment) and returns a new block
// of the same samples with every infinity and NaN replaced by +0.0 and every other value clamped
// to the bounds. A trailing 1 to 3 bytes are dropped. Finite values within the bounds pass bit
// for bit (-0.0 and subnormals included), so applying it twice changes nothing.
ByteBlock sanitizedInterleavedFloatPCM(std::span<const std::uint8_t> block);

// The same for a block the caller gives up: sanitised in its own memory and returned, with no
// second block made.
ByteBlock sanitizedInterleavedFloatPCM(ByteBlock&& block);

// The versions of the one pass below, one per vector width the build makes, widest first: the
// tests hold every one the CPU runs to the rule, the benchmark times them. `run` writes
// frames * 8 bytes at `out`, which needs no alignment.
struct StereoSanitizer {
    std::string_view width;
    bool runsHere; // the CPU has what this version needs
    void (*run)(const float* left, const float* right, std::size_t frames, std::uint8_t* out);
};
std::span<const StereoSanitizer> stereoSanitizers();

// The widest version the CPU runs, chosen once.
inline decltype(StereoSanitizer::run) widestStereoSanitizer() {
    static const auto widest = [] {
        for (const StereoSanitizer& version : stereoSanitizers()) {
            if (version.runsHere) {
                return version.run;
            }
        }
        return stereoSanitizers().back().run; // the baseline, which runs everywhere
    }();
    return widest;
}

// The `frames` frames of two planar channels, interleaved (left, right) and sanitised in one
// pass: the bytes sanitizedInterleavedFloatPCM gives for the interleaved frames, without the
// interleaved copy in between. They take `spare`'s memory when it is large enough.
inline ByteBlock sanitizedInterleavedStereo(const float* left, const float* right,
                                            std::size_t frames, ByteBlock&& spare = {}) {
    if (frames == 0) {
        return {};
    }
    ByteBlock block = ByteBlock::forOverwrite(frames * 8, std::move(spare));
    widestStereoSanitizer()(left, right, frames, block.data());
    return block;
}

} // namespace tovanel
