// The input of the buffer-list target: one device's stream configuration in one scope, as the
// hardware answers for it (a failing call, an announced size that differs from the value, a
// delivery cut short), and the value's bytes.
#pragma once

#include "fuzz_bytes.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tovanel::fuzz {

struct BufferListInput {
    bool outputScope = false;
    bool sizeCallFails = false;
    bool dataCallFails = false;
    std::optional<std::uint32_t> deliverAtMost;
    // Announced instead of the value's size; bounded to the value's size plus 64 KiB, since a
    // size answer is the platform's own record and never claims gigabytes for a few bytes.
    std::optional<std::uint32_t> announcedSize;
    std::vector<std::uint8_t> value;

    static constexpr std::uint32_t kLargestExcess = 65536;

    static BufferListInput read(ByteReader& in) {
        BufferListInput input;
        const auto flags = in.take<std::uint8_t>();
        input.outputScope = flags & 1;
        input.sizeCallFails = flags & 2;
        input.dataCallFails = flags & 4;
        if (flags & 8) {
            input.deliverAtMost = in.take<std::uint32_t>();
        }
        std::optional<std::uint32_t> announced;
        if (flags & 16) {
            announced = in.take<std::uint32_t>();
        }
        const auto rest = in.takeRest();
        input.value.assign(rest.begin(), rest.end());
        if (announced) {
            input.announcedSize =
                static_cast<std::uint32_t>(*announced % (input.value.size() + kLargestExcess + 1));
        }
        return input;
    }

    void write(ByteWriter& out) const {
        out.put<std::uint8_t>((outputScope ? 1 : 0) | (sizeCallFails ? 2 : 0) |
                              (dataCallFails ? 4 : 0) | (deliverAtMost ? 8 : 0) |
                              (announcedSize ? 16 : 0));
        if (deliverAtMost) {
            out.put(*deliverAtMost);
        }
        if (announcedSize) {
            out.put(*announcedSize);
        }
        out.putBytes(value);
    }
};

} // namespace tovanel::fuzz
