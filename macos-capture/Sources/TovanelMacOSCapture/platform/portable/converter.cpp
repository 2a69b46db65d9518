// The converter off Apple: input pulled through the block, read into floats, resampled when the
// rates differ, queued, and delivered up to the output's capacity.
#include "platform/portable/converter.h"

#include "platform/portable/converter_status.h"
#include "platform/portable/own_object.h"
#include "platform/portable/sample_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace tovanel::platform::portable {

namespace {

// Input goes to the resampler in slices of this many frames, so its staging memory is fixed
// whatever the size of the buffers a caller hands in.
constexpr std::size_t kStagingFrames = 4096;

PlatformError converterError(OSStatus code, const char* description) {
    return PlatformError{"convertToBuffer", code, description};
}

} // namespace

std::shared_ptr<PortableAudioConverter>
PortableAudioConverter::make(const std::shared_ptr<PortableAudioFormat>& from,
                             const std::shared_ptr<PortableAudioFormat>& to) {
    if (!from || !to || to->sampleType() != SampleType::float32 ||
        !isConvertibleSampleRate(from->sampleRate()) ||
        !isConvertibleSampleRate(to->sampleRate())) {
        return nullptr;
    }
    try {
        std::optional<Resampler> resampler;
        if (from->sampleRate() != to->sampleRate()) {
            resampler = Resampler::make(from->sampleRate(), to->sampleRate(),
                                        std::min(from->channelCount(), to->channelCount()));
            if (!resampler) {
                return nullptr;
            }
        }
        return std::make_shared<PortableAudioConverter>(Token{}, from, to, std::move(resampler));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PortableAudioConverter::PortableAudioConverter(Token, std::shared_ptr<PortableAudioFormat> from,
                                               std::shared_ptr<PortableAudioFormat> to,
                                               std::optional<Resampler> resampler)
    : from_(std::move(from)), to_(std::move(to)),
      channels_(std::min(from_->channelCount(), to_->channelCount())),
      resampler_(std::move(resampler)), queue_(channels_) {
    if (resampler_) {
        staging_.assign(channels_, std::vector<float>(kStagingFrames));
        for (auto& channel : staging_) {
            stagingOut_.push_back(channel.data());
            stagingIn_.push_back(channel.data());
        }
    }
}

double PortableAudioConverter::heldBackFrames() const {
    return static_cast<double>(queue_.frames()) + (resampler_ ? resampler_->delay() : 0.0);
}

ConverterOutputStatus PortableAudioConverter::convertToBuffer(PCMBuffer& output,
                                                              std::optional<PlatformError>& error,
                                                              const ConverterInputBlock& input) {
    output.setFrameLength(0);
    auto* out = ownObject<PortablePCMBuffer>(&output);
    if (out == nullptr || !out->portableFormat().isEqual(*to_)) {
        error = converterError(kAudioConverterErr_FormatNotSupported,
                               "The output buffer is not in the converter's output format.");
        return ConverterOutputStatus::error;
    }
    try {
        if (auto failure = pull(out->frameCapacity(), input)) {
            error = std::move(failure);
            return ConverterOutputStatus::error;
        }
    } catch (const std::bad_alloc&) {
        error = converterError(kAudio_MemFullError, "Out of memory for converted audio.");
        return ConverterOutputStatus::error;
    }
    const std::size_t delivered = deliver(*out);
    if (delivered == out->frameCapacity()) {
        return ConverterOutputStatus::haveData;
    }
    return ended_ && queue_.frames() == 0 ? ConverterOutputStatus::endOfStream
                                          : ConverterOutputStatus::inputRanDry;
}

std::optional<PlatformError> PortableAudioConverter::pull(std::uint32_t capacity,
                                                          const ConverterInputBlock& input) {
    if (!input) {
        return converterError(kAudio_ParamError, "The converter was given no input block.");
    }
    bool asked = false;
    while (!ended_ && (!asked || queue_.frames() < capacity)) {
        auto status = ConverterInputStatus::noDataNow;
        const std::shared_ptr<PCMBuffer> buffer = input(packetsWanted(capacity), status);
        asked = true;
        if (status == ConverterInputStatus::noDataNow) {
            return std::nullopt;
        }
        if (status == ConverterInputStatus::endOfStream) {
            ended_ = true;
            return resampler_ ? resampler_->flush(queue_) : std::nullopt;
        }
        if (status != ConverterInputStatus::haveData) {
            return converterError(kAudio_ParamError,
                                  "The input block answered an unknown input status.");
        }
        if (!buffer) {
            return converterError(kAudio_ParamError,
                                  "The input block announced data but returned no buffer.");
        }
        const auto* source = ownObject<const PortablePCMBuffer>(buffer.get());
        if (source == nullptr || !source->portableFormat().isEqual(*from_)) {
            return converterError(kAudioConverterErr_FormatNotSupported,
                                  "An input buffer is not in the converter's input format.");
        }
        if (source->frameLength() == 0) {
            return std::nullopt;
        }
        if (auto failure = take(*source)) {
            return failure;
        }
    }
    return std::nullopt;
}

std::optional<PlatformError> PortableAudioConverter::take(const PortablePCMBuffer& source) {
    const std::size_t frames = source.frameLength();
    if (!resampler_) {
        readPlanarFloat(source, 0, frames, queue_.reserveBack(frames));
        queue_.commitBack(frames);
        return std::nullopt;
    }
    for (std::size_t first = 0; first < frames; first += kStagingFrames) {
        const std::size_t count = std::min(kStagingFrames, frames - first);
        readPlanarFloat(source, first, count, stagingOut_);
        if (auto failure = resampler_->process(stagingIn_, count, queue_)) {
            return failure;
        }
    }
    return std::nullopt;
}

// The input frames that would fill the rest of the output; at least 1, since the block is
// asked at least once.
std::uint32_t PortableAudioConverter::packetsWanted(std::uint32_t capacity) const {
    const std::size_t queued = queue_.frames();
    const double missing = queued < capacity ? static_cast<double>(capacity - queued) : 0.0;
    const double wanted = std::ceil(missing * from_->sampleRate() / to_->sampleRate());
    return static_cast<std::uint32_t>(
        std::clamp(wanted, 1.0, static_cast<double>(std::numeric_limits<std::uint32_t>::max())));
}

std::size_t PortableAudioConverter::deliver(PortablePCMBuffer& output) {
    const std::size_t count = std::min<std::size_t>(queue_.frames(), output.frameCapacity());
    if (count == 0) {
        return 0;
    }
    const std::uint32_t outputChannels = output.portableFormat().channelCount();
    if (output.portableFormat().isInterleaved()) {
        std::byte* frames = output.bufferData(0);
        for (std::uint32_t c = 0; c < outputChannels; ++c) {
            const float* source = queue_.front(std::min(c, channels_ - 1));
            for (std::size_t i = 0; i < count; ++i) {
                std::memcpy(frames + (i * outputChannels + c) * sizeof(float), source + i,
                            sizeof(float));
            }
        }
    } else {
        for (std::uint32_t c = 0; c < outputChannels; ++c) {
            std::memcpy(output.bufferData(c), queue_.front(std::min(c, channels_ - 1)),
                        count * sizeof(float));
        }
    }
    queue_.popFront(count);
    output.setFrameLength(static_cast<std::uint32_t>(count));
    return count;
}

} // namespace tovanel::platform::portable
