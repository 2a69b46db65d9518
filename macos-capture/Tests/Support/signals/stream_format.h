// The one PCM layout every test signal and checker speaks: interleaved binary32 stereo at 48 kHz.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tovanel::signals {

static_assert(std::endian::native == std::endian::little,
              "raw test streams are float32le and are read and written in host order");

inline constexpr int kSampleRate = 48000;
inline constexpr int kChannels = 2;
inline constexpr std::size_t kBytesPerSample = 4;
inline constexpr std::size_t kBytesPerFrame = kBytesPerSample * kChannels;
// Every sample the program writes lies within this bound (as binary32, 0x3F733333).
inline constexpr float kSampleBound = 0.95f;

} // namespace tovanel::signals
