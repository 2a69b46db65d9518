// Fuzz target: sanitizedInterleavedFloatPCM against a plain scalar reference, at any length and
// any alignment of its input.
//
// Input: one byte whose low four bits place the block that many bytes into its storage, then the
// block itself.
#include "fuzz_check.h"
#include "pcm/sanitize.h"
#include "reference_sanitize.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace tovanel;

using test::referenceSanitized;

std::uint32_t sampleAt(const std::uint8_t* bytes, std::size_t index) {
    std::uint32_t bits;
    std::memcpy(&bits, bytes + 4 * index, 4);
    return bits;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t offset = data[0] & 0x0F;
    const std::size_t length = size - 1;
    // Exactly the block's bytes after the offset: reading past them is caught by the sanitizer.
    std::vector<std::uint8_t> storage(offset + length);
    if (length > 0) {
        std::memcpy(storage.data() + offset, data + 1, length);
    }
    const std::span<const std::uint8_t> input(storage.data() + offset, length);
    const std::vector<std::uint8_t> before(input.begin(), input.end());

    const ByteBlock result = sanitizedInterleavedFloatPCM(input);

    const std::size_t samples = length / 4;
    FUZZ_CHECK(result.size() == samples * 4);
    FUZZ_CHECK(std::equal(before.begin(), before.end(), input.begin())); // input left alone
    for (std::size_t i = 0; i < samples; ++i) {
        const std::uint32_t out = sampleAt(result.data(), i);
        FUZZ_CHECK(out == referenceSanitized(sampleAt(input.data(), i)));
        const float value = std::bit_cast<float>(out);
        FUZZ_CHECK(std::isfinite(value) && value >= -0.95f && value <= 0.95f);
    }
    FUZZ_CHECK(sanitizedInterleavedFloatPCM(result) == result); // a second pass changes nothing
    return 0;
}
