// Reading a fuzz input as a sequence of fields, and writing seed inputs in the same layout: the
// one encoding each target decodes and the seed generator encodes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace tovanel::fuzz {

// Fields are taken from the front, little-endian as the host lays them out. A field the input
// has run out for reads as zero bytes, so every input decodes to something.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> input) : input_(input) {}

    template <class T>
    requires std::is_trivially_copyable_v<T> T take() {
        std::uint8_t bytes[sizeof(T)] = {};
        const std::size_t available = std::min(sizeof(T), input_.size());
        if (available > 0) {
            std::memcpy(bytes, input_.data(), available);
        }
        input_ = input_.subspan(available);
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    // Up to `count` bytes: fewer when the input ends first.
    std::vector<std::uint8_t> takeBytes(std::size_t count) {
        const std::size_t available = std::min(count, input_.size());
        std::vector<std::uint8_t> bytes(input_.begin(), input_.begin() + available);
        input_ = input_.subspan(available);
        return bytes;
    }

    std::span<const std::uint8_t> takeRest() {
        const auto rest = input_;
        input_ = {};
        return rest;
    }

    bool empty() const { return input_.empty(); }
    std::size_t remaining() const { return input_.size(); }

  private:
    std::span<const std::uint8_t> input_;
};

class ByteWriter {
  public:
    template <class T>
    requires std::is_trivially_copyable_v<T>
    void put(const T& value) {
        std::uint8_t bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        bytes_.insert(bytes_.end(), bytes, bytes + sizeof(T));
    }

    void putBytes(std::span<const std::uint8_t> bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    void putBytes(const std::string& bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace tovanel::fuzz
