// Checks a captured stream of the self-numbering signal, from wherever it starts: which frames
// arrived in order, and every frame lost, repeated, altered or silenced on the way.
#pragma once

#include "raw_pcm.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tovanel::signals {

struct NumberingFault {
    enum class Kind {
        Lost,     // frames missing: the sequence jumps forward
        Repeated, // frames played again: the sequence jumps back
        Altered,  // frames that carry no index, or an index that fits nowhere
        Silence,  // silent frames between the first and the last numbered frame
    };
    Kind kind;
    std::uint64_t position; // frame offset in the captured stream where the fault starts
    std::uint64_t frames;
    // Altered and silent frames that took no frame's place (the frame after them carries the
    // index expected before them).
    bool inserted = false;
    std::uint32_t expectedIndex = 0; // the index due at `position`
    std::uint32_t foundIndex = 0;    // Lost and Repeated: the index found there
};

struct NumberingReport {
    std::uint64_t frames = 0;          // whole frames examined
    std::uint64_t leadingSilence = 0;  // silent frames before the first numbered frame
    std::uint64_t trailingSilence = 0; // silent frames after the last numbered frame
    // Numbered frames placed in the sequence, frames played again included: captured - repeated
    // + lost + the altered and silent frames that took a frame's place = last - first + 1.
    std::uint64_t captured = 0;
    std::uint64_t lost = 0;
    std::uint64_t repeated = 0;
    std::uint64_t altered = 0;
    std::uint64_t silent = 0;   // silent frames inside the numbered part
    std::uint64_t inserted = 0; // of the altered and silent frames, those that took no place
    std::optional<std::uint32_t> firstIndex;
    std::optional<std::uint32_t> lastIndex;
    std::uint64_t faultCount = 0;
    std::vector<NumberingFault> faults; // the first kMaxListedFaults, in stream order
    std::size_t trailingBytes = 0;      // a partial last frame, not examined
    double tolerance = 0;

    static constexpr std::size_t kMaxListedFaults = 16;

    // Numbered frames arrived, and nothing was lost, repeated, altered or silenced among them.
    bool clean() const {
        return captured > 0 && lost == 0 && repeated == 0 && altered == 0 && silent == 0;
    }
};

class NumberingChecker {
  public:
    // `tolerance` is how far a sample may lie from its exact code (0: bit-exact); it must be below
    // kLargestNumberingTolerance. Throws std::invalid_argument otherwise.
    explicit NumberingChecker(double tolerance = 0);

    // The captured stream, in pieces cut anywhere.
    void push(std::span<const std::uint8_t> bytes);
    // Whole interleaved frames (an odd trailing sample is an error: std::invalid_argument).
    void pushFrames(std::span<const float> samples);
    // Ends the stream and returns the report; the checker takes nothing more afterwards.
    NumberingReport finish();

  private:
    struct Gap {
        std::uint64_t start = 0;
        std::uint64_t silent = 0;
        std::uint64_t invalid = 0;
        std::uint64_t size() const { return silent + invalid; }
    };
    struct Segment {
        std::uint64_t start = 0;
        std::uint32_t firstIndex = 0;
        std::uint64_t length = 0;
    };
    struct Held {
        Gap gap;
        Segment segment;
    };

    void frame(float left, float right);
    void addToGap(bool silent);
    void closeSegment();
    void accept(const Gap& gap, const Segment& segment);
    void jumpTo(const Segment& segment);
    void applySegment(const Segment& segment);
    void gapFault(const Gap& gap, bool inserted);
    void addFault(NumberingFault fault);

    double tolerance_;
    FrameAssembler assembler_;
    std::uint64_t position_ = 0;
    Gap gap_;
    std::optional<Segment> open_;
    std::optional<Held> held_;
    bool locked_ = false;
    bool finished_ = false;
    std::uint32_t expected_ = 0;
    NumberingReport report_;
};

} // namespace tovanel::signals
