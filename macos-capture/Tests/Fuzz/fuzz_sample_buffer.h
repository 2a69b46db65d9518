// The sample buffers of the sample-buffer targets: any stream description, any frame count, and
// an audio buffer list whose count, records, channel counts, byte sizes and data pointers may
// disagree with the description and with each other. Only one thing always holds, as it does for
// the platform's own buffers: a record's data, when not null, is real memory of exactly the byte
// size the record announces, so reading one byte beyond it is caught by the sanitizer.
#pragma once

#include "fuzz_bytes.h"
#include "platform/audio_types.h"
#include "platform/media.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tovanel::fuzz {

struct SampleBufferRecipe {
    enum class Description : std::uint8_t { none = 0, notAudio = 1, audio = 2 };
    struct Record {
        std::uint32_t channels = 0;
        bool nullData = false;
        bool aliasPrevious = false;      // points into the memory of the previous record with data
        std::uint8_t misalignment = 0;   // 0 to 3 bytes past an aligned start
        std::uint32_t byteSize = 0;      // what the record announces
        std::vector<std::uint8_t> bytes; // the data of a record with its own memory
    };

    Description description = Description::audio;
    platform::AudioStreamBasicDescription asbd;
    std::int64_t numSamples = 0;
    std::optional<platform::OSStatus> sizeStatus; // the size query fails with it
    std::optional<std::uint32_t> sizeNeeded;      // reported instead of the list's true size
    std::optional<platform::OSStatus> fillStatus; // the fill fails with it
    std::optional<std::uint32_t> announcedCount;  // written as the list's count
    bool fillWhatFits = false; // a list too small gets the records that fit instead of an error
    std::vector<Record> records;

    static constexpr std::size_t kMaxRecords = 66;
    static constexpr std::size_t kMaxRecordBytes = 1 << 20;

    static SampleBufferRecipe read(ByteReader& in);
    void write(ByteWriter& out) const;
    // What a platform sample buffer answers, as a recipe: seeds from the unit tests' buffers.
    static SampleBufferRecipe of(const platform::SampleBuffer& buffer);
};

class FuzzSampleBuffer final : public platform::SampleBuffer {
  public:
    // What the last fill handed out: its status, and the list as the program finds it.
    struct Fill {
        platform::OSStatus status = 0;
        std::size_t listSize = 0;
        std::uint32_t count = 0;
        std::vector<platform::AudioBuffer> records; // those written, all within the list's size
    };

    explicit FuzzSampleBuffer(const SampleBufferRecipe& recipe);

    std::shared_ptr<const platform::FormatDescription> formatDescription() const override {
        return description_;
    }
    std::int64_t numSamples() const override { return recipe_.numSamples; }
    platform::OSStatus audioBufferListSizeNeeded(std::size_t& sizeNeeded) const override;
    platform::OSStatus
    fillAudioBufferList(platform::AudioBufferList& list, std::size_t listSize,
                        std::shared_ptr<const void>& retainedBlock) const override;

    const SampleBufferRecipe& recipe() const { return recipe_; }
    const std::optional<Fill>& lastFill() const { return lastFill_; }

  private:
    struct Memory {
        std::vector<std::unique_ptr<std::uint8_t[]>> blocks;
        std::vector<platform::AudioBuffer> records;
    };

    SampleBufferRecipe recipe_;
    std::shared_ptr<const platform::FormatDescription> description_;
    std::shared_ptr<Memory> memory_;
    mutable std::optional<Fill> lastFill_;
};

} // namespace tovanel::fuzz
