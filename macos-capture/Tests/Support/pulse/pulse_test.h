// The base fixture of gtest tests against the private PulseAudio server: it finds the server the
// CTest fixture started (skipping with the reason when there is none, failing under CI=true),
// makes the test process a client of that server only, gives each test a scratch directory, and
// keeps the captures a failed test registered as WAV files in TMPDIR.
#pragma once

#include "pulse/capture_evidence.h"
#include "pulse/pulse_environment.h"
#include "test_directory.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tovanel::test {

class PulseServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const PulseServer& server() const { return *server_; }
    const TestDirectory& scratch() const { return scratch_; }
    // Keeps `samples` as "$TMPDIR/<Suite>.<Test>-<label>.wav" if the test fails.
    void keepOnFailure(const std::string& label, std::vector<float> samples);

  private:
    std::optional<PulseServer> server_;
    TestDirectory scratch_;
    std::vector<std::pair<std::string, std::vector<float>>> evidence_;
};

} // namespace tovanel::test
