// Reading a stream-configuration value: the platform's audio buffer list, as raw bytes of
// untrusted size.
#pragma once

#include <cstdint>
#include <span>

namespace tovanel {

// True when some buffer record of the list in `block` has a channel count other than 0. A list
// whose announced buffer count does not fit in the block is treated as having no channels: it
// is never read past its end.
bool bufferListHasChannels(std::span<const std::uint8_t> block);

} // namespace tovanel
