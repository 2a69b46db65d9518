// Verdicts and report lines for the numbering checker and the tone analysis.
#include "signal_reports.h"

#include <cmath>
#include <cstdio>

namespace tovanel::signals {
namespace {

std::string fixed(double value, int decimals) {
    if (!std::isfinite(value)) {
        return value < 0 ? "-inf" : "nan";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : ",") + item;
    }
    return text.empty() ? "none" : text;
}

std::string verdict(const std::vector<std::string>& problems) {
    return problems.empty() ? "pass" : "fail problems=" + joined(problems);
}

std::string optionalNumber(const std::optional<std::uint64_t>& value) {
    return value ? std::to_string(*value) : "none";
}

} // namespace

std::vector<std::string> numberingProblems(const NumberingReport& report,
                                           const NumberingExpectations& expectations) {
    std::vector<std::string> problems;
    if (report.captured < expectations.minimumCaptured) {
        problems.push_back("too_few_frames");
    }
    if (expectations.exactCaptured && report.captured != *expectations.exactCaptured) {
        problems.push_back("captured_count");
    }
    if (expectations.firstIndex && report.firstIndex != expectations.firstIndex) {
        problems.push_back("first_index");
    }
    if (report.lost > 0) {
        problems.push_back("lost_frames");
    }
    if (report.repeated > 0) {
        problems.push_back("repeated_frames");
    }
    if (report.altered > 0) {
        problems.push_back("altered_frames");
    }
    if (report.silent > 0) {
        problems.push_back("silent_frames");
    }
    return problems;
}

std::vector<std::string> toneProblems(const ToneReport& report,
                                      const ToneExpectations& expectations) {
    std::vector<std::string> problems;
    if (!report.bounds.clean()) {
        problems.push_back(report.bounds.nonFinite > 0 ? "non_finite_samples"
                                                       : "samples_out_of_bounds");
    }
    if (!report.found()) {
        problems.push_back("no_tone");
        return problems;
    }
    if (report.analysedFrames < expectations.minimumAnalysedFrames) {
        problems.push_back("too_short");
    }
    for (const auto& channel : report.channels) {
        if (expectations.frequencyHz &&
            !(std::fabs(channel.frequencyHz - *expectations.frequencyHz) <=
              expectations.frequencyToleranceHz)) {
            problems.push_back("frequency");
            break;
        }
    }
    for (const auto& channel : report.channels) {
        if (expectations.levelDbfs && !(std::fabs(channel.levelDbfs - *expectations.levelDbfs) <=
                                        expectations.levelToleranceDb)) {
            problems.push_back("level");
            break;
        }
    }
    if (report.discontinuities > 0) {
        problems.push_back("discontinuities");
    }
    if (report.glitches > 0) {
        problems.push_back("glitches");
    }
    if (report.dropouts > 0) {
        problems.push_back("dropouts");
    }
    return problems;
}

std::string describe(const NumberingFault& fault) {
    const char* kind = "";
    switch (fault.kind) {
    case NumberingFault::Kind::Lost:
        kind = "lost";
        break;
    case NumberingFault::Kind::Repeated:
        kind = "repeated";
        break;
    case NumberingFault::Kind::Altered:
        kind = fault.inserted ? "inserted_altered" : "altered";
        break;
    case NumberingFault::Kind::Silence:
        kind = fault.inserted ? "inserted_silence" : "silence";
        break;
    }
    return std::string(kind) + ":" + std::to_string(fault.frames) + "@" +
           std::to_string(fault.position);
}

std::string describe(const ToneFault& fault) {
    const char* kind = "";
    std::string amount;
    switch (fault.kind) {
    case ToneFault::Kind::Discontinuity:
        kind = fault.frames >= 0 ? "skip" : "repeat";
        amount = std::to_string(fault.frames >= 0 ? fault.frames : -fault.frames);
        break;
    case ToneFault::Kind::Glitch:
        kind = "glitch";
        amount = fixed(fault.magnitude, 6);
        break;
    case ToneFault::Kind::Dropout:
        kind = "dropout";
        amount = std::to_string(fault.frames);
        break;
    }
    return std::string(kind) + ":" + amount + "@" + std::to_string(fault.position);
}

std::string numberingReportLine(const NumberingReport& report,
                                const std::vector<std::string>& problems) {
    std::vector<std::string> faults;
    for (const auto& fault : report.faults) {
        faults.push_back(describe(fault));
    }
    return "numbered " + verdict(problems) + " frames=" + std::to_string(report.frames) +
           " captured=" + std::to_string(report.captured) + " lost=" + std::to_string(report.lost) +
           " repeated=" + std::to_string(report.repeated) +
           " altered=" + std::to_string(report.altered) +
           " silent=" + std::to_string(report.silent) +
           " inserted=" + std::to_string(report.inserted) +
           " leading_silence=" + std::to_string(report.leadingSilence) +
           " trailing_silence=" + std::to_string(report.trailingSilence) +
           " first_index=" + optionalNumber(report.firstIndex) +
           " last_index=" + optionalNumber(report.lastIndex) +
           " trailing_bytes=" + std::to_string(report.trailingBytes) +
           " tolerance=" + fixed(report.tolerance, 9) +
           " fault_count=" + std::to_string(report.faultCount) + " faults=" + joined(faults);
}

std::string toneReportLine(const ToneReport& report, const std::vector<std::string>& problems) {
    std::vector<std::string> faults;
    for (const auto& fault : report.faults) {
        faults.push_back(describe(fault));
    }
    const auto both = [&](auto field, int decimals) {
        return fixed(report.channels[0].*field, decimals) + "," +
               fixed(report.channels[1].*field, decimals);
    };
    return "tone " + verdict(problems) + " frames=" + std::to_string(report.frames) +
           " analysed=" + std::to_string(report.analysedFrames) +
           " leading_silence=" + std::to_string(report.leadingSilence) +
           " trailing_silence=" + std::to_string(report.trailingSilence) +
           " frequency_hz=" + both(&ToneChannelReport::frequencyHz, 4) +
           " level_dbfs=" + both(&ToneChannelReport::levelDbfs, 3) +
           " rms_dbfs=" + both(&ToneChannelReport::rmsDbfs, 3) +
           " peak_dbfs=" + both(&ToneChannelReport::peakDbfs, 3) +
           " non_finite=" + std::to_string(report.bounds.nonFinite) +
           " out_of_bounds=" + std::to_string(report.bounds.outOfBounds) +
           " discontinuities=" + std::to_string(report.discontinuities) +
           " glitches=" + std::to_string(report.glitches) +
           " dropouts=" + std::to_string(report.dropouts) + " faults=" + joined(faults);
}

} // namespace tovanel::signals
