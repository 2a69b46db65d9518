// Media off Apple. (Stub until the portable media backend is written.)
#include "platform/portable/media.h"

namespace tovanel::platform::portable {

std::shared_ptr<AudioFormat> PortableMedia::makeFormat(const AudioStreamBasicDescription&) {
    return nullptr;
}
std::shared_ptr<AudioFormat> PortableMedia::makeFormat(CommonFormat, double, std::uint32_t, bool) {
    return nullptr;
}
std::shared_ptr<PCMBuffer> PortableMedia::makePCMBuffer(const std::shared_ptr<AudioFormat>&,
                                                        std::uint32_t) {
    return nullptr;
}
std::shared_ptr<AudioConverter> PortableMedia::makeConverter(const std::shared_ptr<AudioFormat>&,
                                                             const std::shared_ptr<AudioFormat>&) {
    return nullptr;
}

} // namespace tovanel::platform::portable
