// Raw float32le stereo streams: frame assembly and whole-file reads and writes.
#include "raw_pcm.h"

#include "stream_format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace tovanel::signals {
namespace {

struct FileCloser {
    bool owned = true;
    void operator()(std::FILE* file) const {
        if (owned) {
            std::fclose(file);
        }
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openFile(const std::string& path, const char* mode, std::FILE* standardStream) {
    if (path == "-") {
        return File(standardStream, FileCloser{false});
    }
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (file == nullptr) {
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    }
    return File(file);
}

} // namespace

std::span<const float> FrameAssembler::push(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return {};
    }
    const std::size_t total = carryLength_ + bytes.size();
    const std::size_t frames = total / kBytesPerFrame;
    frames_.resize(frames * kChannels);
    if (frames == 0) {
        std::memcpy(carry_ + carryLength_, bytes.data(), bytes.size());
        carryLength_ = total;
        return {};
    }
    auto* out = reinterpret_cast<std::uint8_t*>(frames_.data());
    std::memcpy(out, carry_, carryLength_);
    const std::size_t fromInput = frames * kBytesPerFrame - carryLength_;
    std::memcpy(out + carryLength_, bytes.data(), fromInput);
    carryLength_ = bytes.size() - fromInput;
    std::memcpy(carry_, bytes.data() + fromInput, carryLength_);
    return frames_;
}

RawRecording readRawPcmFile(const std::string& path) {
    File file = openFile(path, "rb", stdin);
    FrameAssembler assembler;
    RawRecording recording;
    std::vector<std::uint8_t> chunk(1 << 16);
    while (true) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (got > 0) {
            const auto frames = assembler.push({chunk.data(), got});
            recording.samples.insert(recording.samples.end(), frames.begin(), frames.end());
        }
        if (got < chunk.size()) {
            if (std::ferror(file.get())) {
                throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
            }
            break;
        }
    }
    recording.trailingBytes = assembler.pendingBytes();
    return recording;
}

void writeRawPcmFile(const std::string& path, std::span<const float> samples) {
    File file = openFile(path, "wb", stdout);
    const auto bytes = rawBytes(samples);
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fflush(file.get()) != 0) {
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    }
}

std::vector<std::uint8_t> rawBytes(std::span<const float> samples) {
    std::vector<std::uint8_t> bytes(samples.size_bytes());
    if (!bytes.empty()) {
        std::memcpy(bytes.data(), samples.data(), bytes.size());
    }
    return bytes;
}

} // namespace tovanel::signals
