// Captured streams kept as WAV evidence under the test's TMPDIR.
#include "capture_evidence.h"

#include "signals/wav_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tovanel::test {
namespace {

std::string safeName(std::string text) {
    for (char& c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!plain) {
            c = '_';
        }
    }
    return text;
}

} // namespace

std::string evidencePath(const std::string& label) {
    const char* base = std::getenv("TMPDIR");
    const std::string directory = base != nullptr && *base != '\0' ? base : "/tmp";
    std::string test = "no-test";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
        test = std::string(info->test_suite_name()) + "." + info->name();
    }
    return directory + "/" + safeName(test + "-" + label) + ".wav";
}

std::string saveEvidence(const std::string& label, std::span<const float> samples) {
    const std::string path = evidencePath(label);
    signals::writeWavFile(path, samples, signals::WavEncoding::Float32);
    return path;
}

} // namespace tovanel::test
