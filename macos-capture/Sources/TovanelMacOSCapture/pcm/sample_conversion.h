// The screen-capture data path: a sample buffer's audio copied into a PCM buffer in its own
// format, brought to planar Float32 stereo at 48000 Hz, and interleaved into sanitised bytes.
#pragma once

#include "pcm/byte_block.h"
#include "pcm/capture_error.h"
#include "platform/media.h"

#include <cstdint>
#include <memory>
#include <variant>

namespace tovanel {

inline constexpr double kTargetSampleRate = 48000.0;
inline constexpr std::uint32_t kTargetChannels = 2;

// What the conversion keeps from one buffer to the next: the converter and the description it
// was made for, which change together and only for buffers that need converting; the formats
// made for the last buffer, which serve the next while its description is equal (a format is
// fixed by its description, and a stream's buffers share one); and the memory of the last block
// handed out, given back by the caller once written, for the next block.
struct ConverterState {
    std::shared_ptr<platform::AudioConverter> converter;
    std::shared_ptr<const platform::FormatDescription> sourceFormatDescription;
    std::shared_ptr<const platform::FormatDescription> lastDescription;
    std::shared_ptr<platform::AudioFormat> lastSourceFormat; // made from lastDescription
    std::shared_ptr<platform::AudioFormat> targetFormat;     // once made, for good
    ByteBlock spareBlock;
};

// Interleaved Float32 stereo bytes at 48000 Hz, already sanitised (possibly empty: nothing to
// write), or why the buffer could not be converted. Interleaving and sanitising are one pass, so
// the caller writes the bytes as they are. They take the memory of `state.spareBlock` when it is
// large enough.
std::variant<ByteBlock, ConversionError> convertToTargetPCM(const platform::SampleBuffer& buffer,
                                                            ConverterState& state);

// A new PCM buffer in `format` holding a copy of the sample buffer's audio.
std::variant<std::shared_ptr<platform::PCMBuffer>, ConversionError>
pcmBuffer(const platform::SampleBuffer& buffer,
          const std::shared_ptr<platform::AudioFormat>& format);

// Copies the first `usableRecords` buffers of `sourceList` (fewer when its count says so) into
// the PCM buffer's own list, each cut to the smaller of the two sizes. Returns true when every
// buffer of the destination received all the bytes its frame length needs.
bool copy(platform::AudioBufferList& sourceList, std::size_t usableRecords,
          platform::PCMBuffer& destination);

// The converter's input for one call: takes the buffer out of `input` once, then answers
// "nothing for now" (never "end of stream"), so the converter keeps what it holds back for the
// next buffer. An empty `input`, or a buffer of no frames, gives "nothing for now" from the
// start. The block refers to `input`, which must outlive the conversion call.
platform::ConverterInputBlock oneShotInput(std::shared_ptr<platform::PCMBuffer>& input);

// The frames of a planar float buffer (the target format's layout) as sanitised left/right pairs;
// empty when it has no float channel data. A mono buffer gives each sample to both sides. The
// pairs are written into `spare`'s memory when it is large enough.
ByteBlock sanitizedInterleavedStereo(platform::PCMBuffer& buffer, ByteBlock&& spare = {});

} // namespace tovanel
