// The base fixture of tests against the private PulseAudio server.
#include "pulse_test.h"

#include <iostream>

namespace tovanel::test {

void PulseServerTest::SetUp() {
    std::string whyNot;
    server_ = PulseServer::fromEnvironment(whyNot);
    if (!server_) {
        if (underContinuousIntegration()) {
            FAIL() << whyNot << " (CI=true: a missing server is a failure)";
        }
        GTEST_SKIP() << whyNot;
    }
    server_->applyToProcess();
}

void PulseServerTest::TearDown() {
    if (!HasFailure()) {
        return;
    }
    for (const auto& [label, samples] : evidence_) {
        try {
            std::cout << "capture kept as " << saveEvidence(label, samples) << "\n";
        } catch (const std::exception& error) {
            ADD_FAILURE() << "could not keep the capture '" << label << "': " << error.what();
        }
    }
}

void PulseServerTest::keepOnFailure(const std::string& label, std::vector<float> samples) {
    evidence_.emplace_back(label, std::move(samples));
}

} // namespace tovanel::test
