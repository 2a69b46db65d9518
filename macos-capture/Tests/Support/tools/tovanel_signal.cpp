// tovanel_signal: the test signals and their checks, for scripts on Linux and on a Mac, in one
// file with nothing beyond the C++ library. Signals are raw interleaved float32 little-endian
// stereo at 48000 Hz unless said otherwise. Exit status: 0 done or passed, 1 a check failed (or
// the reader went away), 2 a usage error or an unreadable file.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

static_assert(std::endian::native == std::endian::little, "samples are written in host order");
using u64 = unsigned long long;
constexpr int kRate = 48000;
constexpr std::size_t kChunk = 4800; // frames per read or write

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The arguments after the command: positional ones under "0", "1", ..., then options by name.
using Arguments = std::map<std::string, std::string>;

// `wanted` positional arguments, then options of `known`, each with a value except "--wav".
Arguments parse(int argc, char** argv, std::size_t wanted, std::vector<std::string> known = {}) {
    Arguments args;
    std::size_t positional = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (std::count(known.begin(), known.end(), arg) > 0) {
            args[arg] = arg == "--wav" || i + 1 == argc ? "" : argv[++i];
        } else if (positional < wanted && (arg == "-" || arg.rfind("--", 0) != 0)) {
            args[std::to_string(positional++)] = arg;
        } else {
            throw UsageError("unexpected argument: " + arg);
        }
    }
    if (positional != wanted) {
        throw UsageError("missing argument");
    }
    return args;
}

// The number `name` holds (or `fallback`); with `limit`, a whole number from 0 to `limit`.
double number(const Arguments& args, const std::string& name, const char* fallback = "",
              double limit = HUGE_VAL) {
    const std::string text = args.count(name) > 0 ? args.at(name) : fallback;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) ||
        (limit != HUGE_VAL && (value < 0 || value > limit || value != std::floor(value)))) {
        throw UsageError("not a valid number: '" + text + "'");
    }
    return value;
}

std::FILE* openFile(const std::string& path, const char* mode = "rb") {
    std::FILE* file = path == "-" && *mode == 'r' ? stdin : std::fopen(path.c_str(), mode);
    if (file == nullptr) {
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    }
    return file;
}

// Hands `use` the whole frames of `file`, a chunk at a time (a partial last frame is left out).
template <typename Use>
void readFrames(std::FILE* file, Use use) {
    std::vector<float> samples(kChunk * 2);
    while (const std::size_t frames = std::fread(samples.data(), 8, kChunk, file)) {
        use(samples.data(), frames);
    }
    if (std::ferror(file)) {
        throw std::runtime_error(std::string("cannot read: ") + std::strerror(errno));
    }
}

bool write(const void* data, std::size_t bytes, std::FILE* file = stdout) {
    return std::fwrite(data, 1, bytes, file) == bytes;
}

// A WAVE_FORMAT_IEEE_FLOAT header, with the fact chunk such files carry.
bool writeWavHeader(std::FILE* file, u64 frames) {
    if (frames > (0xFFFFFFFFu - 50) / 8) {
        throw std::runtime_error("too long for a WAV file");
    }
    std::string header;
    const auto put = [&](const char* tag, std::uint32_t value, std::size_t size) {
        header.append(tag).append(reinterpret_cast<const char*>(&value), size);
    };
    put("RIFF", static_cast<std::uint32_t>(frames * 8 + 50), 4);
    put("WAVEfmt ", 18, 4);                                                 // format chunk size
    put("", 3, 2), put("", 2, 2), put("", kRate, 4), put("", kRate * 8, 4); // float, stereo
    put("", 8, 2), put("", 32, 2), put("", 0, 2); // bytes per frame, bits per sample
    put("fact", 4, 4), put("", static_cast<std::uint32_t>(frames), 4);
    put("data", static_cast<std::uint32_t>(frames * 8), 4);
    return write(header.data(), header.size(), file);
}

int tone(const Arguments& args) {
    const auto frames = std::llround(number(args, "0") * kRate);
    const double step = 2 * std::numbers::pi * number(args, "--frequency", "1000") / kRate;
    const double amplitude = std::pow(10.0, number(args, "--level", "-12") / 20);
    if (frames < 0 || step <= 0) {
        throw UsageError("a tone needs SECONDS >= 0 and HZ > 0");
    }
    bool written = args.count("--wav") == 0 || writeWavHeader(stdout, static_cast<u64>(frames));
    for (long long i = 0; i < frames && written; ++i) {
        const auto sample = static_cast<float>(amplitude * std::sin(step * static_cast<double>(i)));
        const float frame[] = {sample, sample};
        written = write(frame, sizeof frame);
    }
    return written ? 0 : 1;
}

// The self-numbering signal: frame i carries the low 16 bits of i in its left sample and the high
// 16 bits in its right one. Code c is the sample (2c - 65535) / 2^17: an odd multiple of 2^-17,
// exact in binary32, never zero (silence is never a code) and within +-0.5 (never clamped).
float code(std::uint32_t c) {
    return static_cast<float>((2.0 * c - 65535.0) / 131072.0);
}

// The code a sample carries bit for bit, or -1 (sample * 2^17 is exact for every binary32).
std::int64_t decode(float sample) {
    const double c = (static_cast<double>(sample) * 131072.0 + 65535.0) / 2;
    return c >= 0 && c <= 65535 && c == std::floor(c) ? static_cast<std::int64_t>(c) : -1;
}

int numbered(const Arguments& args) {
    const auto frames = static_cast<u64>(number(args, "0", "", 0x1p52));
    auto index = static_cast<std::uint32_t>(number(args, "--start", "0", 0xFFFFFFFF));
    std::vector<float> samples;
    for (u64 done = 0; done < frames; done += samples.size() / 2) {
        samples.clear();
        for (u64 i = 0; i < kChunk && done + i < frames; ++i, ++index) {
            samples.insert(samples.end(), {code(index & 0xFFFF), code(index >> 16)});
        }
        if (!write(samples.data(), samples.size() * 4)) {
            return 1;
        }
    }
    return 0;
}

// Silence may come before the signal (a recording that starts before it plays); from its first
// frame on, every frame must carry the next index, bit for bit. The first fault is named.
int checkNumbered(const Arguments& args) {
    const auto minimum = static_cast<u64>(number(args, "--min-frames", "1", 0x1p52));
    u64 frames = 0, silence = 0, numbered = 0;
    std::int64_t first = -1, expected = 0;
    std::string fault;
    readFrames(openFile(args.at("0")), [&](const float* s, std::size_t n) {
        for (std::size_t i = 0; i < n && fault.empty(); ++i) {
            const bool silent = s[2 * i] == 0 && s[2 * i + 1] == 0;
            const std::int64_t low = decode(s[2 * i]), high = decode(s[2 * i + 1]);
            const std::int64_t index = low < 0 || high < 0 ? -1 : high << 16 | low;
            if (numbered == 0 && silent) {
                ++silence;
            } else if (index < 0 || (numbered > 0 && index != expected)) {
                const std::string found = silent      ? "silence"
                                          : index < 0 ? "no index"
                                                      : "index " + std::to_string(index);
                fault = " at_frame=" + std::to_string(frames + i) + ": " + found + " where index " +
                        std::to_string(expected) + " was due";
            } else {
                first = numbered++ == 0 ? index : first;
                expected = (index + 1) & 0xFFFFFFFF;
            }
        }
        frames += n;
    });
    if (fault.empty() && numbered < minimum) {
        fault = ": fewer than " + std::to_string(minimum) + " numbered frames";
    }
    std::printf("numbered %s frames=%llu leading_silence=%llu numbered=%llu first_index=%lld%s\n",
                fault.empty() ? "pass" : "FAIL", frames, silence, numbered,
                static_cast<long long>(first), fault.c_str());
    return fault.empty() ? 0 : 1;
}

int stats(const Arguments& args) {
    u64 frames = 0, nonfinite = 0, beyond = 0, crossings = 0;
    double peak = 0, squares = 0, firstCrossing = 0, lastCrossing = 0, previous = 0;
    readFrames(openFile(args.at("0")), [&](const float* s, std::size_t n) {
        for (std::size_t i = 0; i < n * 2; ++i) {
            const double x = std::isfinite(s[i]) ? s[i] : 0;
            nonfinite += std::isfinite(s[i]) ? 0 : 1;
            beyond += x < -0.95f || x > 0.95f ? 1 : 0;
            peak = std::max(peak, std::fabs(x));
            squares += x * x;
            if (i % 2 == 0 && previous < 0 && x >= 0) { // the left channel rises through zero
                lastCrossing = static_cast<double>(frames + i / 2) - previous / (x - previous);
                firstCrossing = crossings++ == 0 ? lastCrossing : firstCrossing;
            }
            previous = i % 2 == 0 ? x : previous;
        }
        frames += n;
    });
    const double rms = std::sqrt(squares / std::max(1.0, double(frames * 2 - nonfinite)));
    const double hz =
        crossings > 1 ? double(crossings - 1) * kRate / (lastCrossing - firstCrossing) : 0;
    std::printf("frames=%llu seconds=%.3f peak_dbfs=%.2f rms_dbfs=%.2f frequency_hz=%.2f "
                "nonfinite=%llu beyond_bounds=%llu\n",
                frames, double(frames) / kRate, 20 * std::log10(peak), 20 * std::log10(rms), hz,
                nonfinite, beyond);
    return nonfinite == 0 && beyond == 0 ? 0 : 1;
}

int wav(const Arguments& args) {
    std::FILE* in = openFile(args.at("0"));
    std::FILE* out = openFile(args.at("1"), "wb");
    const long size = std::fseek(in, 0, SEEK_END) == 0 ? std::ftell(in) : -1;
    std::rewind(in);
    bool written = size >= 0 && writeWavHeader(out, static_cast<u64>(size) / 8);
    readFrames(in,
               [&](const float* s, std::size_t n) { written = written && write(s, n * 8, out); });
    if (std::fclose(out) != 0 || !written) {
        throw std::runtime_error("cannot write " + args.at("1"));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "tone") {
            return tone(parse(argc, argv, 1, {"--frequency", "--level", "--wav"}));
        } else if (command == "numbered") {
            return numbered(parse(argc, argv, 1, {"--start"}));
        } else if (command == "check-numbered") {
            return checkNumbered(parse(argc, argv, 1, {"--min-frames"}));
        } else if (command == "stats" || command == "wav") {
            return command == "wav" ? wav(parse(argc, argv, 2)) : stats(parse(argc, argv, 1));
        }
        throw UsageError("unknown command '" + command + "'");
    } catch (const UsageError& error) {
        std::fprintf(stderr,
                     "tovanel_signal: %s\nusage: tovanel_signal tone SECONDS [--frequency "
                     "HZ] [--level DBFS] [--wav] | numbered FRAMES [--start N] | check-numbered "
                     "FILE|- [--min-frames N] | stats FILE | wav IN OUT\n",
                     error.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tovanel_signal: %s\n", error.what());
    }
    return 2;
}
