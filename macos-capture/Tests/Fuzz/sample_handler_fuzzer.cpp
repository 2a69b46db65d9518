// Fuzz target: SystemAudioCapture's sample handler over a run of screen, audio and unknown sample
// buffers, with media that may fail in every way the simulation offers. Every write must be whole
// frames of finite samples within -0.95..+0.95 and exactly the sanitised conversion of its buffer
// (a second converter state, fed the same buffers, is the reference); every failure is one status
// line with the counters of that moment; the counters count every buffer and every byte.
//
// Input: one byte of options (bit 0: onStatus present; bits 1 to 6: media faults), then up to 16
// deliveries, each a type byte (0 screen, 1 audio followed by a SampleBufferRecipe, any other value
// an unknown type).
#include "capture/system_audio_capture.h"
#include "fuzz_check.h"
#include "fuzz_platform.h"
#include "fuzz_sample_buffer.h"
#include "pcm/sanitize.h"
#include "probes/system_audio_capture_probe.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {

using namespace tovanel;
using namespace tovanel::platform;
using Probe = SystemAudioCaptureProbe;

constexpr std::size_t kMaxDeliveries = 16;

// Checks every write as it happens and keeps only the last one.
class CheckingOutput final : public OutputHandle {
  public:
    void write(std::span<const std::uint8_t> bytes) override {
        FUZZ_CHECK(!bytes.empty());
        FUZZ_CHECK(bytes.size() % 8 == 0);
        for (std::size_t i = 0; i < bytes.size(); i += 4) {
            float sample;
            std::memcpy(&sample, bytes.data() + i, 4);
            FUZZ_CHECK(std::isfinite(sample) && sample >= -0.95f && sample <= 0.95f);
        }
        last.assign(bytes.begin(), bytes.end());
        ++writes;
        total += bytes.size();
    }

    std::vector<std::uint8_t> last;
    std::size_t writes = 0;
    std::int64_t total = 0;
};

sim::SimMedia::Faults mediaFaults(std::uint8_t options) {
    sim::SimMedia::Faults faults;
    faults.failTargetFormat = options & 2;
    faults.failConverter = options & 4;
    faults.failCopyBuffer = options & 8;
    faults.failOutputBuffer = options & 16;
    if (options & 32) {
        faults.converterError =
            PlatformError{"convertToBuffer", -50, "The converter refused the audio."};
    }
    faults.converterHoldsEverything = options & 64;
    return faults;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& platform = fuzz::FuzzPlatform::forNextInput();
    fuzz::ByteReader reader({data, size});
    const auto options = reader.take<std::uint8_t>();
    platform.media().setFaults(mediaFaults(options));

    const auto output = std::make_shared<CheckingOutput>();
    std::vector<std::string> lines;
    MessageCallback onStatus;
    if (options & 1) {
        onStatus = [&lines](const std::string& line) { lines.push_back(line); };
    }
    const auto source = std::make_shared<SystemAudioCapture>(output, MessageCallback{}, onStatus);

    ConverterState reference;
    std::int64_t screens = 0;
    std::int64_t audios = 0;
    std::int64_t bytes = 0;
    for (std::size_t n = 0; n < kMaxDeliveries && !reader.empty(); ++n) {
        const auto type = reader.take<std::uint8_t>();
        const fuzz::FuzzSampleBuffer buffer(type == 1 ? fuzz::SampleBufferRecipe::read(reader)
                                                      : fuzz::SampleBufferRecipe{});
        const std::size_t writesBefore = output->writes;
        const std::size_t linesBefore = lines.size();
        bool failed = false;

        source->streamDidOutputSampleBuffer(buffer, static_cast<StreamOutputType>(type));

        if (type == 0) {
            ++screens;
        } else if (type == 1) {
            ++audios;
            auto expected = convertToTargetPCM(buffer, reference);
            if (const auto* error = std::get_if<ConversionError>(&expected)) {
                failed = true;
                FUZZ_CHECK(output->writes == writesBefore);
                if (onStatus) {
                    FUZZ_CHECK(lines.size() == linesBefore + 1 &&
                               lines.back() ==
                                   "ok: screenFrames=" + std::to_string(screens) +
                                       " audioBuffers=" + std::to_string(audios) +
                                       " audioBytes=" + std::to_string(bytes) +
                                       " conversionError=" + localizedDescription(*error));
                }
            } else {
                const ByteBlock sanitized =
                    sanitizedInterleavedFloatPCM(std::get<ByteBlock>(expected));
                if (sanitized.empty()) {
                    FUZZ_CHECK(output->writes == writesBefore);
                } else {
                    FUZZ_CHECK(output->writes == writesBefore + 1);
                    FUZZ_CHECK(std::equal(output->last.begin(), output->last.end(),
                                          sanitized.begin(), sanitized.end()));
                    bytes += static_cast<std::int64_t>(sanitized.size());
                }
            }
        }
        FUZZ_CHECK(lines.size() == linesBefore + (failed && onStatus ? 1 : 0));
        FUZZ_CHECK(Probe::screenFrames(*source) == screens);
        FUZZ_CHECK(Probe::audioBuffers(*source) == audios);
        FUZZ_CHECK(Probe::audioBytes(*source) == bytes && output->total == bytes);
        FUZZ_CHECK(Probe::lastAudioDescription(*source) ==
                   (bytes > 0 ? "converted Float32 PCM" : "none"));
    }
    return 0;
}
