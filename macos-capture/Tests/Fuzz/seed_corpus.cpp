// Writes every fuzz target's seed corpus, made from the unit tests' cases, as
// <corpus>/<target>/seed-<case>, and the targets' dictionaries as <corpus>/<target>.dict.
//
// Usage: tovanel_fuzz_seeds <corpus directory>
#include "buffer_list_input.h"
#include "device_table.h"
#include "devices/virtual_input_keywords.h"
#include "fuzz_sample_buffer.h"
#include "reference_sanitize.h"
#include "sim/audio_hardware.h"
#include "sim/sample_buffer.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tovanel;
using namespace tovanel::platform;
using fuzz::ByteWriter;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

class Corpus {
  public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}

    void add(const std::string& target, const std::string& name, const Bytes& bytes) {
        const fs::path directory = root_ / target;
        fs::create_directories(directory);
        std::ofstream(directory / ("seed-" + name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        ++written_;
    }
    void dictionary(const std::string& target, const std::vector<std::string>& entries) {
        std::ofstream out(root_ / (target + ".dict"));
        for (const std::string& entry : entries) {
            out << '"';
            for (unsigned char c : entry) {
                if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
                    out << static_cast<char>(c);
                } else {
                    char escaped[5];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                    out << escaped;
                }
            }
            out << "\"\n";
        }
    }
    std::size_t written() const { return written_; }

  private:
    fs::path root_;
    std::size_t written_ = 0;
};

std::uint32_t bitsOf(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

std::vector<float> ramp(std::size_t frames, float start, float step) {
    std::vector<float> values(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        values[i] = start + step * static_cast<float>(i);
    }
    return values;
}

// --- sanitize_fuzzer: the sanitiser tests' values, lengths and alignments ------------------------

Bytes sanitizeInput(std::size_t offset, const std::vector<std::uint32_t>& samples,
                    std::size_t extraBytes = 0) {
    Bytes input{static_cast<std::uint8_t>(offset)};
    for (std::uint32_t sample : samples) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&sample);
        input.insert(input.end(), bytes, bytes + 4);
    }
    input.insert(input.end(), extraBytes, 0xAB);
    return input;
}

void sanitizeSeeds(Corpus& corpus) {
    const std::string target = "sanitize_fuzzer";
    const std::vector<std::uint32_t> edges{0x7FC00000,
                                           0xFFC00000,
                                           0x7F800001,
                                           0xFF800001,
                                           0x7FFFFFFF,
                                           0xFFFFFFFF,
                                           0x7F800000,
                                           0xFF800000,
                                           bitsOf(1.0f),
                                           bitsOf(0.96f),
                                           bitsOf(std::numeric_limits<float>::max()),
                                           bitsOf(-1.0f),
                                           bitsOf(-2.0f),
                                           bitsOf(std::numeric_limits<float>::lowest()),
                                           0x3F733334,
                                           0xBF733334,
                                           0x3F733333,
                                           0xBF733333,
                                           0x3F733332,
                                           0xBF733332,
                                           bitsOf(0.5f),
                                           0x00000000,
                                           0x80000000,
                                           0x00000001,
                                           0x80000001,
                                           0x007FFFFF,
                                           0x00800000};
    for (std::size_t offset = 0; offset < 4; ++offset) {
        corpus.add(target, "edges-offset" + std::to_string(offset), sanitizeInput(offset, edges));
    }
    for (std::size_t length : {0u, 1u, 2u, 3u}) {
        corpus.add(target, "length" + std::to_string(length), sanitizeInput(0, {}, length));
    }
    corpus.add(target, "nine-bytes", sanitizeInput(0, {bitsOf(2.0f), 0x7FC00000}, 1));
    std::mt19937 random(20261206);
    for (std::size_t samples : {1u, 3u, 7u, 253u, 9600u}) {
        std::vector<std::uint32_t> values(samples);
        for (auto& value : values) {
            value = test::randomPatternFromEveryClass(random);
        }
        for (std::size_t offset : {0u, 1u, 5u, 15u}) {
            corpus.add(target,
                       "mixed" + std::to_string(samples) + "-offset" + std::to_string(offset),
                       sanitizeInput(offset, values));
        }
    }
}

// --- buffer_list_fuzzer: the stream-configuration cases of the device tests ----------------------

Bytes withCount(Bytes bytes, std::uint32_t count) {
    std::memcpy(bytes.data(), &count, sizeof count);
    return bytes;
}

void bufferListSeeds(Corpus& corpus) {
    const std::string target = "buffer_list_fuzzer";
    const auto list = sim::SimAudioHardware::bufferList;
    auto cutShort = list({2});
    cutShort.pop_back();
    const std::vector<std::pair<std::string, Bytes>> values{
        {"size-zero", {}},
        {"no-records", list({})},
        {"only-zero-channels", list({0, 0, 0})},
        {"first-has-channels", list({2})},
        {"second-has-channels", list({0, 2})},
        {"last-of-many", list({0, 0, 0, 0, 1})},
        {"count-beyond-records", withCount(list({0, 2}), 3)},
        {"huge-count", withCount(list({2}), 0xFFFFFFFF)},
        {"count-without-room", withCount(Bytes(8), 1)},
        {"count-only", withCount(Bytes(4), 1)},
        {"shorter-than-count", {1, 0}},
        {"record-cut-short", cutShort},
    };
    for (const auto& [name, value] : values) {
        for (bool output : {false, true}) {
            fuzz::BufferListInput input;
            input.outputScope = output;
            input.value = value;
            ByteWriter out;
            input.write(out);
            corpus.add(target, name + (output ? "-output" : "-input"), out.bytes());
        }
    }
    const auto variant = [&](const std::string& name, auto&& change) {
        fuzz::BufferListInput input;
        input.outputScope = true;
        input.value = list({2});
        change(input);
        ByteWriter out;
        input.write(out);
        corpus.add(target, name, out.bytes());
    };
    variant("size-call-fails", [](auto& input) { input.sizeCallFails = true; });
    variant("data-call-fails", [](auto& input) { input.dataCallFails = true; });
    variant("delivers-count-only", [](auto& input) { input.deliverAtMost = 8; });
    variant("announces-more", [](auto& input) { input.announcedSize = 40; });
    variant("announces-less", [](auto& input) { input.announcedSize = 8; });
}

// --- device_search_fuzzer: the device tests' tables ----------------------------------------------

fuzz::DeviceEntry device(std::optional<std::string> name, std::uint32_t inputs,
                         std::uint32_t outputs, std::vector<std::uint32_t> settableElements = {}) {
    fuzz::DeviceEntry entry;
    entry.name = std::move(name);
    if (inputs > 0) {
        entry.input.channels = {inputs};
    }
    if (outputs > 0) {
        entry.output.channels = {outputs};
    }
    for (std::uint32_t element : settableElements) {
        entry.volume[element] = {true, true, false};
    }
    return entry;
}

void deviceSearchSeeds(Corpus& corpus) {
    const std::string target = "device_search_fuzzer";
    const auto add = [&](const std::string& name, const fuzz::DeviceTable& table) {
        ByteWriter out;
        table.write(out);
        corpus.add(target, name, out.bytes());
    };
    const auto table = [](std::vector<fuzz::DeviceEntry> devices,
                          std::optional<std::size_t> defaultIndex = std::nullopt) {
        fuzz::DeviceTable made;
        made.devices = std::move(devices);
        if (defaultIndex) {
            made.defaultOutput =
                static_cast<AudioObjectID>(fuzz::DeviceTable::kFirstIdentifier + *defaultIndex);
        }
        return made;
    };

    add("virtual-first-of-two",
        table({device("Built-in Output", 0, 2, {0}), device("BlackHole 2ch", 2, 2),
               device("BlackHole 16ch", 16, 16)}));
    add("virtual-missing-scopes",
        table({device("Loopback Audio", 2, 0), device("Soundflower (2ch)", 0, 2),
               device(std::nullopt, 2, 2), device("Aggregate Device", 2, 2)}));
    {
        auto undelivered = table({device("BlackHole 2ch", 2, 2), device("Built-in Output", 0, 2)});
        undelivered.listForm = fuzz::DeviceTable::ListForm::identifiers;
        undelivered.listedIdentifiers = {100, 101, 0, 0};
        undelivered.listDeliverAtMost = 4;
        add("list-delivered-short", undelivered);
    }
    {
        auto noList = table({device("BlackHole 2ch", 2, 2), device("Built-in Output", 0, 2, {0})});
        noList.listSizeCallFails = true;
        add("list-size-fails", noList);
        noList.listSizeCallFails = false;
        noList.listDataCallFails = true;
        add("list-data-fails", noList);
    }
    add("physical-prefers-volume",
        table({device("USB DAC", 0, 2), device("External Headphones", 0, 2, {1})}));
    {
        auto onlyDac = table({device("USB DAC", 0, 2), device("External Headphones", 0, 2, {1})});
        onlyDac.listForm = fuzz::DeviceTable::ListForm::identifiers;
        onlyDac.listedIdentifiers = {100};
        add("physical-without-volume", onlyDac);
    }
    add("physical-never-virtual",
        table({device("Aggregate Device", 2, 2, {0}), device(std::nullopt, 0, 2, {0}),
               device("Built-in Microphone", 2, 0, {0})}));
    add("restore-from-virtual",
        table({device("BlackHole 2ch", 2, 2, {0}), device("Built-in Output", 0, 2, {0})}, 0));
    add("restore-leaves-alone",
        table({device("Built-in Output", 0, 2, {0}), device("External Headphones", 0, 2, {0})}, 0));
    add("restore-rewrites-only-output", table({device("USB DAC", 0, 2)}, 0));
    add("restore-to-volume",
        table({device("USB DAC", 0, 2), device("Built-in Output", 0, 2, {2})}, 0));
    add("restore-no-physical",
        table({device("BlackHole 2ch", 2, 2, {0}), device("Multi-Output Device", 0, 2, {0})}, 0));
    add("restore-nameless-default",
        table({device(std::nullopt, 0, 2), device("Built-in Output", 0, 2, {0})}, 0));
    {
        auto noDefault = table({device("Built-in Output", 0, 2, {0})});
        noDefault.defaultOutput = 0;
        add("restore-default-zero", noDefault);
        noDefault.defaultOutputReadFails = true;
        add("restore-default-read-fails", noDefault);
    }
    // Volume elements, as the volume tests set them.
    {
        auto volumes =
            table({device("Element Three", 0, 2, {3}), device("Element Two", 0, 2, {2}),
                   device("Main Not Settable", 0, 2, {1}), device("Query Fails", 0, 2, {0})});
        volumes.devices[2].volume[0] = {true, false, false};
        volumes.devices[3].volume[0].queryFails = true;
        add("volume-elements", volumes);
    }
    // Names of every kind the name tests use, and a very long one.
    add("names", table({device("SOUNDFLOWER (2ch)", 2, 2), device("Multi Output Device", 0, 2),
                        device("\xEB\x8B\xA4\xEC\xA4\x91 \xEC\xB6\x9C\xEB\xA0\xA5 "
                               "\xEA\xB8\xB0\xEA\xB8\xB0",
                               2, 2),
                        device("BLAC\xE2\x84\xAAHOLE", 2, 2),
                        device("\xFF\xFE"
                               "BlackHole\xC3",
                               2, 2),
                        device("\xC0\xAF\xED\xA0\x80\xF8\x88\x80\x80\x80", 0, 2, {0}),
                        device(std::string("Black\0Hole", 10), 2, 2, {0}),
                        device(std::string("\0blackhole", 10), 2, 2), device("", 0, 2),
                        device("USB Audio CODEC", 0, 2)}));
    add("long-name", table({device(std::string(4000, 'x') + "BlackHole", 2, 2),
                            device(std::string(4000, 'y'), 0, 2, {0})}));
    // Device lists of odd sizes, as the device-list tests give them.
    for (const auto& [name, raw] : std::vector<std::pair<std::string, Bytes>>{
             {"list-two-bytes", {1, 2}},
             {"list-ten-bytes", {100, 0, 0, 0, 101, 0, 0, 0, 0xEE, 0xEE}},
             {"list-unknown-ids", {9, 3, 0, 0, 1, 0, 0, 0, 100, 0, 0, 0}}}) {
        auto odd = table({device("BlackHole 2ch", 2, 2), device("Built-in Output", 0, 2)}, 1);
        odd.listForm = fuzz::DeviceTable::ListForm::raw;
        odd.rawList = raw;
        add(name, odd);
    }
    // Malformed stream configurations on devices the searches would otherwise take.
    {
        auto malformed = table({device("BlackHole 2ch", 2, 2), device("Built-in Output", 0, 2)});
        malformed.devices[0].input.raw = withCount(sim::SimAudioHardware::bufferList({2}), 7);
        malformed.devices[1].output.raw = Bytes{1, 0, 0, 0};
        add("malformed-configurations", malformed);
        malformed.devices[0].input.raw.reset();
        malformed.devices[0].output.dataCallFails = true;
        malformed.devices[1].output.raw.reset();
        malformed.devices[1].output.sizeCallFails = true;
        add("failing-configurations", malformed);
    }

    std::vector<std::string> words(virtualInputKeywords.begin(), virtualInputKeywords.end());
    for (const char* extra : {"BlackHole", "Built-in Output", "\xE2\x84\xAA", "\xC3", "\xFF"}) {
        words.emplace_back(extra);
    }
    corpus.dictionary(target, words);
}

// --- sample_conversion_fuzzer and sample_handler_fuzzer: the screen-capture tests' buffers -------

using sim::floatDescription;
using sim::integerDescription;

const AudioStreamBasicDescription kTarget = floatDescription(48000, 2, false);
const AudioStreamBasicDescription kInt16 = integerDescription(44100, 2, true, 16);

// The recipe of a buffer made as the unit tests make theirs, encoded.
Bytes encoded(const std::shared_ptr<sim::ScriptedSampleBuffer>& buffer) {
    ByteWriter out;
    fuzz::SampleBufferRecipe::of(*buffer).write(out);
    return out.bytes();
}

std::shared_ptr<sim::ScriptedSampleBuffer>
rampBuffer(const AudioStreamBasicDescription& description, std::size_t frames,
           sim::SampleBufferFaults faults = {}) {
    std::vector<std::vector<float>> channels(description.mChannelsPerFrame,
                                             ramp(frames, -0.5f, 0.01f));
    return sim::audioSampleBuffer(description, channels, faults);
}

// Named runs of audio sample buffers, each also given with its media faults for the handler.
struct Run {
    std::string name;
    std::vector<Bytes> buffers;
    std::uint8_t handlerOptions = 1; // onStatus present, no media fault
};

std::vector<Run> sampleRuns() {
    std::vector<Run> runs;
    const auto good =
        encoded(sim::audioSampleBuffer(kTarget, {ramp(4, 0, 0.1f), ramp(4, 0, 0.1f)}));
    runs.push_back({"target-480",
                    {encoded(sim::audioSampleBuffer(
                        kTarget, {ramp(480, -0.5f, 0.001f), ramp(480, 0.25f, -0.0005f)}))}});
    runs.push_back(
        {"target-clamped-and-nan",
         {encoded(sim::audioSampleBuffer(kTarget, {{0.1f, 2.0f}, {std::nanf(""), -0.3f}}))}});
    runs.push_back({"capacity-int16-44100", {encoded(rampBuffer(kInt16, 1024))}});
    runs.push_back(
        {"capacity-mono-24000", {encoded(rampBuffer(floatDescription(24000, 1, false), 1024))}});
    runs.push_back({"capacity-interleaved-48000",
                    {encoded(rampBuffer(floatDescription(48000, 2, true), 480))}});
    runs.push_back({"converter-kept-and-replaced",
                    {encoded(rampBuffer(kInt16, 441)), encoded(rampBuffer(kInt16, 441)),
                     encoded(rampBuffer(kTarget, 441)), encoded(rampBuffer(kInt16, 441)),
                     encoded(rampBuffer(floatDescription(44100, 2, true), 441))}});
    // Sample types and layouts the format tests accept, at the target rate and beside it.
    runs.push_back(
        {"int16-planar", {encoded(rampBuffer(integerDescription(44100, 2, false, 16), 64))}});
    runs.push_back(
        {"int24-packed", {encoded(rampBuffer(integerDescription(96000, 2, true, 24), 64))}});
    runs.push_back(
        {"int32-48000", {encoded(rampBuffer(integerDescription(48000, 2, true, 32), 64))}});
    runs.push_back(
        {"float64-48000", {encoded(rampBuffer(floatDescription(48000, 2, true, 64), 64))}});
    runs.push_back(
        {"six-channels", {encoded(rampBuffer(integerDescription(48000, 6, true, 16), 32))}});
    runs.push_back(
        {"sixty-four-channels", {encoded(rampBuffer(floatDescription(48000, 64, true), 8))}});
    runs.push_back(
        {"sixty-four-planar", {encoded(rampBuffer(floatDescription(48000, 64, false), 8))}});
    // Every way one buffer fails, after a good one, as the failure tests deliver them.
    const auto failing = [&](const std::string& name, sim::SampleBufferFaults faults,
                             AudioStreamBasicDescription description = kInt16) {
        runs.push_back({name, {good, encoded(rampBuffer(description, 64, faults)), good}});
    };
    const auto faults = [](std::function<void(sim::SampleBufferFaults&)> set) {
        sim::SampleBufferFaults made;
        set(made);
        return made;
    };
    failing("size-query-fails", faults([](auto& f) { f.sizeQueryStatus = -12731; }));
    failing("size-zero", faults([](auto& f) { f.sizeNeeded = 0; }));
    failing("fill-fails", faults([](auto& f) { f.fillStatus = -12737; }));
    failing("data-missing", faults([](auto& f) { f.nullData = true; }));
    failing("fewer-frames-than-announced", faults([](auto& f) { f.numSamples = 65; }));
    failing("negative-sample-count", faults([](auto& f) { f.numSamples = -1; }));
    failing("no-format-description", faults([](auto& f) { f.withoutFormatDescription = true; }));
    failing("no-stream-description", faults([](auto& f) { f.withoutStreamDescription = true; }));
    failing("more-buffers-announced", faults([](auto& f) { f.announcedBufferCount = 1000; }),
            kTarget);
    auto notPcm = kInt16;
    notPcm.mFormatID = fourCharCode("aac ");
    failing("not-linear-pcm", {}, notPcm);
    // Descriptions at and beyond the edges the format tests name.
    const auto rate = [](double value) {
        auto description = kTarget;
        description.mSampleRate = value;
        return description;
    };
    failing("rate-zero", {}, integerDescription(0, 2, true, 16));
    failing("rate-negative", {}, rate(-48000));
    failing("rate-nan", {}, rate(std::nan("")));
    failing("rate-infinite", {}, rate(std::numeric_limits<double>::infinity()));
    failing("rate-huge", {}, rate(1e300));
    failing("rate-below-convertible", {}, rate(999));
    failing("rate-above-convertible", {}, rate(1536001));
    auto noChannels = kTarget;
    noChannels.mChannelsPerFrame = 0;
    failing("zero-channels", {}, noChannels);
    failing("sixty-five-channels", {}, floatDescription(48000, 65, true));
    // The media faults of the failure tests, for the handler.
    const std::vector<std::pair<std::string, std::uint8_t>> mediaFaults{
        {"no-target-format", 2},  {"no-converter", 4},     {"no-copy-buffer", 8},
        {"no-output-buffer", 16}, {"converter-error", 32}, {"converter-holds-everything", 64}};
    for (const auto& [name, option] : mediaFaults) {
        runs.push_back({"media-" + name,
                        {good, encoded(rampBuffer(kInt16, 64)), good},
                        static_cast<std::uint8_t>(1 | option)});
    }
    runs.push_back({"without-on-status",
                    {encoded(rampBuffer(
                        kInt16, 4, faults([](auto& f) { f.withoutFormatDescription = true; })))},
                    0});
    return runs;
}

void sampleSeeds(Corpus& corpus) {
    for (const Run& run : sampleRuns()) {
        Bytes conversion;
        Bytes handler{run.handlerOptions};
        for (const Bytes& buffer : run.buffers) {
            conversion.insert(conversion.end(), buffer.begin(), buffer.end());
            handler.push_back(1); // an audio buffer
            handler.insert(handler.end(), buffer.begin(), buffer.end());
        }
        corpus.add("sample_conversion_fuzzer", run.name, conversion);
        corpus.add("sample_handler_fuzzer", run.name, handler);
    }
    // Screen buffers are only counted and unknown types ignored, between audio buffers.
    const auto good =
        encoded(sim::audioSampleBuffer(kTarget, {ramp(4, 0, 0.1f), ramp(4, 0, 0.1f)}));
    Bytes mixed{1, 0, 7};
    mixed.push_back(1);
    mixed.insert(mixed.end(), good.begin(), good.end());
    mixed.push_back(0);
    corpus.add("sample_handler_fuzzer", "screen-and-unknown-types", mixed);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: tovanel_fuzz_seeds <corpus directory>\n", stderr);
        return 2;
    }
    Corpus corpus(argv[1]);
    sanitizeSeeds(corpus);
    bufferListSeeds(corpus);
    deviceSearchSeeds(corpus);
    sampleSeeds(corpus);
    std::printf("wrote %zu seed inputs under %s\n", corpus.written(), argv[1]);
    return 0;
}
