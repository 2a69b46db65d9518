// The screen-capture data path from sample buffer to sanitised interleaved bytes.
#include "pcm/sample_conversion.h"

#include "pcm/sanitize.h"
#include "platform/platform.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace tovanel {

namespace {

using namespace platform;
using Case = CaptureError::Case;

// No real stream has anywhere near this many buffers; a larger size is not a buffer list.
constexpr std::size_t kLargestPlausibleBufferList = audioBufferListSize(4096);

// The output capacity for `inputFrames` at `sourceRate`: the frames the rate change yields,
// truncated, plus 16 frames of room for what the converter held back. None when that count has
// no 32-bit value.
std::optional<std::uint32_t> outputCapacity(std::uint32_t inputFrames, double sourceRate) {
    const double frames = static_cast<double>(inputFrames) * (kTargetSampleRate / sourceRate);
    constexpr double limit = static_cast<double>(std::numeric_limits<std::uint32_t>::max()) - 16;
    if (!std::isfinite(frames) || frames < 0 || frames >= limit) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(frames) + 16;
}

// True when every buffer `format` lays its frames out in (one when interleaved, one per channel
// when planar) has a record in the list with data for all `frames`.
bool listHoldsFrames(AudioBufferList& list, std::size_t usableRecords, const AudioFormat& format,
                     std::uint32_t frames) {
    const AudioStreamBasicDescription& layout = format.streamDescription();
    const std::uint64_t bytes = std::uint64_t{frames} * layout.mBytesPerFrame;
    if (bytes == 0) {
        return true;
    }
    const bool interleaved = (layout.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
    const std::size_t needed = interleaved ? 1 : layout.mChannelsPerFrame;
    if (std::min<std::size_t>(list.mNumberBuffers, usableRecords) < needed) {
        return false;
    }
    const auto records = audioBuffers(list, needed);
    return std::all_of(records.begin(), records.end(), [&](const AudioBuffer& record) {
        return record.mData != nullptr && record.mDataByteSize >= bytes;
    });
}

} // namespace

std::variant<ByteBlock, ConversionError> convertToTargetPCM(const SampleBuffer& buffer,
                                                            ConverterState& state) {
    Media& media = current().media;
    const auto description = buffer.formatDescription();
    if (!description) {
        return CaptureError(Case::missingFormatDescription);
    }
    const AudioStreamBasicDescription* streamDescription = description->streamBasicDescription();
    if (streamDescription == nullptr) {
        return CaptureError(Case::missingStreamDescription);
    }
    const bool sameDescription =
        state.lastSourceFormat &&
        (state.lastDescription == description || state.lastDescription->isEqual(*description));
    if (!sameDescription) {
        state.lastSourceFormat = media.makeFormat(*streamDescription);
        state.lastDescription = state.lastSourceFormat ? description : nullptr;
    }
    const std::shared_ptr<AudioFormat>& sourceFormat = state.lastSourceFormat;
    if (!sourceFormat) {
        return CaptureError(Case::unsupportedSourceFormat);
    }
    auto copied = pcmBuffer(buffer, sourceFormat);
    if (auto* failure = std::get_if<ConversionError>(&copied)) {
        return std::move(*failure);
    }
    auto input = std::get<std::shared_ptr<PCMBuffer>>(std::move(copied));
    if (!state.targetFormat) {
        state.targetFormat =
            media.makeFormat(CommonFormat::float32, kTargetSampleRate, kTargetChannels, false);
    }
    const std::shared_ptr<AudioFormat>& targetFormat = state.targetFormat;
    if (!targetFormat) {
        return CaptureError(Case::unsupportedTargetFormat);
    }
    if (sourceFormat->isEqual(*targetFormat)) {
        return sanitizedInterleavedStereo(*input, std::move(state.spareBlock));
    }

    const bool reuse = state.converter && state.sourceFormatDescription &&
                       state.sourceFormatDescription->isEqual(*description);
    if (!reuse) {
        state.converter = media.makeConverter(sourceFormat, targetFormat);
    }
    state.sourceFormatDescription = description;
    if (!state.converter) {
        return CaptureError(Case::converterUnavailable);
    }
    const auto capacity = outputCapacity(input->frameLength(), sourceFormat->sampleRate());
    const auto output = capacity ? media.makePCMBuffer(targetFormat, *capacity) : nullptr;
    if (!output) {
        return CaptureError(Case::bufferAllocationFailed);
    }
    std::optional<PlatformError> error;
    (void)state.converter->convertToBuffer(*output, error, oneShotInput(input));
    if (error) {
        return std::move(*error);
    }
    return sanitizedInterleavedStereo(*output, std::move(state.spareBlock));
}

std::variant<std::shared_ptr<PCMBuffer>, ConversionError>
pcmBuffer(const SampleBuffer& buffer, const std::shared_ptr<AudioFormat>& format) {
    std::size_t sizeNeeded = 0;
    if (const OSStatus status = buffer.audioBufferListSizeNeeded(sizeNeeded); status != 0) {
        return CaptureError(Case::audioBufferListUnavailable, status);
    }
    if (sizeNeeded == 0 || sizeNeeded > kLargestPlausibleBufferList) {
        return CaptureError(Case::audioBufferListUnavailable, 0);
    }
    AudioBufferListStorage list(sizeNeeded);
    std::shared_ptr<const void> retainedBlock; // keeps the list's data alive until we return
    if (const OSStatus status =
            buffer.fillAudioBufferList(*list.get(), list.byteSize(), retainedBlock);
        status != 0) {
        return CaptureError(Case::audioBufferListUnavailable, status);
    }
    const std::int64_t frames = buffer.numSamples();
    if (frames < 0 || frames > std::numeric_limits<std::uint32_t>::max()) {
        return CaptureError(Case::bufferAllocationFailed);
    }
    // A list that does not hold every frame it announces would leave silence standing in for
    // audio that never came: such a buffer is reported, not passed on. Checked before the PCM
    // buffer is made, so a frame count the list cannot back never reserves memory for itself.
    if (!listHoldsFrames(*list.get(), list.recordsThatFit(), *format,
                         static_cast<std::uint32_t>(frames))) {
        return CaptureError(Case::audioBufferListUnavailable, 0);
    }
    auto pcm = current().media.makePCMBuffer(format, static_cast<std::uint32_t>(frames));
    if (!pcm) {
        return CaptureError(Case::bufferAllocationFailed);
    }
    pcm->setFrameLength(static_cast<std::uint32_t>(frames));
    // The same rule against the buffer's own layout, for a platform that lays it out otherwise.
    if (!copy(*list.get(), list.recordsThatFit(), *pcm)) {
        return CaptureError(Case::audioBufferListUnavailable, 0);
    }
    return pcm;
}

bool copy(AudioBufferList& sourceList, std::size_t usableRecords, PCMBuffer& destination) {
    AudioBufferList& destinationList = destination.mutableAudioBufferList();
    const std::size_t sourceCount = std::min<std::size_t>(sourceList.mNumberBuffers, usableRecords);
    const std::size_t destinationCount = destinationList.mNumberBuffers;
    const auto sources = audioBuffers(sourceList, sourceCount);
    const auto destinations = audioBuffers(destinationList, destinationCount);
    bool complete = true;
    for (std::size_t i = 0; i < destinationCount; ++i) {
        AudioBuffer& to = destinations[i];
        if (i >= sourceCount || sources[i].mData == nullptr || to.mData == nullptr) {
            complete = complete && to.mDataByteSize == 0;
            continue;
        }
        const std::uint32_t bytes = std::min(sources[i].mDataByteSize, to.mDataByteSize);
        complete = complete && bytes == to.mDataByteSize;
        if (bytes > 0) {
            std::memcpy(to.mData, sources[i].mData, bytes);
        }
        to.mDataByteSize = bytes;
    }
    return complete;
}

// Capturing only a pointer keeps the lambda trivially copyable, which is what lets it live in
// std::function's own storage: one owning capture (a shared_ptr) would cost an allocation per
// converted buffer. A buffer of no frames is "nothing for now", never data: a converter may take
// empty data for the end of the stream and then put out nothing for good.
ConverterInputBlock oneShotInput(std::shared_ptr<PCMBuffer>& input) {
    return [input = &input](std::uint32_t, ConverterInputStatus& status) {
        auto buffer = std::exchange(*input, nullptr);
        if (!buffer || buffer->frameLength() == 0) {
            status = ConverterInputStatus::noDataNow;
            return std::shared_ptr<PCMBuffer>();
        }
        status = ConverterInputStatus::haveData;
        return buffer;
    };
}

ByteBlock sanitizedInterleavedStereo(PCMBuffer& buffer, ByteBlock&& spare) {
    float* const* channels = buffer.floatChannelData();
    const std::uint32_t frames = buffer.frameLength();
    const std::uint32_t channelCount = buffer.format()->channelCount();
    if (channels == nullptr || frames == 0 || channelCount == 0) {
        return {};
    }
    assert(buffer.stride() == 1); // planar, as the target format is
    return sanitizedInterleavedStereo(channels[0],
                                      channels[std::min<std::uint32_t>(1, channelCount - 1)],
                                      frames, std::move(spare));
}

} // namespace tovanel
