// WAV files of captured audio, kept as evidence when a test fails: IEEE float or 16-bit PCM,
// written as it comes and completed (header sizes filled in) when closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace tovanel::signals {

enum class WavEncoding {
    Float32, // samples as they are (format tag 3)
    Pcm16,   // samples clamped to ±1 and rounded to 16 bits (format tag 1)
};

class WavWriter {
  public:
    // Creates (or truncates) `path`. Throws std::runtime_error when it cannot.
    WavWriter(const std::string& path, WavEncoding encoding, int channels = 2,
              int sampleRate = 48000);
    // Completes the file; errors at this point are lost, so call close() to see them.
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Appends interleaved samples (a whole number of frames). Throws std::runtime_error.
    void write(std::span<const float> samples);
    // Fills in the sizes and closes the file. Throws std::runtime_error.
    void close();

    std::uint64_t framesWritten() const { return frames_; }

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    void writeHeader();

    std::string path_;
    WavEncoding encoding_;
    int channels_;
    int sampleRate_;
    std::uint64_t frames_ = 0;
    std::unique_ptr<std::FILE, FileCloser> file_;
};

// Writes the whole of `samples` to a new WAV file. Throws std::runtime_error.
void writeWavFile(const std::string& path, std::span<const float> samples,
                  WavEncoding encoding = WavEncoding::Float32, int channels = 2,
                  int sampleRate = 48000);

} // namespace tovanel::signals
