// The platform's audio value types, field for field as CoreAudio lays them out, shared by the
// media, screen-capture and input-queue facilities and by the device queries.
#pragma once

#include "platform/status_codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace tovanel::platform {

struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    std::uint32_t mFormatID = 0;
    std::uint32_t mFormatFlags = 0;
    std::uint32_t mBytesPerPacket = 0;
    std::uint32_t mFramesPerPacket = 0;
    std::uint32_t mBytesPerFrame = 0;
    std::uint32_t mChannelsPerFrame = 0;
    std::uint32_t mBitsPerChannel = 0;
    std::uint32_t mReserved = 0;

    friend bool operator==(const AudioStreamBasicDescription&,
                           const AudioStreamBasicDescription&) = default;
};

inline constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr std::uint32_t kAudioFormatFlagIsBigEndian = 1u << 1;
inline constexpr std::uint32_t kAudioFormatFlagIsSignedInteger = 1u << 2;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 1u << 3;
inline constexpr std::uint32_t kAudioFormatFlagIsAlignedHigh = 1u << 4;
inline constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 1u << 5;

struct AudioBuffer {
    std::uint32_t mNumberChannels;
    std::uint32_t mDataByteSize;
    void* mData;
};

// Variable length: mNumberBuffers records follow the count. Reach them through audioBuffers().
struct AudioBufferList {
    std::uint32_t mNumberBuffers;
    AudioBuffer mBuffers[1];
};

inline constexpr std::size_t kAudioBufferListHeaderSize = offsetof(AudioBufferList, mBuffers);

// The byte size of a list with `bufferCount` records.
constexpr std::size_t audioBufferListSize(std::size_t bufferCount) {
    return kAudioBufferListHeaderSize + (bufferCount == 0 ? 1 : bufferCount) * sizeof(AudioBuffer);
}

// The records of `list`, taking its count as given: callers that do not trust the count clamp
// it to what their block holds first.
inline std::span<AudioBuffer> audioBuffers(AudioBufferList& list, std::size_t count) {
    return {list.mBuffers + 0, count};
}

// Owning storage for a variable-size AudioBufferList of a given byte size, zeroed, aligned for
// its pointers. A list of up to 8 records (a stream of up to 8 planar channels) is kept inside
// the object itself, so making one for every buffer of a stream costs no heap allocation.
class AudioBufferListStorage {
  public:
    explicit AudioBufferListStorage(std::size_t byteSize)
        : words_(wordsFor(byteSize) > kInlineWords
                     ? std::make_unique<std::uint64_t[]>(wordsFor(byteSize))
                     : nullptr),
          byteSize_(byteSize) {
        if (!words_) {
            std::fill_n(inline_, wordsFor(byteSize), std::uint64_t{0});
        }
    }

    AudioBufferList* get() {
        return reinterpret_cast<AudioBufferList*>(words_ ? words_.get() : inline_);
    }
    std::size_t byteSize() const { return byteSize_; }
    // How many records fit in the storage, whatever the list's count says.
    std::size_t recordsThatFit() const {
        return byteSize_ < kAudioBufferListHeaderSize
                   ? 0
                   : (byteSize_ - kAudioBufferListHeaderSize) / sizeof(AudioBuffer);
    }

  private:
    // Whole words for byteSize bytes and one more, without overflow for any size.
    static constexpr std::size_t wordsFor(std::size_t byteSize) { return byteSize / 8 + 2; }
    static constexpr std::size_t kInlineWords = audioBufferListSize(8) / 8 + 2;

    std::unique_ptr<std::uint64_t[]> words_; // null when the list fits inline_
    std::uint64_t inline_[kInlineWords];
    std::size_t byteSize_;
};

struct AudioStreamPacketDescription {
    std::int64_t mStartOffset;
    std::uint32_t mVariableFramesInPacket;
    std::uint32_t mDataByteSize;
};

// Opaque here: no logic reads a start time.
struct AudioTimeStamp;

} // namespace tovanel::platform
