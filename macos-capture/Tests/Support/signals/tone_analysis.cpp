// Tone analysis. Each channel is analysed on its own and the faults of both are merged:
// - the tone's extent is where its samples rise above -60 dB of its robust peak;
// - the frequency is first taken from the median interval between rising zero crossings, then
//   refined from the phase of least-squares sine fits over consecutive windows;
// - a pure sine obeys x[n] = 2cos(w)x[n-1] - x[n-2] to rounding, so every break of any kind shows
//   in that residual; each cluster of residuals is judged by fitting the tone's phase just before
//   and just after it: a step is a discontinuity, no step a glitch;
// - window phases catch what the residual may miss (steps at a crest of a low tone).
#include "tone_analysis.h"

#include "sine_generator.h"
#include "stream_format.h"

#include <algorithm>
#include <numbers>
#include <optional>

namespace tovanel::signals {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

double wrapPhase(double phase) {
    phase = std::remainder(phase, kTwoPi);
    return phase;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

struct SineFit {
    double amplitude = 0;
    double phase = 0; // x[n] ~ amplitude * cos(w n + phase) + offset
    double offset = 0;
    bool valid = false;
};

// Least-squares fit of a*cos(w n) + b*sin(w n) + c over x[begin, end).
SineFit fitSine(const std::vector<double>& x, std::size_t begin, std::size_t end, double omega) {
    double m[3][4] = {};
    for (std::size_t n = begin; n < end; ++n) {
        const double angle = omega * static_cast<double>(n);
        const double basis[3] = {std::cos(angle), std::sin(angle), 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                m[i][j] += basis[i] * basis[j];
            }
            m[i][3] += basis[i] * x[n];
        }
    }
    for (int column = 0; column < 3; ++column) {
        int pivot = column;
        for (int row = column + 1; row < 3; ++row) {
            if (std::fabs(m[row][column]) > std::fabs(m[pivot][column])) {
                pivot = row;
            }
        }
        if (std::fabs(m[pivot][column]) < 1e-12) {
            return {};
        }
        std::swap(m[column], m[pivot]);
        for (int row = 0; row < 3; ++row) {
            if (row != column) {
                const double factor = m[row][column] / m[column][column];
                for (int k = column; k < 4; ++k) {
                    m[row][k] -= factor * m[column][k];
                }
            }
        }
    }
    const double a = m[0][3] / m[0][0];
    const double b = m[1][3] / m[1][1];
    SineFit fit;
    fit.amplitude = std::hypot(a, b);
    fit.phase = std::atan2(-b, a);
    fit.offset = m[2][3] / m[2][2];
    fit.valid = true;
    return fit;
}

struct Extent {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The 99th percentile of the magnitudes above -100 dBFS: the tone's peak, unmoved by a few
// pops and by silence.
double robustPeak(std::initializer_list<const std::vector<double>*> channels, std::size_t begin,
                  std::size_t end) {
    std::vector<double> audible;
    for (const auto* channel : channels) {
        for (std::size_t n = begin; n < end; ++n) {
            if (std::fabs((*channel)[n]) > 1e-5) {
                audible.push_back(std::fabs((*channel)[n]));
            }
        }
    }
    if (audible.size() < 16) {
        return 0;
    }
    const auto at = audible.begin() + static_cast<std::ptrdiff_t>(audible.size() * 99 / 100);
    std::nth_element(audible.begin(), at, audible.end());
    return *at;
}

// Where the tone is: from the first to the last frame rising above -60 dB of its robust peak.
std::optional<Extent> toneExtent(const std::vector<double>& left,
                                 const std::vector<double>& right) {
    const double threshold = robustPeak({&left, &right}, 0, left.size()) * 1e-3;
    if (threshold == 0) {
        return std::nullopt;
    }
    Extent extent{left.size(), 0};
    for (std::size_t n = 0; n < left.size(); ++n) {
        if (std::fabs(left[n]) > threshold || std::fabs(right[n]) > threshold) {
            extent.begin = std::min(extent.begin, n);
            extent.end = n + 1;
        }
    }
    if (extent.end <= extent.begin) {
        return std::nullopt;
    }
    return extent;
}

// Frequency in radians per frame from the median interval between rising zero crossings; a
// crossing counts only after the signal has been well below zero, so noise and pops near zero do
// not add crossings.
std::optional<double> coarseOmega(const std::vector<double>& x, Extent extent) {
    const double hysteresis = robustPeak({&x}, extent.begin, extent.end) / 4;
    if (hysteresis == 0) {
        return std::nullopt;
    }
    std::vector<double> crossings;
    bool armed = false;
    for (std::size_t n = extent.begin + 1; n < extent.end; ++n) {
        if (x[n] < -hysteresis) {
            armed = true;
        } else if (armed && x[n - 1] < 0 && x[n] >= 0) {
            crossings.push_back(static_cast<double>(n - 1) + -x[n - 1] / (x[n] - x[n - 1]));
            armed = false;
        }
    }
    if (crossings.size() < 3) {
        return std::nullopt;
    }
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); ++i) {
        periods.push_back(crossings[i] - crossings[i - 1]);
    }
    const double period = median(periods);
    if (period < 2) {
        return std::nullopt;
    }
    return kTwoPi / period;
}

struct Event {
    std::size_t begin; // first frame affected
    std::size_t end;   // one past the last frame affected
    ToneFault fault;
};

class ChannelAnalysis {
  public:
    ChannelAnalysis(const std::vector<double>& x, Extent region, std::size_t window, double omega)
        : x_(x), region_(region), window_(window), omega_(omega) {}

    void refineFrequency() {
        for (int pass = 0; pass < 4; ++pass) {
            const auto phases = windowPhases();
            std::vector<double> steps;
            for (std::size_t k = 1; k < phases.size(); ++k) {
                steps.push_back(wrapPhase(phases[k].phase - phases[k - 1].phase));
            }
            omega_ += median(steps) / static_cast<double>(window_);
        }
    }

    double omega() const { return omega_; }

    double fittedAmplitude() const {
        std::vector<double> amplitudes;
        for (const auto& fit : windowPhases()) {
            amplitudes.push_back(fit.amplitude);
        }
        return median(amplitudes);
    }

    // The faults in recording order. A capture broken everywhere (read in the wrong format, say)
    // has a cluster at every few frames; only the first kJudged are judged by phase, the rest
    // count as glitches, so the analysis stays linear in the length of the recording.
    std::vector<Event> faults(double amplitude, double glitchThreshold) const {
        constexpr std::size_t kJudged = 256;
        const std::vector<Event> silent = dropouts(amplitude);
        const auto clusters = residualClusters(amplitude, glitchThreshold, silent);
        std::vector<Event> events = silent;
        for (std::size_t i = 0; i < clusters.size(); ++i) {
            events.push_back(i < kJudged ? judge(clusters, i, silent) : glitch(clusters[i]));
        }
        addWindowSteps(events);
        std::sort(events.begin(), events.end(),
                  [](const Event& a, const Event& b) { return a.begin < b.begin; });
        return events;
    }

  private:
    struct Cluster {
        std::size_t begin; // first residual over the threshold
        std::size_t end;   // one past the last
        double largest;
    };

    std::vector<SineFit> windowPhases() const {
        std::vector<SineFit> fits;
        for (std::size_t start = region_.begin; start + window_ <= region_.end; start += window_) {
            fits.push_back(fitSine(x_, start, start + window_, omega_));
        }
        return fits;
    }

    // Runs of three or more silent samples. A tone can be zero twice in a row (a frame at its
    // zero crossing played twice), and that is judged by its phase like any other break.
    std::vector<Event> dropouts(double amplitude) const {
        std::vector<Event> events;
        const double silence = amplitude * 1e-6;
        std::size_t n = region_.begin;
        while (n < region_.end) {
            if (std::fabs(x_[n]) > silence) {
                ++n;
                continue;
            }
            std::size_t end = n;
            while (end < region_.end && std::fabs(x_[end]) <= silence) {
                ++end;
            }
            if (end - n >= 3) {
                events.push_back(
                    {n,
                     end,
                     {ToneFault::Kind::Dropout, n, static_cast<std::int64_t>(end - n), 0, 0}});
            }
            n = end;
        }
        return events;
    }

    std::vector<Cluster> residualClusters(double amplitude, double glitchThreshold,
                                          const std::vector<Event>& dropouts) const {
        const double c = 2 * std::cos(omega_);
        std::vector<double> residual(region_.end - region_.begin, 0.0);
        std::vector<double> magnitudes;
        for (std::size_t n = region_.begin + 2; n < region_.end; ++n) {
            residual[n - region_.begin] = x_[n] - c * x_[n - 1] + x_[n - 2];
            magnitudes.push_back(std::fabs(residual[n - region_.begin]));
        }
        const double threshold = std::max(glitchThreshold * amplitude, 20 * median(magnitudes));
        const auto inDropout = [&](std::size_t n) {
            return std::any_of(dropouts.begin(), dropouts.end(),
                               [&](const Event& d) { return n + 2 >= d.begin && n < d.end + 2; });
        };
        std::vector<Cluster> clusters;
        for (std::size_t n = region_.begin + 2; n < region_.end; ++n) {
            const double r = std::fabs(residual[n - region_.begin]);
            if (r <= threshold || inDropout(n)) {
                continue;
            }
            if (!clusters.empty() && n <= clusters.back().end + 4) {
                clusters.back().end = n + 1;
                clusters.back().largest = std::max(clusters.back().largest, r);
            } else {
                clusters.push_back({n, n + 1, r});
            }
        }
        return clusters;
    }

    static Event glitch(const Cluster& cluster) {
        return {cluster.begin,
                cluster.end - 1,
                {ToneFault::Kind::Glitch, cluster.begin, 0, cluster.largest, 0}};
    }

    // Fits the tone's phase just before and just after cluster i, between its neighbours (the
    // clusters and the dropouts, both in recording order).
    Event judge(const std::vector<Cluster>& clusters, std::size_t i,
                const std::vector<Event>& dropouts) const {
        constexpr std::size_t kReach = 1024;
        constexpr std::size_t kShortest = 16;
        const Cluster& cluster = clusters[i];
        const std::size_t beforeEnd = cluster.begin;
        const std::size_t afterBegin = cluster.end - 1;
        std::size_t beforeBegin =
            std::max(region_.begin, beforeEnd > kReach ? beforeEnd - kReach : 0);
        std::size_t afterEnd = std::min(region_.end, afterBegin + kReach);
        // A neighbour's residuals reach two samples back from where it starts.
        if (i > 0) {
            beforeBegin = std::max(beforeBegin, clusters[i - 1].end);
        }
        if (i + 1 < clusters.size()) {
            afterEnd = std::min(afterEnd, clusters[i + 1].begin - 2);
        }
        const auto next = std::lower_bound(
            dropouts.begin(), dropouts.end(), cluster.begin,
            [](const Event& dropout, std::size_t at) { return dropout.begin < at; });
        if (next != dropouts.end()) {
            afterEnd = std::min(afterEnd, next->begin);
        }
        if (next != dropouts.begin()) {
            beforeBegin = std::max(beforeBegin, std::prev(next)->end);
        }

        Event event = glitch(cluster);
        if (beforeEnd < beforeBegin + kShortest || afterEnd < afterBegin + kShortest) {
            return event;
        }
        const SineFit before = fitSine(x_, beforeBegin, beforeEnd, omega_);
        const SineFit after = fitSine(x_, afterBegin, afterEnd, omega_);
        if (!before.valid || !after.valid) {
            return event;
        }
        const double step = wrapPhase(after.phase - before.phase);
        if (std::fabs(step) >= omega_ / 2) {
            event.fault.kind = ToneFault::Kind::Discontinuity;
            event.fault.frames = std::lround(step / omega_);
            event.fault.magnitude = step;
        }
        return event;
    }

    // Phase steps between neighbouring windows that no other event explains.
    void addWindowSteps(std::vector<Event>& events) const {
        const auto fits = windowPhases();
        const auto windowStart = [&](std::size_t k) { return region_.begin + k * window_; };
        std::vector<bool> touched(fits.size(), false);
        for (const auto& event : events) {
            const std::size_t from =
                event.begin > region_.begin + 2 ? event.begin - 2 : region_.begin;
            const std::size_t to = std::max(from, std::min(event.end + 2, region_.end));
            for (std::size_t k = (from - region_.begin) / window_;
                 k < touched.size() && k <= (to - region_.begin) / window_; ++k) {
                touched[k] = true;
            }
        }
        const auto explained = [&](std::size_t k) { return touched[k]; };
        std::size_t k = 1;
        while (k < fits.size()) {
            const double step = wrapPhase(fits[k].phase - fits[k - 1].phase);
            if (std::fabs(step) < omega_ / 8 || explained(k - 1) || explained(k)) {
                ++k;
                continue;
            }
            // A step inside a window shows partly on each side of it: add the steps that follow.
            double total = step;
            std::size_t last = k;
            while (last + 1 < fits.size() && !explained(last + 1)) {
                const double next = wrapPhase(fits[last + 1].phase - fits[last].phase);
                if (std::fabs(next) < omega_ / 8) {
                    break;
                }
                total += next;
                ++last;
            }
            if (std::fabs(total) >= omega_ / 2) {
                const std::size_t at = windowStart(k);
                events.push_back(
                    {at,
                     at + 1,
                     {ToneFault::Kind::Discontinuity, at, std::lround(total / omega_), total, 0}});
            }
            k = last + 1;
        }
    }

    const std::vector<double>& x_;
    Extent region_;
    std::size_t window_;
    double omega_;
};

void addFault(ToneReport& report, const ToneFault& fault) {
    ++report.faultCount;
    switch (fault.kind) {
    case ToneFault::Kind::Discontinuity:
        ++report.discontinuities;
        break;
    case ToneFault::Kind::Glitch:
        ++report.glitches;
        break;
    case ToneFault::Kind::Dropout:
        ++report.dropouts;
        break;
    }
    if (report.faults.size() < ToneReport::kMaxListedFaults) {
        report.faults.push_back(fault);
    }
}

} // namespace

ToneReport analyseTone(std::span<const float> samples, const ToneAnalysisOptions& options) {
    ToneReport report;
    report.bounds = checkSampleBounds(samples);
    const std::size_t frames = samples.size() / kChannels;
    report.frames = frames;

    std::array<std::vector<double>, 2> channel{std::vector<double>(frames),
                                               std::vector<double>(frames)};
    for (std::size_t n = 0; n < frames; ++n) {
        for (int c = 0; c < kChannels; ++c) {
            const float v = samples[n * kChannels + c];
            channel[c][n] = std::isfinite(v) ? v : 0.0;
        }
    }
    const auto extent = toneExtent(channel[0], channel[1]);
    if (!extent) {
        report.leadingSilence = frames;
        return report;
    }
    report.leadingSilence = extent->begin;
    report.trailingSilence = frames - extent->end;

    std::array<std::vector<Event>, 2> channelFaults;
    for (int c = 0; c < kChannels; ++c) {
        const auto omega = coarseOmega(channel[c], *extent);
        if (!omega) {
            continue;
        }
        const double period = kTwoPi / *omega;
        const std::size_t edge = options.edgeFrames > 0
                                     ? options.edgeFrames
                                     : std::max<std::size_t>(64, std::lround(2 * period));
        const std::size_t window = std::max<std::size_t>(1024, std::lround(4 * period));
        if (extent->end - extent->begin < 2 * edge + 4 * window) {
            continue;
        }
        const Extent region{extent->begin + edge, extent->end - edge};
        report.edgeFrames = edge;
        report.analysedFrames = region.end - region.begin;

        ChannelAnalysis analysis(channel[c], region, window, *omega);
        analysis.refineFrequency();
        const double amplitude = analysis.fittedAmplitude();
        auto& summary = report.channels[c];
        summary.found = true;
        summary.frequencyHz = analysis.omega() * kSampleRate / kTwoPi;
        summary.levelDbfs = dbfsOfAmplitude(amplitude);
        double sumOfSquares = 0;
        double peak = 0;
        for (std::size_t n = region.begin; n < region.end; ++n) {
            sumOfSquares += channel[c][n] * channel[c][n];
            peak = std::max(peak, std::fabs(channel[c][n]));
        }
        summary.rmsDbfs = dbfsOfAmplitude(
            std::sqrt(2 * sumOfSquares / static_cast<double>(region.end - region.begin)));
        summary.peakDbfs = dbfsOfAmplitude(peak);

        channelFaults[c] = analysis.faults(amplitude, options.glitchThreshold);
    }
    // The same fault in both channels (same kind, within a few frames) is one fault.
    std::vector<ToneFault> merged;
    for (auto& event : channelFaults[0]) {
        event.fault.channels = 1;
    }
    for (auto& event : channelFaults[1]) {
        const auto near =
            std::lower_bound(channelFaults[0].begin(), channelFaults[0].end(), event.begin,
                             [](const Event& e, std::size_t at) { return e.begin + 4 < at; });
        auto same = channelFaults[0].end();
        for (auto it = near; it != channelFaults[0].end() && it->begin <= event.begin + 4; ++it) {
            if (it->fault.kind == event.fault.kind) {
                same = it;
                break;
            }
        }
        if (same != channelFaults[0].end()) {
            same->fault.channels |= 2;
        } else {
            event.fault.channels = 2;
            merged.push_back(event.fault);
        }
    }
    for (const auto& event : channelFaults[0]) {
        merged.push_back(event.fault);
    }
    std::stable_sort(merged.begin(), merged.end(), [](const ToneFault& a, const ToneFault& b) {
        return a.position < b.position;
    });
    for (const auto& fault : merged) {
        addFault(report, fault);
    }
    return report;
}

} // namespace tovanel::signals
