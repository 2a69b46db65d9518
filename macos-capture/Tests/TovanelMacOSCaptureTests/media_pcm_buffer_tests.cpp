// Portable PCM buffers: the layout of their audio buffer list for each format, capacity against
// frame length in the list's sizes, float channel pointers and stride, and the sizes that make no
// buffer.
#include "platform/portable/media.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace tovanel::platform::portable {
namespace {

struct LayoutCase {
    std::string name;
    CommonFormat format;
    bool interleaved;
    std::uint32_t channels;
    std::uint32_t bytesPerSample;
};

class BufferLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(BufferLayout, ListMatchesTheFormatAndEveryBufferHoldsItsCapacity) {
    PortableMedia media;
    const auto& param = GetParam();
    constexpr std::uint32_t kCapacity = 1031;
    const auto buffer = media.makePCMBuffer(
        media.makeFormat(param.format, 44100, param.channels, param.interleaved), kCapacity);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->frameCapacity(), kCapacity);
    EXPECT_EQ(buffer->frameLength(), 0u);

    AudioBufferList& list = buffer->mutableAudioBufferList();
    const std::uint32_t bufferCount = param.interleaved ? 1 : param.channels;
    const std::uint32_t channelsPerBuffer = param.interleaved ? param.channels : 1;
    const std::uint32_t capacityBytes = kCapacity * channelsPerBuffer * param.bytesPerSample;
    ASSERT_EQ(list.mNumberBuffers, bufferCount);
    const auto buffers = audioBuffers(list, bufferCount);
    for (std::uint32_t i = 0; i < bufferCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(buffers[i].mNumberChannels, channelsPerBuffer);
        EXPECT_EQ(buffers[i].mDataByteSize, capacityBytes);
        ASSERT_NE(buffers[i].mData, nullptr);
        const auto* bytes = static_cast<const std::uint8_t*>(buffers[i].mData);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + capacityBytes),
                  std::vector<std::uint8_t>(capacityBytes, 0))
            << "memory starts zeroed";
    }
    // Each buffer owns its whole capacity: fill each with its own byte and read every one back
    // (the address sanitizer also sees any write past an end). The list and the channel
    // pointers share the samples' allocation, so they must come through the fill untouched.
    const std::vector<AudioBuffer> recordsBefore(buffers.begin(), buffers.end());
    std::vector<float*> channelsBefore;
    if (float* const* channels = buffer->floatChannelData()) {
        channelsBefore.assign(channels, channels + param.channels);
    }
    for (std::uint32_t i = 0; i < bufferCount; ++i) {
        std::memset(buffers[i].mData, 0x10 + static_cast<int>(i), capacityBytes);
    }
    ASSERT_EQ(list.mNumberBuffers, bufferCount);
    for (std::uint32_t i = 0; i < bufferCount; ++i) {
        EXPECT_EQ(buffers[i].mData, recordsBefore[i].mData);
        EXPECT_EQ(buffers[i].mDataByteSize, recordsBefore[i].mDataByteSize);
        EXPECT_EQ(buffers[i].mNumberChannels, recordsBefore[i].mNumberChannels);
    }
    if (!channelsBefore.empty()) {
        EXPECT_EQ(std::vector<float*>(buffer->floatChannelData(),
                                      buffer->floatChannelData() + param.channels),
                  channelsBefore);
    }
    for (std::uint32_t i = 0; i < bufferCount; ++i) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffers[i].mData);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + capacityBytes),
                  std::vector<std::uint8_t>(capacityBytes, static_cast<std::uint8_t>(0x10 + i)))
            << "buffer " << i << " overlaps another";
    }

    // The frame length rewrites every size; beyond the capacity it is held at the capacity.
    buffer->setFrameLength(17);
    EXPECT_EQ(buffer->frameLength(), 17u);
    for (const AudioBuffer& b : buffers) {
        EXPECT_EQ(b.mDataByteSize, 17 * channelsPerBuffer * param.bytesPerSample);
    }
    buffer->setFrameLength(kCapacity + 1);
    EXPECT_EQ(buffer->frameLength(), kCapacity);
    for (const AudioBuffer& b : buffers) {
        EXPECT_EQ(b.mDataByteSize, capacityBytes);
    }
    buffer->setFrameLength(0);
    for (const AudioBuffer& b : buffers) {
        EXPECT_EQ(b.mDataByteSize, 0u);
    }
    EXPECT_EQ(buffer->stride(), param.interleaved ? param.channels : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, BufferLayout,
    ::testing::Values(LayoutCase{"Float32Planar", CommonFormat::float32, false, 2, 4},
                      LayoutCase{"Float32Interleaved", CommonFormat::float32, true, 2, 4},
                      LayoutCase{"Float32Mono", CommonFormat::float32, false, 1, 4},
                      LayoutCase{"Float64Planar", CommonFormat::float64, false, 2, 8},
                      LayoutCase{"Int16Interleaved", CommonFormat::int16, true, 2, 2},
                      LayoutCase{"Int16Planar", CommonFormat::int16, false, 2, 2},
                      LayoutCase{"Int32Interleaved", CommonFormat::int32, true, 2, 4}),
    [](const auto& info) { return info.param.name; });

TEST(BufferLayout, PackedTwentyFourBitAndManyChannels) {
    PortableMedia media;
    AudioStreamBasicDescription asbd;
    asbd.mSampleRate = 48000;
    asbd.mFormatID = kAudioFormatLinearPCM;
    asbd.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked |
                        kAudioFormatFlagIsNonInterleaved;
    asbd.mBytesPerFrame = asbd.mBytesPerPacket = 3;
    asbd.mFramesPerPacket = 1;
    asbd.mChannelsPerFrame = 64;
    asbd.mBitsPerChannel = 24;
    const auto buffer = media.makePCMBuffer(media.makeFormat(asbd), 5);
    ASSERT_NE(buffer, nullptr);
    AudioBufferList& list = buffer->mutableAudioBufferList();
    ASSERT_EQ(list.mNumberBuffers, 64u);
    for (const AudioBuffer& b : audioBuffers(list, 64)) {
        EXPECT_EQ(b.mDataByteSize, 15u);
        std::memset(b.mData, 0xAB, b.mDataByteSize);
    }
    EXPECT_EQ(buffer->floatChannelData(), nullptr);
}

TEST(FloatChannelData, PlanarPointsAtEachChannelsBuffer) {
    PortableMedia media;
    const auto buffer =
        media.makePCMBuffer(media.makeFormat(CommonFormat::float32, 48000, 2, false), 8);
    ASSERT_NE(buffer, nullptr);
    float* const* channels = buffer->floatChannelData();
    ASSERT_NE(channels, nullptr);
    const auto buffers = audioBuffers(buffer->mutableAudioBufferList(), 2);
    EXPECT_EQ(channels[0], buffers[0].mData);
    EXPECT_EQ(channels[1], buffers[1].mData);
    EXPECT_EQ(buffer->stride(), 1u);
}

TEST(FloatChannelData, InterleavedPointsEveryChannelIntoTheOneBlock) {
    PortableMedia media;
    const auto buffer =
        media.makePCMBuffer(media.makeFormat(CommonFormat::float32, 48000, 2, true), 8);
    ASSERT_NE(buffer, nullptr);
    float* const* channels = buffer->floatChannelData();
    ASSERT_NE(channels, nullptr);
    auto* block = static_cast<float*>(audioBuffers(buffer->mutableAudioBufferList(), 1)[0].mData);
    block[2 * 3] = 0.25f;     // frame 3, left
    block[2 * 3 + 1] = -0.5f; // frame 3, right
    EXPECT_EQ(buffer->stride(), 2u);
    EXPECT_EQ(channels[0][3 * buffer->stride()], 0.25f);
    EXPECT_EQ(channels[1][3 * buffer->stride()], -0.5f);
}

TEST(FloatChannelData, NoneForOtherSampleTypes) {
    PortableMedia media;
    for (CommonFormat format : {CommonFormat::float64, CommonFormat::int16, CommonFormat::int32}) {
        const auto buffer = media.makePCMBuffer(media.makeFormat(format, 48000, 2, false), 8);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(buffer->floatChannelData(), nullptr) << static_cast<int>(format);
    }
}

TEST(BufferSize, ZeroCapacityStillHasRealDataPointers) {
    PortableMedia media;
    const auto buffer =
        media.makePCMBuffer(media.makeFormat(CommonFormat::float32, 48000, 2, false), 0);
    ASSERT_NE(buffer, nullptr);
    for (const AudioBuffer& b : audioBuffers(buffer->mutableAudioBufferList(), 2)) {
        EXPECT_NE(b.mData, nullptr);
        EXPECT_EQ(b.mDataByteSize, 0u);
    }
}

TEST(BufferSize, NoBufferWhenTheByteCapacityOverflowsThirtyTwoBits) {
    PortableMedia media;
    // 8 bytes a frame: 2^29 frames are exactly 2^32 bytes, one too many for mDataByteSize.
    const auto stereoFloat = media.makeFormat(CommonFormat::float32, 48000, 2, true);
    EXPECT_EQ(media.makePCMBuffer(stereoFloat, 1u << 29), nullptr);
    EXPECT_EQ(media.makePCMBuffer(stereoFloat, std::numeric_limits<std::uint32_t>::max()), nullptr);
    // Planar: each buffer holds one channel, so the limit is per channel (8 bytes, float64).
    const auto planarDouble = media.makeFormat(CommonFormat::float64, 48000, 2, false);
    EXPECT_EQ(media.makePCMBuffer(planarDouble, 1u << 29), nullptr);
    EXPECT_NE(media.makePCMBuffer(planarDouble, 1u << 20), nullptr);
}

TEST(BufferSize, NoBufferWithoutAFormat) {
    PortableMedia media;
    EXPECT_EQ(media.makePCMBuffer(nullptr, 16), nullptr);
}

} // namespace
} // namespace tovanel::platform::portable
