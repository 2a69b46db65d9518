// WAV writer. Float files carry the "fact" chunk that non-PCM WAV requires; sizes that would not
// fit the 32-bit fields are refused rather than written wrong.
#include "wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace tovanel::signals {
namespace {

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// Byte by byte: GCC 12 with ThreadSanitizer misreads a range insert here as an overflow.
void putTag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(tag[i]));
    }
}

} // namespace

WavWriter::WavWriter(const std::string& path, WavEncoding encoding, int channels, int sampleRate)
    : path_(path), encoding_(encoding), channels_(channels), sampleRate_(sampleRate) {
    if (channels < 1 || channels > 64 || sampleRate < 1) {
        throw std::invalid_argument("a WAV file needs 1 to 64 channels and a positive rate");
    }
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) {
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    }
    writeHeader();
}

WavWriter::~WavWriter() {
    if (file_) {
        try {
            close();
        } catch (const std::exception&) {
            // The destructor cannot report it; close() can.
        }
    }
}

void WavWriter::writeHeader() {
    const bool isFloat = encoding_ == WavEncoding::Float32;
    const std::uint16_t bytesPerSample = isFloat ? 4 : 2;
    const std::uint64_t dataBytes = frames_ * channels_ * bytesPerSample;
    const std::uint64_t headerBytes = isFloat ? 58 : 44;
    if (headerBytes - 8 + dataBytes > std::numeric_limits<std::uint32_t>::max()) {
        throw std::runtime_error(path_ + ": too much audio for one WAV file");
    }
    std::vector<std::uint8_t> header;
    putTag(header, "RIFF");
    put32(header, static_cast<std::uint32_t>(headerBytes - 8 + dataBytes));
    putTag(header, "WAVE");
    putTag(header, "fmt ");
    put32(header, isFloat ? 18 : 16);
    put16(header, isFloat ? 3 : 1);
    put16(header, static_cast<std::uint16_t>(channels_));
    put32(header, static_cast<std::uint32_t>(sampleRate_));
    put32(header, static_cast<std::uint32_t>(sampleRate_ * channels_ * bytesPerSample));
    put16(header, static_cast<std::uint16_t>(channels_ * bytesPerSample));
    put16(header, static_cast<std::uint16_t>(bytesPerSample * 8));
    if (isFloat) {
        put16(header, 0); // no extension
        putTag(header, "fact");
        put32(header, 4);
        put32(header, static_cast<std::uint32_t>(frames_));
    }
    putTag(header, "data");
    put32(header, static_cast<std::uint32_t>(dataBytes));
    if (std::fseek(file_.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), file_.get()) != header.size() ||
        std::fseek(file_.get(), 0, SEEK_END) != 0) {
        throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(errno));
    }
}

void WavWriter::write(std::span<const float> samples) {
    if (!file_) {
        throw std::logic_error(path_ + " is already closed");
    }
    if (samples.size() % static_cast<std::size_t>(channels_) != 0) {
        throw std::invalid_argument("WAV data must be whole frames");
    }
    if (samples.empty()) {
        return;
    }
    const std::uint64_t bytesPerSample = encoding_ == WavEncoding::Float32 ? 4 : 2;
    const std::uint64_t dataBytes = (frames_ * channels_ + samples.size()) * bytesPerSample;
    if (dataBytes + 50 > std::numeric_limits<std::uint32_t>::max()) {
        throw std::runtime_error(path_ + ": too much audio for one WAV file");
    }
    std::vector<std::uint8_t> bytes;
    if (encoding_ == WavEncoding::Float32) {
        bytes.resize(samples.size_bytes());
        if (!bytes.empty()) {
            std::memcpy(bytes.data(), samples.data(), bytes.size());
        }
    } else {
        bytes.reserve(samples.size() * 2);
        for (float sample : samples) {
            const float bounded = std::isfinite(sample) ? std::clamp(sample, -1.0f, 1.0f) : 0.0f;
            put16(bytes, static_cast<std::uint16_t>(
                             static_cast<std::int16_t>(std::lrint(bounded * 32767.0f))));
        }
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) {
        throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(errno));
    }
    frames_ += samples.size() / static_cast<std::size_t>(channels_);
}

void WavWriter::close() {
    if (!file_) {
        return;
    }
    writeHeader();
    std::FILE* file = file_.release();
    if (std::fclose(file) != 0) {
        throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(errno));
    }
}

void writeWavFile(const std::string& path, std::span<const float> samples, WavEncoding encoding,
                  int channels, int sampleRate) {
    WavWriter writer(path, encoding, channels, sampleRate);
    writer.write(samples);
    writer.close();
}

} // namespace tovanel::signals
