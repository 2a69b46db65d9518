// The handle the PCM stream is written to: standard output, or the writing end of the sender's
// pipe.
//
// Callers guarantee:
//   - writes on one handle never overlap (one capture source writes, from one thread at a time).
// Every backend must:
//   - hand over every byte of a block, in order, before `write` returns, retrying interrupted and
//     partial writes and waiting while the reader is slow;
//   - end the process at that write when the reader has gone, with nothing reported, whatever the
//     inherited SIGPIPE disposition: capture never carries on after a failed write.
#pragma once

#include <cstdint>
#include <span>

namespace tovanel::platform {

class OutputHandle {
  public:
    virtual ~OutputHandle() = default;

    // Returns only when every byte has been handed over.
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
};

} // namespace tovanel::platform
