// A byte block: an owned, contiguous byte sequence, passed and returned by value. A block given
// back after use can lend its memory to the next one of no greater size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <utility>

namespace tovanel {

// `size` bytes left unset. A libc++ without make_unique_for_overwrite (before 16, as in the
// macOS 13 SDK) gets the same default-initialised allocation spelled out.
inline std::unique_ptr<std::uint8_t[]> uninitializedBytes(std::size_t size) {
#if defined(__cpp_lib_smart_ptr_for_overwrite)
    return std::make_unique_for_overwrite<std::uint8_t[]>(size);
#else
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]);
#endif
}

class ByteBlock {
  public:
    ByteBlock() = default;

    // A block of `size` bytes whose content is unset, for a producer that fills every byte in
    // one pass (setting them first would cost a second pass over memory).
    static ByteBlock forOverwrite(std::size_t size) {
        ByteBlock block;
        if (size > 0) {
            block.bytes_ = uninitializedBytes(size);
            block.size_ = size;
            block.capacity_ = size;
        }
        return block;
    }
    // The same in `spare`'s memory when it has room for `size` bytes, so a producer that makes a
    // block for every buffer of a stream allocates only when the blocks grow.
    static ByteBlock forOverwrite(std::size_t size, ByteBlock&& spare) {
        if (size == 0 || spare.capacity_ < size) {
            return forOverwrite(size);
        }
        ByteBlock block = std::move(spare);
        block.size_ = size;
        return block;
    }
    // A copy of `bytes`.
    explicit ByteBlock(std::span<const std::uint8_t> bytes)
        : ByteBlock(forOverwrite(bytes.size())) {
        if (size_ > 0) {
            std::memcpy(bytes_.get(), bytes.data(), size_);
        }
    }
    ByteBlock(std::initializer_list<std::uint8_t> bytes)
        : ByteBlock(std::span<const std::uint8_t>(bytes.begin(), bytes.size())) {}

    ByteBlock(const ByteBlock& other) : ByteBlock(other.bytes()) {}
    ByteBlock& operator=(const ByteBlock& other) {
        if (this != &other) {
            *this = ByteBlock(other.bytes());
        }
        return *this;
    }
    ByteBlock(ByteBlock&& other) noexcept
        : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    ByteBlock& operator=(ByteBlock&& other) noexcept {
        bytes_ = std::move(other.bytes_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        return *this;
    }

    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + size_; }
    std::span<const std::uint8_t> bytes() const { return {data(), size_}; }
    operator std::span<const std::uint8_t>() const { return bytes(); }

    friend bool operator==(const ByteBlock& a, const ByteBlock& b) {
        return a.size_ == b.size_ &&
               (a.size_ == 0 || std::memcmp(a.data(), b.data(), a.size_) == 0);
    }

  private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0; // the bytes bytes_ holds; size_ or more
};

} // namespace tovanel
