// Evidence of a failed capture test: the captured stream saved as a WAV file in the test's
// TMPDIR, named after the test, so that it can be listened to and inspected afterwards.
#pragma once

#include <span>
#include <string>

namespace tovanel::test {

// "$TMPDIR/<Suite>.<Test>-<label>.wav" for the running gtest test (characters other than
// letters, digits, '.', '_' and '-' become '_').
std::string evidencePath(const std::string& label);
// Writes `samples` (interleaved stereo float at 48 kHz) there as a float WAV and returns the path.
// Throws std::runtime_error when it cannot.
std::string saveEvidence(const std::string& label, std::span<const float> samples);

} // namespace tovanel::test
