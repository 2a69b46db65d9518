// Sample bounds: non-finite and out-of-range samples counted and located.
#include "sample_bounds.h"

#include "stream_format.h"

#include <algorithm>
#include <cmath>

namespace tovanel::signals {

SampleBoundsReport checkSampleBounds(std::span<const float> samples, std::uint64_t firstOffset) {
    SampleBoundsReport report;
    report.samples = samples.size();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float x = samples[i];
        if (!std::isfinite(x)) {
            ++report.nonFinite;
            if (!report.firstNonFinite) {
                report.firstNonFinite = firstOffset + i;
            }
            continue;
        }
        const float magnitude = std::fabs(x);
        report.largestMagnitude = std::max(report.largestMagnitude, magnitude);
        if (magnitude > kSampleBound) {
            ++report.outOfBounds;
            if (!report.firstOutOfBounds) {
                report.firstOutOfBounds = firstOffset + i;
            }
        }
    }
    return report;
}

void add(SampleBoundsReport& total, const SampleBoundsReport& piece) {
    total.samples += piece.samples;
    total.nonFinite += piece.nonFinite;
    total.outOfBounds += piece.outOfBounds;
    if (!total.firstNonFinite) {
        total.firstNonFinite = piece.firstNonFinite;
    }
    if (!total.firstOutOfBounds) {
        total.firstOutOfBounds = piece.firstOutOfBounds;
    }
    total.largestMagnitude = std::max(total.largestMagnitude, piece.largestMagnitude);
}

} // namespace tovanel::signals
