// tovanel_signal: test signals and checks in plain C++; exits 0 done, 1 failed, 2 misused, 3 lost.
#include <cmath>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>

namespace {

using u64 = unsigned long long;
using Error = std::runtime_error;
using Args = std::map<std::string, std::string>; // positional ones under "0", "1", then options
constexpr int kRate = 48000;

Args parse(int argc, char** argv, int wanted, const std::string& options = "") { // " --a --b "
    Args args;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i - 2 < wanted) {
            args[std::to_string(i - 2)] = arg;
        } else if (options.find(" " + arg + " ") != std::string::npos) {
            args[arg] = arg == "--wav" || i + 1 == argc ? "" : argv[++i];
        } else {
            throw Error("unexpected argument: " + arg);
        }
    }
    return argc - 2 >= wanted ? args : throw Error("missing argument");
}

double number(const Args& args, const std::string& name, const char* fallback = "",
              double low = -1e9, double high = 1e9, bool whole = false) {
    const std::string text = args.contains(name) ? args.at(name) : fallback;
    double v = NAN;
    char more = 0;
    const bool read = std::sscanf(text.c_str(), "%lf%c", &v, &more) == 1;
    return read && v >= low && v <= high && (!whole || v == std::floor(v))
               ? v
               : throw Error("not a valid number: '" + text + "'");
}

bool putWavHeader(u64 frames) { // IEEE float, with the fact chunk such files carry
    const auto le = [](u64 v, int size) { return std::string((const char*)&v, size); };
    const u64 n = frames <= (0xFFFFFFFFu - 50) / 8 ? frames : throw Error("too long for WAV");
    const std::string header = "RIFF" + le(n * 8 + 50, 4) + "WAVEfmt " + le(18, 4) + le(3, 2) +
                               le(2, 2) + le(kRate, 4) + le(kRate * 8, 4) + le(8, 2) + le(32, 2) +
                               le(0, 2) + "fact" + le(4, 4) + le(n, 4) + "data" + le(n * 8, 4);
    return std::fwrite(header.data(), header.size(), 1, stdout) == 1;
}

int emit(u64 frames, bool wav, auto sample) { // frames of sample(frame, channel)
    bool written = !wav || putWavHeader(frames);
    for (u64 i = 0; i < frames && written; ++i) {
        const float frame[] = {sample(i, 0), sample(i, 1)};
        written = std::fwrite(frame, sizeof frame, 1, stdout) == 1;
    }
    return written ? 0 : 1;
}

u64 forEachFrame(const std::string& path, auto use) { // "-": standard input
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    u64 frames = 0;
    for (float frame[2]; file != nullptr && std::fread(frame, sizeof frame, 1, file) == 1;) {
        use(frame, frames++);
    }
    return file != nullptr && !std::ferror(file) ? frames : throw Error("cannot read " + path);
}

int tone(const Args& args) {
    const double step = 2 * std::acos(-1.0) * number(args, "--frequency", "1000", 0) / kRate;
    const double amplitude = std::pow(10.0, number(args, "--level", "-12") / 20);
    return emit(std::llround(number(args, "0", "", 0) * kRate), args.contains("--wav"),
                [&](u64 i, int) { return float(amplitude * std::sin(step * double(i))); });
}

// Frame i holds its low and high 16 bits c as (2c - 65535) / 2^17: exact, never 0, within +-0.5.
int numbered(const Args& args) {
    const auto start = u64(number(args, "--start", "0", 0, 0xFFFFFFFF, true));
    return emit(u64(number(args, "0", "", 0, 0x1p52, true)), false, [&](u64 i, int channel) {
        return float((2.0 * double((start + i) >> (16 * channel) & 0xFFFF) - 65535.0) / 131072.0);
    });
}

long long decode(float sample) { // the code a sample carries (sample * 2^17 is exact), or -1
    const double c = (double(sample) * 131072.0 + 65535.0) / 2;
    return c >= 0 && c <= 65535 && c == std::floor(c) ? (long long)c : -1;
}

// Silence may lead (on one channel too: ports link one by one); frames in order count past a fault.
int checkNumbered(const Args& args) {
    const auto minimum = (long long)number(args, "--min-frames", "1", 0, 0x1p52, true);
    long long silence = 0, numbered = 0, first = -1, expected = 0, due = 0;
    std::string fault;
    const u64 frames = forEachFrame(args.at("0"), [&](const float* s, u64 frame) {
        const long long low = decode(s[0]), high = decode(s[1]);
        const long long index = low < 0 || high < 0 ? -1 : high << 16 | low;
        if (numbered == 0 && (s[0] == 0 || s[1] == 0)) {
            silence += 1;
        } else if (fault.empty() && (index < 0 || (numbered > 0 && index != expected))) {
            fault = " at_frame=" + std::to_string(frame) + ": " +
                    (index >= 0 ? "index " + std::to_string(index)
                                : std::string(s[0] == 0 && s[1] == 0 ? "silence" : "no index")) +
                    " where index " + std::to_string(due = expected) + " was due";
        }
        if (index >= 0 && (numbered == 0 || index >= expected)) {
            first = numbered++ == 0 ? index : first;
            expected = (index + 1) & 0xFFFFFFFF;
        }
    });
    if (fault.empty() && numbered < minimum) {
        fault = ": fewer than " + std::to_string(minimum) + " numbered frames";
    }
    // Lost by the server: the witness (a recorder beside ours) lacks it too, after the one before.
    bool lost = !fault.empty() && due > 0 && args.contains("--witness"), before = false;
    forEachFrame(lost ? args.at("--witness") : "/dev/null", [&](const float* s, u64) {
        const long long index = decode(s[1]) << 16 | decode(s[0]);
        before = before || index + 1 == due;
        lost = lost && index != due;
    });
    lost = lost && before;
    fault += lost ? " (the server lost it: the witness lacks it too)" : "";
    std::printf("numbered %s frames=%llu leading_silence=%lld numbered=%lld first_index=%lld%s\n",
                fault.empty() ? "pass" : "FAIL", frames, silence, numbered, first, fault.c_str());
    return lost ? 3 : fault.empty() ? 0 : 1;
}

int stats(const Args& args) {
    u64 nonfinite = 0, beyond = 0, crossings = 0;
    double peak = 0, squares = 0, first = 0, last = 0, previous = 0;
    const u64 frames = forEachFrame(args.at("0"), [&](const float* s, u64 frame) {
        const double l = std::isfinite(s[0]) ? s[0] : 0, r = std::isfinite(s[1]) ? s[1] : 0;
        nonfinite += !std::isfinite(s[0]) + !std::isfinite(s[1]);
        beyond += (l < -0.95f || l > 0.95f) + (r < -0.95f || r > 0.95f);
        peak = std::fmax(peak, std::fmax(std::fabs(l), std::fabs(r)));
        squares = squares + l * l + r * r;
        if (previous < 0 && l >= 0) { // the left channel rises through zero
            last = double(frame) - previous / (l - previous);
            first = crossings++ == 0 ? last : first;
        }
        previous = l;
    });
    std::printf(
        "frames=%llu seconds=%.3f peak_dbfs=%.2f rms_dbfs=%.2f frequency_hz=%.2f "
        "nonfinite=%llu beyond_bounds=%llu\n",
        frames, double(frames) / kRate, 20 * std::log10(peak),
        20 * std::log10(std::sqrt(squares / std::fmax(1.0, double(frames * 2 - nonfinite)))),
        crossings > 1 ? double(crossings - 1) * kRate / (last - first) : 0, nonfinite, beyond);
    return nonfinite == 0 && beyond == 0 ? 0 : 1;
}

int wav(const Args& args) { // the header written again once the frames are counted
    bool written = std::freopen(args.at("1").c_str(), "wb", stdout) && putWavHeader(0);
    const u64 frames = forEachFrame(args.at("0"), [&](const float* s, u64) {
        written = written && std::fwrite(s, 8, 1, stdout) == 1;
    });
    written = written && std::fseek(stdout, 0, SEEK_SET) == 0 && putWavHeader(frames);
    return written && std::fflush(stdout) == 0 ? 0 : throw Error("cannot write " + args.at("1"));
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        return command == "tone"       ? tone(parse(argc, argv, 1, " --frequency --level --wav "))
               : command == "numbered" ? numbered(parse(argc, argv, 1, " --start "))
               : command == "check-numbered"
                   ? checkNumbered(parse(argc, argv, 1, " --min-frames --witness "))
               : command == "stats" ? stats(parse(argc, argv, 1))
               : command == "wav"   ? wav(parse(argc, argv, 2))
                                    : throw Error("unknown command '" + command + "'");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tovanel_signal: %s\n", error.what());
    }
    return 2;
}
