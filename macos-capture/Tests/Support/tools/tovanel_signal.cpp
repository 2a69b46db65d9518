// tovanel_signal: the test signals and their checkers for scripts. It writes a tone or the
// self-numbering signal as raw float32le stereo at 48 kHz (for pacat and friends), and checks a
// raw capture, printing one report line and exiting 0 (pass), 1 (fail) or 2 (usage or I/O error).
#include "signals/frame_numbering.h"
#include "signals/numbering_checker.h"
#include "signals/raw_pcm.h"
#include "signals/signal_reports.h"
#include "signals/sine_generator.h"
#include "signals/stream_format.h"
#include "signals/tone_analysis.h"
#include "signals/wav_writer.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovanel::signals {
namespace {

constexpr int kPass = 0;
constexpr int kFail = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage:\n"
    "  tovanel_signal tone (--seconds S | --frames N | --endless) [--frequency HZ=1000]\n"
    "                 [--level DBFS=-12] [--start-frame N=0] [--lead-in S=0]\n"
    "  tovanel_signal numbered (--seconds S | --frames N | --endless) [--start-index N=0]\n"
    "                 [--lead-in S=0]\n"
    "      write the signal to standard output as raw float32le stereo at 48000 Hz, after\n"
    "      --lead-in seconds of silence (a stream joining a sink that already runs loses its\n"
    "      first few milliseconds on the sink's monitor)\n"
    "  tovanel_signal check-tone FILE [--frequency HZ] [--frequency-tolerance HZ=0.5]\n"
    "                 [--level DBFS] [--level-tolerance DB=0.5] [--min-seconds S=0]\n"
    "                 [--wav-on-failure OUT.wav]\n"
    "  tovanel_signal check-numbered FILE [--tolerance T=0] [--min-frames N=1]\n"
    "                 [--frames N] [--first-index N] [--wav-on-failure OUT.wav]\n"
    "      check a raw capture (FILE may be - for standard input); prints one line and exits\n"
    "      0 on pass, 1 on failure\n"
    "  tovanel_signal wav IN OUT [--pcm16]\n"
    "      convert a raw capture to a WAV file (float, or 16-bit PCM)\n"
    "  tovanel_signal stats FILE\n"
    "      describe any raw capture: duration, peak and RMS level, samples outside the stream's\n"
    "      bounds\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "--name value" options after the positional arguments, each allowed once.
class Options {
  public:
    Options(const std::vector<std::string>& args, std::size_t positional,
            const std::vector<std::string>& valued, const std::vector<std::string>& flags) {
        if (args.size() < positional) {
            throw UsageError("missing argument");
        }
        positional_.assign(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(positional));
        for (std::size_t i = positional; i < args.size(); ++i) {
            const std::string& name = args[i];
            if (values_.count(name) > 0) {
                throw UsageError("option given twice: " + name);
            }
            if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
                values_[name] = "";
            } else if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
                if (i + 1 >= args.size()) {
                    throw UsageError("option needs a value: " + name);
                }
                values_[name] = args[++i];
            } else {
                throw UsageError("unknown argument: " + name);
            }
        }
    }

    const std::string& positional(std::size_t i) const { return positional_[i]; }
    bool has(const std::string& name) const { return values_.count(name) > 0; }

    std::optional<double> number(const std::string& name) const {
        if (!has(name)) {
            return std::nullopt;
        }
        const std::string& text = values_.at(name);
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
            throw UsageError(name + " needs a number, not '" + text + "'");
        }
        return value;
    }

    std::optional<std::uint64_t> count(const std::string& name) const {
        if (!has(name)) {
            return std::nullopt;
        }
        const std::string& text = values_.at(name);
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size()) {
            throw UsageError(name + " needs a whole number, not '" + text + "'");
        }
        return value;
    }

    std::string text(const std::string& name) const { return has(name) ? values_.at(name) : ""; }

  private:
    std::vector<std::string> positional_;
    std::map<std::string, std::string> values_;
};

// Writes every byte to standard output; false once the reader has gone.
bool writeAll(std::span<const float> samples) {
    const auto* data = reinterpret_cast<const char*>(samples.data());
    std::size_t left = samples.size_bytes();
    while (left > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EPIPE) {
                return false;
            }
            throw std::runtime_error(std::string("cannot write standard output: ") +
                                     std::strerror(errno));
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// The number of frames to write, or nothing for an endless signal.
std::optional<std::uint64_t> length(const Options& options) {
    const int given = options.has("--seconds") + options.has("--frames") + options.has("--endless");
    if (given != 1) {
        throw UsageError("give exactly one of --seconds, --frames and --endless");
    }
    if (options.has("--endless")) {
        return std::nullopt;
    }
    if (options.has("--frames")) {
        return *options.count("--frames");
    }
    const double seconds = *options.number("--seconds");
    if (seconds < 0) {
        throw UsageError("--seconds cannot be negative");
    }
    return static_cast<std::uint64_t>(std::llround(seconds * kSampleRate));
}

int generate(const Options& options, const std::function<std::vector<float>(std::size_t)>& next) {
    constexpr std::uint64_t kChunk = 4800;
    const std::optional<std::uint64_t> frames = length(options);
    const double leadIn = options.number("--lead-in").value_or(0);
    if (leadIn < 0 || leadIn > 60) {
        throw UsageError("--lead-in must lie between 0 and 60 seconds");
    }
    const std::vector<float> silence(
        static_cast<std::size_t>(std::llround(leadIn * kSampleRate)) * kChannels, 0.0f);
    if (!writeAll(silence)) {
        return frames ? kFail : kPass;
    }
    std::uint64_t written = 0;
    while (!frames || written < *frames) {
        const std::uint64_t now = frames ? std::min(kChunk, *frames - written) : kChunk;
        if (!writeAll(next(now))) {
            if (!frames) {
                return kPass; // an endless signal ends when its reader goes
            }
            std::fprintf(stderr, "tovanel_signal: the reader went away after %llu of %llu frames\n",
                         static_cast<unsigned long long>(written),
                         static_cast<unsigned long long>(*frames));
            return kFail;
        }
        written += now;
    }
    return kPass;
}

int tone(const std::vector<std::string>& args) {
    const Options options(
        args, 0, {"--seconds", "--frames", "--frequency", "--level", "--start-frame", "--lead-in"},
        {"--endless"});
    SineGenerator generator(options.number("--frequency").value_or(1000),
                            options.number("--level").value_or(-12),
                            options.count("--start-frame").value_or(0));
    return generate(options, [&](std::size_t n) { return generator.next(n); });
}

int numbered(const std::vector<std::string>& args) {
    const Options options(args, 0, {"--seconds", "--frames", "--start-index", "--lead-in"},
                          {"--endless"});
    const std::uint64_t start = options.count("--start-index").value_or(0);
    if (start > 0xFFFFFFFFu) {
        throw UsageError("--start-index must fit in 32 bits");
    }
    NumberedSignalGenerator generator(static_cast<std::uint32_t>(start));
    return generate(options, [&](std::size_t n) { return generator.next(n); });
}

void keepEvidence(const std::string& input, const std::string& wav) {
    if (wav.empty()) {
        return;
    }
    if (input == "-") {
        std::fprintf(stderr, "tovanel_signal: standard input cannot be kept as %s\n", wav.c_str());
        return;
    }
    try {
        writeWavFile(wav, readRawPcmFile(input).samples);
        std::fprintf(stderr, "tovanel_signal: capture kept as %s\n", wav.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tovanel_signal: could not keep the capture: %s\n", error.what());
    }
}

int checkTone(const std::vector<std::string>& args) {
    const Options options(args, 1,
                          {"--frequency", "--frequency-tolerance", "--level", "--level-tolerance",
                           "--min-seconds", "--wav-on-failure"},
                          {});
    ToneExpectations expectations;
    expectations.frequencyHz = options.number("--frequency");
    expectations.frequencyToleranceHz =
        options.number("--frequency-tolerance").value_or(expectations.frequencyToleranceHz);
    expectations.levelDbfs = options.number("--level");
    expectations.levelToleranceDb =
        options.number("--level-tolerance").value_or(expectations.levelToleranceDb);
    expectations.minimumAnalysedFrames = static_cast<std::uint64_t>(
        std::llround(options.number("--min-seconds").value_or(0) * kSampleRate));
    const RawRecording recording = readRawPcmFile(options.positional(0));
    const ToneReport report = analyseTone(recording.samples);
    const auto problems = toneProblems(report, expectations);
    std::printf("%s trailing_bytes=%zu\n", toneReportLine(report, problems).c_str(),
                recording.trailingBytes);
    if (!problems.empty()) {
        keepEvidence(options.positional(0), options.text("--wav-on-failure"));
    }
    return problems.empty() ? kPass : kFail;
}

int checkNumbered(const std::vector<std::string>& args) {
    const Options options(
        args, 1, {"--tolerance", "--min-frames", "--frames", "--first-index", "--wav-on-failure"},
        {});
    NumberingChecker checker(options.number("--tolerance").value_or(0));
    NumberingExpectations expectations;
    expectations.minimumCaptured = options.count("--min-frames").value_or(1);
    expectations.exactCaptured = options.count("--frames");
    if (const auto first = options.count("--first-index")) {
        if (*first > 0xFFFFFFFFu) {
            throw UsageError("--first-index must fit in 32 bits");
        }
        expectations.firstIndex = static_cast<std::uint32_t>(*first);
    }
    const std::string& input = options.positional(0);
    std::FILE* file = input == "-" ? stdin : std::fopen(input.c_str(), "rb");
    if (file == nullptr) {
        throw std::runtime_error("cannot open " + input + ": " + std::strerror(errno));
    }
    std::vector<std::uint8_t> chunk(1 << 16);
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        checker.push({chunk.data(), got});
    }
    const bool failedToRead = std::ferror(file) != 0;
    if (file != stdin) {
        std::fclose(file);
    }
    if (failedToRead) {
        throw std::runtime_error("cannot read " + input);
    }
    const NumberingReport report = checker.finish();
    const auto problems = numberingProblems(report, expectations);
    std::printf("%s\n", numberingReportLine(report, problems).c_str());
    if (!problems.empty()) {
        keepEvidence(input, options.text("--wav-on-failure"));
    }
    return problems.empty() ? kPass : kFail;
}

int convert(const std::vector<std::string>& args) {
    const Options options(args, 2, {}, {"--pcm16"});
    const RawRecording recording = readRawPcmFile(options.positional(0));
    writeWavFile(options.positional(1), recording.samples,
                 options.has("--pcm16") ? WavEncoding::Pcm16 : WavEncoding::Float32);
    if (recording.trailingBytes > 0) {
        std::fprintf(stderr, "tovanel_signal: %zu trailing bytes of a partial frame left out\n",
                     recording.trailingBytes);
    }
    return kPass;
}

// Duration, peak and RMS of any capture (not only of a test signal), for people reading it.
int stats(const std::vector<std::string>& args) {
    const Options options(args, 1, {}, {});
    const RawRecording recording = readRawPcmFile(options.positional(0));
    double peak = 0;
    double sumOfSquares = 0;
    std::size_t outside = 0;
    for (float sample : recording.samples) {
        if (!std::isfinite(sample) || std::fabs(sample) > 0.95f) {
            ++outside;
            continue;
        }
        peak = std::max(peak, static_cast<double>(std::fabs(sample)));
        sumOfSquares += static_cast<double>(sample) * sample;
    }
    const std::size_t frames = recording.samples.size() / 2;
    const double rms =
        recording.samples.empty()
            ? 0.0
            : std::sqrt(sumOfSquares / static_cast<double>(recording.samples.size()));
    const auto dbfs = [](double value) { return value > 0 ? 20.0 * std::log10(value) : -HUGE_VAL; };
    std::printf("duration=%.3fs frames=%zu peak=%.1fdBFS rms=%.1fdBFS outside_bounds=%zu "
                "trailing_bytes=%zu\n",
                static_cast<double>(frames) / 48000.0, frames, dbfs(peak), dbfs(rms), outside,
                recording.trailingBytes);
    return kPass;
}

int run(int argc, char** argv) {
    if (argc < 2) {
        throw UsageError("missing command");
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "tone") {
        return tone(args);
    }
    if (command == "numbered") {
        return numbered(args);
    }
    if (command == "check-tone") {
        return checkTone(args);
    }
    if (command == "check-numbered") {
        return checkNumbered(args);
    }
    if (command == "wav") {
        return convert(args);
    }
    if (command == "stats") {
        return stats(args);
    }
    if (command == "--help" || command == "-h") {
        std::fputs(kUsageText, stdout);
        return kPass;
    }
    throw UsageError("unknown command: " + command);
}

} // namespace
} // namespace tovanel::signals

int main(int argc, char** argv) {
    // A reader that goes away ends generation through EPIPE, not through the signal.
    ::signal(SIGPIPE, SIG_IGN);
    try {
        return tovanel::signals::run(argc, argv);
    } catch (const tovanel::signals::UsageError& error) {
        std::fprintf(stderr, "tovanel_signal: %s\n%s", error.what(), tovanel::signals::kUsageText);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tovanel_signal: %s\n", error.what());
    }
    return tovanel::signals::kUsage;
}
