// Raw float32le stereo streams: byte chunks of any size assembled into whole frames, and whole
// raw files read and written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tovanel::signals {

// Turns a byte stream cut anywhere (inside a sample or a frame) into whole interleaved frames.
class FrameAssembler {
  public:
    // Appends `bytes` and returns the samples of the frames they complete. The view is valid until
    // the next call; the bytes of a partial frame wait for the next call.
    std::span<const float> push(std::span<const std::uint8_t> bytes);
    // Bytes of a partial frame still waiting (0 to 7).
    std::size_t pendingBytes() const { return carryLength_; }

  private:
    std::uint8_t carry_[8] = {};
    std::size_t carryLength_ = 0;
    std::vector<float> frames_;
};

struct RawRecording {
    std::vector<float> samples;    // whole frames only
    std::size_t trailingBytes = 0; // bytes of a partial last frame, not in `samples`
};

// Reads a whole raw file ("-" reads standard input). Throws std::runtime_error when it cannot.
RawRecording readRawPcmFile(const std::string& path);
// Writes `samples` as raw float32le. Throws std::runtime_error when it cannot.
void writeRawPcmFile(const std::string& path, std::span<const float> samples);
// The bytes of `samples` as they appear in a raw stream.
std::vector<std::uint8_t> rawBytes(std::span<const float> samples);

} // namespace tovanel::signals
