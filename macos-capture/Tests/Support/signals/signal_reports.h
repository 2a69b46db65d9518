// Verdicts and one-line reports for the signal checkers, shared by the tool and the tests so both
// judge a capture the same way. A report line is "<signal> <pass|fail> key=value ...", with no
// spaces inside values.
#pragma once

#include "numbering_checker.h"
#include "tone_analysis.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovanel::signals {

struct NumberingExpectations {
    std::uint64_t minimumCaptured = 1;
    std::optional<std::uint64_t> exactCaptured;
    std::optional<std::uint32_t> firstIndex;
};

struct ToneExpectations {
    std::optional<double> frequencyHz;
    double frequencyToleranceHz = 0.5;
    std::optional<double> levelDbfs;
    double levelToleranceDb = 0.5;
    std::uint64_t minimumAnalysedFrames = 1;
};

// What is wrong, as short tokens ("lost_frames", "frequency"); empty means pass.
std::vector<std::string> numberingProblems(const NumberingReport& report,
                                           const NumberingExpectations& expectations = {});
std::vector<std::string> toneProblems(const ToneReport& report,
                                      const ToneExpectations& expectations = {});

std::string describe(const NumberingFault& fault);
std::string describe(const ToneFault& fault);

// "numbered pass captured=... faults=lost:1@1234,..." and "tone pass frequency_hz=L,R ...".
std::string numberingReportLine(const NumberingReport& report,
                                const std::vector<std::string>& problems);
std::string toneReportLine(const ToneReport& report, const std::vector<std::string>& problems);

} // namespace tovanel::signals
