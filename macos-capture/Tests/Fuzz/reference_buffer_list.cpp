// The plain reading of a stream-configuration value.
#include "reference_buffer_list.h"

#include <cstddef>
#include <stdexcept>

namespace tovanel::fuzz {

namespace {

constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kRecordBytes = 16;

// Little-endian, byte by byte, with the bounds checked on every byte.
std::uint32_t word(std::span<const std::uint8_t> block, std::size_t offset) {
    if (offset + 4 > block.size()) {
        throw std::out_of_range("reference read past the block");
    }
    return static_cast<std::uint32_t>(block[offset]) |
           static_cast<std::uint32_t>(block[offset + 1]) << 8 |
           static_cast<std::uint32_t>(block[offset + 2]) << 16 |
           static_cast<std::uint32_t>(block[offset + 3]) << 24;
}

} // namespace

bool referenceHasChannels(std::span<const std::uint8_t> block) {
    if (block.size() < 4) {
        return false;
    }
    const std::uint32_t count = word(block, 0);
    const std::size_t recordsInBlock =
        block.size() < kHeaderBytes ? 0 : (block.size() - kHeaderBytes) / kRecordBytes;
    if (count > recordsInBlock) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (word(block, kHeaderBytes + i * kRecordBytes) != 0) {
            return true;
        }
    }
    return false;
}

} // namespace tovanel::fuzz
