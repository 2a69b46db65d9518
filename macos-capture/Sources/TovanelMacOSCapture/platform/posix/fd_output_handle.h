// OutputHandle over a file descriptor: standard output, or the writing end of a pipe.
#pragma once

#include "platform/output_handle.h"
#include "platform/posix/unique_fd.h"

#include <cstdint>
#include <span>

namespace tovanel::platform::posix {

class FdOutputHandle final : public OutputHandle {
  public:
    // Writes to `fd` without owning it (standard output).
    static FdOutputHandle borrowing(int fd) { return FdOutputHandle(fd, UniqueFd()); }
    // Writes to `fd` and closes it when destroyed (a pipe's writing end).
    static FdOutputHandle owning(UniqueFd fd) {
        const int raw = fd.get();
        return FdOutputHandle(raw, std::move(fd));
    }

    void write(std::span<const std::uint8_t> bytes) override;

  private:
    FdOutputHandle(int fd, UniqueFd owned) : fd_(fd), owned_(std::move(owned)) {}

    int fd_;
    UniqueFd owned_;
};

// Writes every byte to `fd`: retries interrupted and partial writes, waits while a non-blocking
// descriptor is full. Ends the process when the write fails (see the definition).
void writeAllOrEndProcess(int fd, std::span<const std::uint8_t> bytes);

} // namespace tovanel::platform::posix
