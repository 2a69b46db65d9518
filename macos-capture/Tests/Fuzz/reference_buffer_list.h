// A plain reading of a stream-configuration value, independent of the program's structures: the
// reference the device targets hold audioDeviceHasChannels to.
#pragma once

#include <cstdint>
#include <span>

namespace tovanel::fuzz {

// The value as a 64-bit buffer list: a 4-byte count, 4 bytes of padding, then 16-byte records
// whose first 4 bytes are the channel count. True when one of the first `count` records has
// channels; a count the block cannot hold means no channels. Every byte read is bounds-checked.
bool referenceHasChannels(std::span<const std::uint8_t> block);

} // namespace tovanel::fuzz
