// Reading a stream-configuration buffer list without trusting its sizes.
#include "devices/audio_buffer_list.h"

#include "platform/audio_types.h"

#include <cstring>

namespace tovanel {

using platform::AudioBuffer;
using platform::kAudioBufferListHeaderSize;

bool bufferListHasChannels(std::span<const std::uint8_t> block) {
    std::uint32_t bufferCount = 0;
    if (block.size() < sizeof bufferCount) {
        return false;
    }
    std::memcpy(&bufferCount, block.data(), sizeof bufferCount);
    if (bufferCount == 0) {
        return false;
    }
    const std::size_t recordsThatFit =
        block.size() < kAudioBufferListHeaderSize
            ? 0
            : (block.size() - kAudioBufferListHeaderSize) / sizeof(AudioBuffer);
    if (bufferCount > recordsThatFit) {
        return false;
    }
    for (std::size_t i = 0; i < bufferCount; ++i) {
        std::uint32_t channels = 0;
        std::memcpy(&channels,
                    block.data() + kAudioBufferListHeaderSize + i * sizeof(AudioBuffer) +
                        offsetof(AudioBuffer, mNumberChannels),
                    sizeof channels);
        if (channels != 0) {
            return true;
        }
    }
    return false;
}

} // namespace tovanel
