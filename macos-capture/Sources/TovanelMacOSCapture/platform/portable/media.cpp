// Media off Apple: hands out the portable formats, buffers and converter. Formats and buffers
// made by another backend are refused (answered with null), never guessed at, and running out of
// memory is answered with null too: nothing here throws.
#include "platform/portable/media.h"

#include "platform/portable/audio_format.h"
#include "platform/portable/converter.h"
#include "platform/portable/own_object.h"
#include "platform/portable/pcm_buffer.h"

#include <new>

namespace tovanel::platform::portable {

std::shared_ptr<AudioFormat> PortableMedia::makeFormat(const AudioStreamBasicDescription& asbd) {
    if (auto kept = formats_.find(asbd)) {
        return kept; // accepted when it was made: the same description is accepted again
    }
    return shared(PortableAudioFormat::describe(asbd));
}

std::shared_ptr<AudioFormat> PortableMedia::makeFormat(CommonFormat format, double sampleRate,
                                                       std::uint32_t channels, bool interleaved) {
    return shared(PortableAudioFormat::describe(format, sampleRate, channels, interleaved));
}

std::shared_ptr<AudioFormat>
PortableMedia::shared(const std::optional<PortableAudioFormat>& format) {
    if (!format) {
        return nullptr;
    }
    try {
        return formats_.shared(*format);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::shared_ptr<PCMBuffer> PortableMedia::makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                                        std::uint32_t frameCapacity) {
    const auto* layout = ownObject<const PortableAudioFormat>(format.get());
    return layout != nullptr ? buffers_.make(format, *layout, frameCapacity) : nullptr;
}

std::shared_ptr<AudioConverter>
PortableMedia::makeConverter(const std::shared_ptr<AudioFormat>& from,
                             const std::shared_ptr<AudioFormat>& to) {
    return PortableAudioConverter::make(ownObject<PortableAudioFormat>(from),
                                        ownObject<PortableAudioFormat>(to));
}

} // namespace tovanel::platform::portable
