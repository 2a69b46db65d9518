// WAV evidence files and raw streams: exact headers and data, streaming writes completed on
// close, frames assembled from pieces cut anywhere.
#include "signals/raw_pcm.h"
#include "signals/wav_writer.h"
#include "test_directory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovanel::signals {
namespace {

using test::readFile;
using test::TestDirectory;

std::uint32_t u32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<std::uint8_t>(bytes.at(at + static_cast<std::size_t>(i)));
    }
    return value;
}

std::uint16_t u16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes.at(at)) |
                                      static_cast<std::uint8_t>(bytes.at(at + 1)) << 8);
}

struct Layout {
    WavEncoding encoding;
    std::uint16_t tag;
    std::uint16_t bits;
    std::size_t dataTagAt; // where "data" starts
};

TEST(WavWriter, WritesACompleteHeaderAndTheSamples) {
    TestDirectory dir;
    const std::vector<float> samples = {0.5f, -0.25f, 0.0f, 1.0f, -1.0f, 0.125f};
    for (const Layout layout :
         {Layout{WavEncoding::Float32, 3, 32, 50}, Layout{WavEncoding::Pcm16, 1, 16, 36}}) {
        SCOPED_TRACE(layout.tag);
        const std::string path = dir / "out.wav";
        writeWavFile(path, samples, layout.encoding);
        const std::string file = readFile(path);
        const std::uint32_t bytesPerSample = layout.bits / 8;
        const std::uint32_t dataBytes = 6 * bytesPerSample;
        ASSERT_EQ(file.size(), layout.dataTagAt + 8 + dataBytes);
        EXPECT_EQ(file.substr(0, 4), "RIFF");
        EXPECT_EQ(u32(file, 4), file.size() - 8);
        EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(u16(file, 20), layout.tag);
        EXPECT_EQ(u16(file, 22), 2);
        EXPECT_EQ(u32(file, 24), 48000u);
        EXPECT_EQ(u32(file, 28), 48000u * 2 * bytesPerSample);
        EXPECT_EQ(u16(file, 32), 2 * bytesPerSample);
        EXPECT_EQ(u16(file, 34), layout.bits);
        if (layout.encoding == WavEncoding::Float32) {
            EXPECT_EQ(u16(file, 36), 0); // no format extension
            EXPECT_EQ(file.substr(38, 4), "fact");
            EXPECT_EQ(u32(file, 46), 3u); // frames
        }
        EXPECT_EQ(file.substr(layout.dataTagAt, 4), "data");
        EXPECT_EQ(u32(file, layout.dataTagAt + 4), dataBytes);
        const std::string data = file.substr(layout.dataTagAt + 8);
        if (layout.encoding == WavEncoding::Float32) {
            EXPECT_EQ(std::memcmp(data.data(), samples.data(), dataBytes), 0);
        } else {
            const std::int16_t expected[] = {16384, -8192, 0, 32767, -32767, 4096};
            for (std::size_t i = 0; i < 6; ++i) {
                EXPECT_EQ(static_cast<std::int16_t>(u16(data, 2 * i)), expected[i]) << i;
            }
        }
    }
}

TEST(WavWriter, SixteenBitFilesClampAndSilenceWhatTheyCannotHold) {
    TestDirectory dir;
    const std::vector<float> samples = {2.0f, -7.0f, std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity()};
    writeWavFile(dir / "clamped.wav", samples, WavEncoding::Pcm16);
    const std::string data = readFile(dir / "clamped.wav").substr(44);
    ASSERT_EQ(data.size(), 8u);
    const std::int16_t expected[] = {32767, -32767, 0, 0};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(static_cast<std::int16_t>(u16(data, 2 * i)), expected[i]) << i;
    }
}

TEST(WavWriter, StreamedWritesAreCompletedWhenTheWriterCloses) {
    TestDirectory dir;
    const std::vector<float> piece = {0.1f, 0.2f, 0.3f, 0.4f};
    {
        WavWriter writer(dir / "streamed.wav", WavEncoding::Float32);
        writer.write(piece);
        writer.write({});
        writer.write(piece);
        EXPECT_EQ(writer.framesWritten(), 4u);
        EXPECT_THROW(writer.write(std::vector<float>{0.5f}), std::invalid_argument);
    }
    const std::string file = readFile(dir / "streamed.wav");
    EXPECT_EQ(u32(file, 4), file.size() - 8);
    EXPECT_EQ(u32(file, 46), 4u);
    EXPECT_EQ(u32(file, 54), 32u);
    EXPECT_EQ(file.size(), 58u + 32u);
}

TEST(WavWriter, ReportsAFileItCannotCreate) {
    TestDirectory dir;
    EXPECT_THROW(WavWriter(dir / "missing/out.wav", WavEncoding::Float32), std::runtime_error);
    EXPECT_THROW(WavWriter(dir / "out.wav", WavEncoding::Float32, 0), std::invalid_argument);
}

TEST(FrameAssembler, ReassemblesTheStreamFromPiecesCutAnywhere) {
    std::vector<float> samples(2 * 1001);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(i) * 0.001f - 0.5f;
    }
    const auto bytes = rawBytes(samples);
    for (std::size_t piece : {1u, 2u, 3u, 5u, 7u, 8u, 9u, 13u, 4096u, 100000u}) {
        FrameAssembler assembler;
        std::vector<float> out;
        for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
            const std::size_t size = std::min(piece, bytes.size() - offset);
            const auto frames = assembler.push({bytes.data() + offset, size});
            ASSERT_EQ(frames.size() % 2, 0u);
            out.insert(out.end(), frames.begin(), frames.end());
        }
        EXPECT_EQ(out, samples) << piece;
        EXPECT_EQ(assembler.pendingBytes(), 0u) << piece;
    }
}

TEST(RawPcmFile, RoundTripsAndReportsAPartialLastFrame) {
    TestDirectory dir;
    const std::vector<float> samples = {0.5f, -0.5f, 0.25f, -0.25f};
    writeRawPcmFile(dir / "a.raw", samples);
    const RawRecording whole = readRawPcmFile(dir / "a.raw");
    EXPECT_EQ(whole.samples, samples);
    EXPECT_EQ(whole.trailingBytes, 0u);

    test::writeFile(dir / "b.raw", readFile(dir / "a.raw") + "xyz");
    const RawRecording partial = readRawPcmFile(dir / "b.raw");
    EXPECT_EQ(partial.samples, samples);
    EXPECT_EQ(partial.trailingBytes, 3u);

    EXPECT_THROW(readRawPcmFile(dir / "missing.raw"), std::runtime_error);
}

} // namespace
} // namespace tovanel::signals
