// The numbering checker: the stream is cut into segments of consecutive indices and the gaps
// between them, and each segment is placed against the index expected next. A lone frame whose
// index fits nowhere is judged by the segment after it, so one frame that happens to decode to a
// wrong index is one altered frame, not a jump away and a jump back.
#include "numbering_checker.h"

#include "frame_numbering.h"

#include <cmath>
#include <stdexcept>

namespace tovanel::signals {

NumberingChecker::NumberingChecker(double tolerance) : tolerance_(tolerance) {
    if (!(tolerance >= 0 && tolerance <= kLargestNumberingTolerance)) {
        throw std::invalid_argument("numbering tolerance must lie between 0 and half a code step");
    }
    report_.tolerance = tolerance;
}

void NumberingChecker::push(std::span<const std::uint8_t> bytes) {
    pushFrames(assembler_.push(bytes));
}

void NumberingChecker::pushFrames(std::span<const float> samples) {
    if (finished_) {
        throw std::logic_error("the numbering checker has already finished");
    }
    if (samples.size() % 2 != 0) {
        throw std::invalid_argument("interleaved stereo samples come in pairs");
    }
    for (std::size_t i = 0; i < samples.size(); i += 2) {
        frame(samples[i], samples[i + 1]);
    }
}

void NumberingChecker::frame(float left, float right) {
    const bool silent = std::fabs(left) <= tolerance_ && std::fabs(right) <= tolerance_;
    const auto index = silent ? std::nullopt : frameIndex(left, right, tolerance_);
    if (!index) {
        closeSegment();
        addToGap(silent);
    } else if (open_ && *index == open_->firstIndex + static_cast<std::uint32_t>(open_->length)) {
        ++open_->length;
    } else {
        closeSegment();
        open_ = Segment{position_, *index, 1};
    }
    ++position_;
}

void NumberingChecker::addToGap(bool silent) {
    if (gap_.size() == 0) {
        gap_.start = position_;
    }
    ++(silent ? gap_.silent : gap_.invalid);
}

void NumberingChecker::closeSegment() {
    if (open_) {
        const Segment segment = *open_;
        const Gap gap = gap_;
        open_.reset();
        gap_ = Gap{};
        accept(gap, segment);
    }
}

void NumberingChecker::accept(const Gap& gap, const Segment& segment) {
    if (held_) {
        const Held held = *held_;
        held_.reset();
        const std::uint64_t between = held.gap.size() + 1 + gap.size();
        const auto offset = static_cast<std::int32_t>(segment.firstIndex - expected_);
        if (offset == 0 || (offset > 0 && static_cast<std::uint64_t>(offset) == between)) {
            // The sequence goes on past the lone frame as if it were not a number at all.
            const bool inserted = offset == 0;
            gapFault(held.gap, inserted);
            ++report_.altered;
            report_.inserted += inserted ? 1 : 0;
            addFault(
                {NumberingFault::Kind::Altered, held.segment.start, 1, inserted, expected_, 0});
            expected_ += inserted ? 0 : 1;
            gapFault(gap, inserted);
            applySegment(segment);
            return;
        }
        // The lone frame really is where the sequence went: place it, then this segment.
        gapFault(held.gap, false);
        jumpTo(held.segment);
        applySegment(held.segment);
    }

    if (!locked_) {
        report_.leadingSilence += gap.silent;
        if (gap.invalid > 0) {
            report_.altered += gap.invalid;
            addFault({NumberingFault::Kind::Altered, gap.start, gap.size(), false, 0, 0});
        }
        locked_ = true;
        report_.firstIndex = segment.firstIndex;
        applySegment(segment);
        return;
    }

    const auto offset = static_cast<std::int32_t>(segment.firstIndex - expected_);
    if (offset == 0) {
        gapFault(gap, true);
    } else if (gap.size() > 0 && offset > 0 && static_cast<std::uint64_t>(offset) == gap.size()) {
        gapFault(gap, false);
    } else if (segment.length == 1) {
        held_ = Held{gap, segment};
        return;
    } else {
        gapFault(gap, false);
        jumpTo(segment);
    }
    applySegment(segment);
}

void NumberingChecker::jumpTo(const Segment& segment) {
    const std::int64_t jump = static_cast<std::int32_t>(segment.firstIndex - expected_);
    if (jump == 0) {
        return;
    }
    const auto frames = static_cast<std::uint64_t>(jump > 0 ? jump : -jump);
    (jump > 0 ? report_.lost : report_.repeated) += frames;
    addFault({jump > 0 ? NumberingFault::Kind::Lost : NumberingFault::Kind::Repeated, segment.start,
              frames, false, expected_, segment.firstIndex});
}

void NumberingChecker::applySegment(const Segment& segment) {
    report_.captured += segment.length;
    expected_ = segment.firstIndex + static_cast<std::uint32_t>(segment.length);
    report_.lastIndex = expected_ - 1;
}

void NumberingChecker::gapFault(const Gap& gap, bool inserted) {
    if (gap.size() == 0) {
        return;
    }
    report_.altered += gap.invalid;
    report_.silent += gap.silent;
    report_.inserted += inserted ? gap.size() : 0;
    addFault({gap.invalid > 0 ? NumberingFault::Kind::Altered : NumberingFault::Kind::Silence,
              gap.start, gap.size(), inserted, expected_, 0});
    if (!inserted) {
        expected_ += static_cast<std::uint32_t>(gap.size());
    }
}

void NumberingChecker::addFault(NumberingFault fault) {
    ++report_.faultCount;
    if (report_.faults.size() < NumberingReport::kMaxListedFaults) {
        report_.faults.push_back(fault);
    }
}

NumberingReport NumberingChecker::finish() {
    if (finished_) {
        throw std::logic_error("the numbering checker has already finished");
    }
    closeSegment();
    finished_ = true;
    if (held_) {
        // A lone frame at the very end has nothing after it to confirm a jump: it counts as
        // altered, after whatever gap preceded it.
        gapFault(held_->gap, false);
        ++report_.altered;
        addFault({NumberingFault::Kind::Altered, held_->segment.start, 1, false, expected_, 0});
        ++expected_;
        held_.reset();
    }
    if (!locked_) {
        report_.leadingSilence += gap_.silent;
    } else {
        report_.trailingSilence += gap_.silent;
    }
    if (gap_.invalid > 0) {
        report_.altered += gap_.invalid;
        addFault({NumberingFault::Kind::Altered, gap_.start, gap_.size(), false, expected_, 0});
    }
    report_.frames = position_;
    report_.trailingBytes = assembler_.pendingBytes();
    return report_;
}

} // namespace tovanel::signals
