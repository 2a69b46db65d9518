// The input-device source over the simulated platform: device selection and the virtual-input
// requirement, the queue's set-up and each of its failures, the bytes written per buffer, buffer
// re-circulation, the status timer, and buffers arriving while the timer reads the counters.
#include "capture/input_device_audio_capture.h"
#include "probes/input_device_audio_capture_probe.h"
#include "sim/output.h"
#include "sim/sim_platform.h"
#include "status_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tovanel {
namespace {

using namespace platform;
using Probe = InputDeviceAudioCaptureProbe;
using sim::SimAudioHardware;
using sim::SimAudioQueues;
using Call = SimAudioQueues::Call;
using Write = SimAudioHardware::Write;
using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::StrEq;

constexpr const char* kAllowAnyInput = "TOVANEL_ALLOW_ANY_INPUT";
constexpr const char* kRequirement =
    "macOS 13 requires a virtual system-audio device. Set Sound Input to BlackHole 2ch and keep "
    "Sound Output on your speaker, then restart PC Tovanel Sender. Current input: ";
constexpr const char* kBlackHoleFormat = "BlackHole 2ch 48000Hz 2ch CoreAudio input";
constexpr const char* kBanner = "tovanel-input-device-capture started\n";
constexpr std::uint32_t kDefaultInput = kAudioHardwarePropertyDefaultInputDevice;
constexpr std::uint32_t kDefaultOutput = kAudioHardwarePropertyDefaultOutputDevice;
constexpr std::uint32_t kDefaultSystemOutput = kAudioHardwarePropertyDefaultSystemOutputDevice;

// Unsets a variable for the test's length and puts back what it held before.
class ScopedEnvironmentVariable {
  public:
    explicit ScopedEnvironmentVariable(const char* name) : name_(name) {
        if (const char* value = ::getenv(name)) {
            saved_ = value;
        }
        ::unsetenv(name);
    }
    ~ScopedEnvironmentVariable() {
        if (saved_) {
            ::setenv(name_, saved_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

    void set(const char* value) { ::setenv(name_, value, 1); }
    void unset() { ::unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

template <class Sample>
Bytes bytesOf(const std::vector<Sample>& samples) {
    static_assert(sizeof(Sample) == 4);
    Bytes bytes(samples.size() * 4);
    if (!bytes.empty()) {
        std::memcpy(bytes.data(), samples.data(), bytes.size());
    }
    return bytes;
}

Bytes bytesOfBits(std::initializer_list<std::uint32_t> samples) {
    return bytesOf(std::vector<std::uint32_t>(samples));
}

// The stream's rule, written plainly: non-finite samples become +0.0, the rest are clamped to
// -0.95..+0.95, and a trailing partial sample is dropped.
Bytes referenceSanitized(const Bytes& input) {
    Bytes output;
    for (std::size_t offset = 0; offset + 4 <= input.size(); offset += 4) {
        std::uint32_t bits;
        std::memcpy(&bits, input.data() + offset, 4);
        float value;
        std::memcpy(&value, &bits, 4);
        if (((bits >> 23) & 0xFF) == 0xFF) {
            bits = 0;
        } else if (value > 0.95f) {
            bits = 0x3F733333;
        } else if (value < -0.95f) {
            bits = 0xBF733333;
        }
        const auto* sample = reinterpret_cast<const std::uint8_t*>(&bits);
        output.insert(output.end(), sample, sample + 4);
    }
    return output;
}

// `byteCount` bytes of samples that sweep past both bounds, with every kind of non-finite
// value mixed in.
Bytes sweep(std::size_t byteCount, float start = -1.5f) {
    std::vector<float> samples((byteCount + 3) / 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        switch (i % 97) {
        case 13:
            samples[i] = std::numeric_limits<float>::quiet_NaN();
            break;
        case 29:
            samples[i] = std::numeric_limits<float>::infinity();
            break;
        case 71:
            samples[i] = -std::numeric_limits<float>::infinity();
            break;
        default:
            samples[i] = start + static_cast<float>(i % 3001) * 0.001f;
        }
    }
    Bytes bytes = bytesOf(samples);
    bytes.resize(byteCount);
    return bytes;
}

const char* nameOf(Call call) {
    switch (call) {
    case Call::newInput:
        return "newInput";
    case Call::setCurrentDevice:
        return "setCurrentDevice";
    case Call::allocateBuffer:
        return "allocateBuffer";
    case Call::enqueueBuffer:
        return "enqueueBuffer";
    case Call::start:
        return "start";
    }
    return "?";
}

// The queue calls by name, comma-separated.
std::string callNames(const std::vector<SimAudioQueues::CallRecord>& calls) {
    std::string names;
    for (const auto& call : calls) {
        names += (names.empty() ? "" : ",") + std::string(nameOf(call.call));
    }
    return names;
}

class InputCapture : public ::testing::Test {
  protected:
    void TearDown() override {
        // Nothing may reach the source once the test lets it go.
        queues.stopAll();
        if (source) {
            sim::drain(Probe::captureQueue(*source));
        }
    }

    // BlackHole 2ch: 2 in, 2 out.
    AudioObjectID addBlackHole(std::optional<std::string> uid = "BlackHole2ch_UID") {
        return hardware.addDevice({"BlackHole 2ch", std::move(uid), {2}, {2}, {}});
    }
    // A physical output with a settable volume.
    AudioObjectID addSpeakers() {
        return hardware.addDevice({"Built-in Output", "BuiltInSpeakerDevice", {}, {2}, {{0, {}}}});
    }
    // The usual machine: BlackHole 2ch beside the speakers, sound going to the speakers.
    AudioObjectID addUsualDevices() {
        const AudioObjectID blackHole = addBlackHole();
        hardware.setDefault(kDefaultOutput, addSpeakers());
        return blackHole;
    }

    void makeSource(MessageCallback onFailure = {}, bool withStatus = true) {
        source = std::make_shared<InputDeviceAudioCapture>(
            output, std::move(onFailure), withStatus ? status.callback() : MessageCallback{});
    }
    // Runs start and the set-up it queues on the main queue.
    void startAndRunMainJobs() {
        source->start();
        platform.dispatch.runMainJobs();
    }
    // The same, returning what went to stderr meanwhile (not for death tests: the capture would
    // swallow the fail line).
    std::string startAndSetUp() {
        ::testing::internal::CaptureStderr();
        startAndRunMainJobs();
        return ::testing::internal::GetCapturedStderr();
    }
    // An onFailure that reports on stderr, after the fail line, what it got, which queue calls
    // were made and the last status line.
    MessageCallback reportingOnFailure() {
        return [this](const std::string& message) {
            std::fputs(("[onFailure:" + message + "][calls:" + callNames(queues.calls()) +
                        "][last:" + status.last() + "]")
                           .c_str(),
                       stderr);
        };
    }

    AudioQueueRef theQueue() const {
        const auto made = queues.queues();
        return made.size() == 1 ? made.front() : nullptr;
    }
    std::size_t bufferIndex(AudioQueueBufferRef buffer) const {
        const auto buffers = queues.buffersOf(theQueue());
        return static_cast<std::size_t>(std::find(buffers.begin(), buffers.end(), buffer) -
                                        buffers.begin());
    }
    // The buffers enqueued since call number `from`, as indices into the queue's buffers.
    std::vector<std::size_t> enqueuedSince(std::size_t from) const {
        std::vector<std::size_t> indices;
        const auto calls = queues.calls();
        for (std::size_t i = from; i < calls.size(); ++i) {
            if (calls[i].call == Call::enqueueBuffer) {
                indices.push_back(bufferIndex(calls[i].buffer));
            }
        }
        return indices;
    }
    // Hands each entry to the queue and waits until it has handled them all.
    std::size_t deliverAll(const std::vector<Bytes>& buffers) {
        for (const Bytes& bytes : buffers) {
            queues.deliver(theQueue(), bytes);
        }
        return queues.waitUntilIdle(theQueue());
    }
    // One tick of the status timer; returns the line it reported.
    std::string tick() {
        platform.dispatch.fireTimers();
        sim::drain(Probe::captureQueue(*source));
        return status.last();
    }

    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    SimAudioHardware& hardware = platform.audioHardware;
    SimAudioQueues& queues = platform.audioQueues;
    ScopedEnvironmentVariable allowAnyInput{kAllowAnyInput};
    std::shared_ptr<sim::RecordingOutput> output = std::make_shared<sim::RecordingOutput>();
    test::StatusLog status;
    std::shared_ptr<InputDeviceAudioCapture> source;
};

// --- Selection and set-up -------------------------------------------------------------------

struct SelectionCase {
    const char* name;
    bool outputOnBlackHole; // the default output starts on the virtual device
    const char* selectionLine;
};

class Selection : public InputCapture, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, ReportsEveryLineInOrderOpensTheQueueAndWritesTheBanner) {
    const AudioObjectID blackHole = addBlackHole();
    const AudioObjectID speakers = addSpeakers();
    hardware.setDefault(kDefaultOutput, GetParam().outputOnBlackHole ? blackHole : speakers);
    makeSource();

    ::testing::internal::CaptureStderr();
    source->start();
    // start returns before capture runs: the set-up waits on the main queue.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_THAT(status.lines(), ElementsAre(GetParam().selectionLine,
                                            "ok: opening virtual input device BlackHole 2ch"));
    EXPECT_EQ(platform.dispatch.pendingMainJobs(), 1u);
    EXPECT_THAT(queues.calls(), IsEmpty());

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(platform.dispatch.runMainJobs(), 1u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), kBanner);
    sim::drain(Probe::captureQueue(*source)); // the timer's first tick
    const std::string format =
        std::string("ok: inputBuffers=0 audioBytes=0 format=") + kBlackHoleFormat;
    EXPECT_THAT(status.lines(), ElementsAre(GetParam().selectionLine,
                                            "ok: opening virtual input device BlackHole 2ch",
                                            "ok: opening CoreAudio input queue", format, format));

    std::vector<Write> writes{{kDefaultInput, blackHole}};
    if (GetParam().outputOnBlackHole) {
        writes.push_back({kDefaultOutput, speakers});
        writes.push_back({kDefaultSystemOutput, speakers});
    }
    EXPECT_EQ(hardware.writes(), writes);
    EXPECT_EQ(Probe::selectedDeviceID(*source), blackHole);
    EXPECT_EQ(Probe::selectedDeviceName(*source), "BlackHole 2ch");
    EXPECT_EQ(Probe::selectedDeviceUID(*source), "BlackHole2ch_UID");
    EXPECT_EQ(Probe::lastFormatDescription(*source), kBlackHoleFormat);
}

INSTANTIATE_TEST_SUITE_P(
    BlackHole, Selection,
    ::testing::Values(SelectionCase{"OutputOnSpeakers", false,
                                    "ok: selected virtual system-audio input BlackHole 2ch"},
                      SelectionCase{
                          "OutputRestored", true,
                          "ok: selected virtual system-audio input BlackHole 2ch, restored output "
                          "Built-in Output"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InputCapture, QueueIsMadeBoundPrimedOneSlotAtATimeAndStartedInThatOrder) {
    addUsualDevices();
    makeSource();
    startAndSetUp();

    const AudioQueueRef queue = theQueue();
    ASSERT_NE(queue, nullptr);
    const auto calls = queues.calls();
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(callNames(calls), "newInput,setCurrentDevice,allocateBuffer,enqueueBuffer,"
                                "allocateBuffer,enqueueBuffer,allocateBuffer,enqueueBuffer,start");

    const AudioStreamBasicDescription expected{48000.0, fourCharCode("lpcm"), 9, 8, 1, 8, 2, 32, 0};
    EXPECT_EQ(calls[0].format, expected);
    EXPECT_EQ(calls[0].callback, &InputDeviceAudioCapture::inputCallback);
    EXPECT_EQ(calls[0].userData, source.get());
    EXPECT_EQ(calls[1].deviceUID, "BlackHole2ch_UID");
    const auto buffers = queues.buffersOf(queue);
    ASSERT_EQ(buffers.size(), 3u);
    for (std::size_t slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(calls[2 + 2 * slot].byteSize, 38400u) << slot;
        EXPECT_EQ(calls[3 + 2 * slot].buffer, buffers[slot]) << slot;
        EXPECT_EQ(buffers[slot]->mAudioDataBytesCapacity, 38400u) << slot;
    }
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].queue, queue) << i;
    }
    EXPECT_EQ(Probe::audioQueue(*source), queue);
    EXPECT_THAT(Probe::audioQueueBuffers(*source), ElementsAreArray(buffers));

    EXPECT_TRUE(Probe::hasStatusTimer(*source));
    const auto timers = platform.dispatch.timers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].queueLabel, "tovanel.input-device.capture");
    EXPECT_EQ(timers[0].interval, std::chrono::seconds(1));
}

TEST_F(InputCapture, DeviceWithoutReadableUIDIsSelectedBySecondAttemptAndQueueIsNotBound) {
    const AudioObjectID blackHole = addBlackHole(std::nullopt);
    hardware.setDefault(kDefaultOutput, addSpeakers());
    makeSource();
    EXPECT_EQ(startAndSetUp(), kBanner);
    sim::drain(Probe::captureQueue(*source));

    const std::string format =
        std::string("ok: inputBuffers=0 audioBytes=0 format=") + kBlackHoleFormat;
    EXPECT_THAT(status.lines(), ElementsAre("ok: selected virtual system-audio input BlackHole 2ch",
                                            "ok: opening virtual input device BlackHole 2ch",
                                            "ok: opening CoreAudio input queue", format, format));
    // Made the default input once, by the second attempt, so the unbound queue records it.
    EXPECT_EQ(hardware.writes(), (std::vector<Write>{{kDefaultInput, blackHole}}));
    EXPECT_EQ(callNames(queues.calls()), "newInput,allocateBuffer,enqueueBuffer,allocateBuffer,"
                                         "enqueueBuffer,allocateBuffer,enqueueBuffer,start");
    EXPECT_EQ(Probe::selectedDeviceID(*source), std::nullopt);
    EXPECT_EQ(Probe::selectedDeviceUID(*source), std::nullopt);
    EXPECT_EQ(Probe::selectedDeviceName(*source), "BlackHole 2ch");
}

TEST_F(InputCapture, AllowAnyInputOfExactlyOneRecordsTheCurrentDefaultInput) {
    // No virtual device: a microphone and the speakers.
    hardware.addDevice({"USB Audio CODEC", "usb-codec", {2}, {2}, {{0, {}}}});
    hardware.setDefault(kDefaultOutput, addSpeakers());
    allowAnyInput.set("1");
    makeSource();
    EXPECT_EQ(startAndSetUp(), kBanner);
    sim::drain(Probe::captureQueue(*source));

    const std::string format =
        "ok: inputBuffers=0 audioBytes=0 format=Unknown Input 48000Hz 2ch CoreAudio input";
    EXPECT_THAT(status.lines(), ElementsAre("ok: opening virtual input device Unknown Input",
                                            "ok: opening CoreAudio input queue", format, format));
    EXPECT_THAT(hardware.writes(), IsEmpty());
    EXPECT_EQ(callNames(queues.calls()), "newInput,allocateBuffer,enqueueBuffer,allocateBuffer,"
                                         "enqueueBuffer,allocateBuffer,enqueueBuffer,start");
}

TEST_F(InputCapture, WithoutOnStatusNothingIsReportedButTheBannerIsWritten) {
    addUsualDevices();
    makeSource({}, false);
    EXPECT_EQ(startAndSetUp(), kBanner);
    sim::drain(Probe::captureQueue(*source));
    EXPECT_THAT(status.lines(), IsEmpty());
    EXPECT_EQ(Probe::lastFormatDescription(*source), kBlackHoleFormat);
    EXPECT_NE(theQueue(), nullptr);
}

// --- The virtual-input requirement ----------------------------------------------------------

struct RequirementCase {
    const char* name;
    const char* allowAnyInput; // null: unset
};

class Requirement : public InputCapture, public ::testing::WithParamInterface<RequirementCase> {};

TEST_P(Requirement, OnlyExactlyOneLiftsItAndNoQueueIsMade) {
    // A non-virtual device with both directions is never selected.
    hardware.addDevice({"USB Audio CODEC", "usb-codec", {2}, {2}, {{0, {}}}});
    hardware.setDefault(kDefaultOutput, addSpeakers());
    if (GetParam().allowAnyInput != nullptr) {
        allowAnyInput.set(GetParam().allowAnyInput);
    }
    makeSource(reportingOnFailure());
    const std::string message = std::string(kRequirement) + "Unknown Input";
    EXPECT_EXIT(startAndRunMainJobs(), ::testing::ExitedWithCode(1),
                StrEq("tovanel-input-device-capture: " + message + "\n[onFailure:" + message +
                      "][calls:][last:]"));
}

INSTANTIATE_TEST_SUITE_P(
    Values, Requirement,
    ::testing::Values(RequirementCase{"Unset", nullptr}, RequirementCase{"Empty", ""},
                      RequirementCase{"True", "true"}, RequirementCase{"Yes", "yes"},
                      RequirementCase{"Zero", "0"}, RequirementCase{"LeadingZero", "01"},
                      RequirementCase{"BlankBefore", " 1"}, RequirementCase{"BlankAfter", "1 "},
                      RequirementCase{"Eleven", "11"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InputCapture, RequirementIsReadAgainWhenTheQueueIsSetUp) {
    allowAnyInput.set("1");
    makeSource(reportingOnFailure());
    const std::string message = std::string(kRequirement) + "Unknown Input";
    EXPECT_EXIT(
        {
            source->start();
            allowAnyInput.set("yes");
            platform.dispatch.runMainJobs();
        },
        ::testing::ExitedWithCode(1),
        StrEq("tovanel-input-device-capture: " + message + "\n[onFailure:" + message +
              "][calls:][last:ok: opening CoreAudio input queue]"));
}

// --- Queue set-up failures ------------------------------------------------------------------

struct QueueFailureCase {
    const char* name;
    Call call;
    int occurrence;
    std::optional<OSStatus> status; // none: status 0 without the call's result
    const char* message;
    const char* callsMade;
};

class QueueFailure : public InputCapture, public ::testing::WithParamInterface<QueueFailureCase> {};

TEST_P(QueueFailure, EndsTheProcessWithTheCallAndItsSignedStatus) {
    addUsualDevices();
    const auto& param = GetParam();
    if (param.status) {
        queues.failCall(param.call, *param.status, param.occurrence);
    } else {
        queues.succeedWithoutResult(param.call, param.occurrence);
    }
    makeSource(reportingOnFailure());
    EXPECT_EXIT(startAndRunMainJobs(), ::testing::ExitedWithCode(1),
                StrEq(std::string("tovanel-input-device-capture: ") + param.message +
                      "\n[onFailure:" + param.message + "][calls:" + param.callsMade +
                      "][last:ok: opening CoreAudio input queue]"));
}

INSTANTIATE_TEST_SUITE_P(
    EveryCall, QueueFailure,
    ::testing::Values(
        QueueFailureCase{"NewInputRejectsTheFormat", Call::newInput, 1, -50,
                         "AudioQueueNewInput failed: -50", "newInput"},
        QueueFailureCase{"NewInputPositiveStatus", Call::newInput, 1,
                         static_cast<OSStatus>(fourCharCode("fmt?")),
                         "AudioQueueNewInput failed: 1718449215", "newInput"},
        QueueFailureCase{"NewInputYieldsNoQueue", Call::newInput, 1, std::nullopt,
                         "AudioQueueNewInput failed: 0", "newInput"},
        QueueFailureCase{"SetCurrentDevice", Call::setCurrentDevice, 1, -66680,
                         "AudioQueueSetProperty CurrentDevice failed: -66680",
                         "newInput,setCurrentDevice"},
        QueueFailureCase{"AllocateFirstBuffer", Call::allocateBuffer, 1, -108,
                         "AudioQueueAllocateBuffer failed: -108",
                         "newInput,setCurrentDevice,allocateBuffer"},
        QueueFailureCase{"ThirdSlotStaysEmpty", Call::allocateBuffer, 3, std::nullopt,
                         "AudioQueueAllocateBuffer failed: 0",
                         "newInput,setCurrentDevice,allocateBuffer,enqueueBuffer,allocateBuffer,"
                         "enqueueBuffer,allocateBuffer"},
        QueueFailureCase{"EnqueueSecondBufferThirdNeverAllocated", Call::enqueueBuffer, 2, -66687,
                         "AudioQueueEnqueueBuffer failed: -66687",
                         "newInput,setCurrentDevice,allocateBuffer,enqueueBuffer,allocateBuffer,"
                         "enqueueBuffer"},
        QueueFailureCase{"StartWithTheMostNegativeStatus", Call::start, 1,
                         std::numeric_limits<OSStatus>::min(),
                         "AudioQueueStart failed: -2147483648",
                         "newInput,setCurrentDevice,allocateBuffer,enqueueBuffer,allocateBuffer,"
                         "enqueueBuffer,allocateBuffer,enqueueBuffer,start"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Buffers: bytes written, counters, hand-back --------------------------------------------

struct BufferCase {
    const char* name;
    Bytes delivered;
    Bytes written; // every byte written, in order
    std::vector<std::size_t> writeSizes;
    std::int64_t inputBuffers;
    std::int64_t audioBytes;
};

class BufferHandling : public InputCapture, public ::testing::WithParamInterface<BufferCase> {
  protected:
    void SetUp() override {
        addUsualDevices();
        makeSource();
        startAndSetUp();
        sim::drain(Probe::captureQueue(*source));
    }
};

TEST_P(BufferHandling, WritesTheSanitisedBytesOnceCountsThemAndHandsTheBufferBack) {
    const auto& param = GetParam();
    const std::size_t callsBefore = queues.calls().size();
    const std::size_t linesBefore = status.lines().size();

    EXPECT_EQ(deliverAll({param.delivered}), 1u);

    EXPECT_EQ(output->bytes(), param.written);
    EXPECT_EQ(output->writeSizes(), param.writeSizes);
    EXPECT_EQ(Probe::inputBuffers(*source), param.inputBuffers);
    EXPECT_EQ(Probe::audioBytes(*source), param.audioBytes);
    // The first buffer filled is the first enqueued; it goes back behind the other two.
    EXPECT_THAT(enqueuedSince(callsBefore), ElementsAre(0u));
    EXPECT_EQ(queues.calls().size(), callsBefore + 1);
    const auto buffers = queues.buffersOf(theQueue());
    EXPECT_THAT(queues.enqueuedBuffersOf(theQueue()),
                ElementsAre(buffers[1], buffers[2], buffers[0]));
    EXPECT_EQ(status.lines().size(), linesBefore);
    EXPECT_EQ(tick(), "ok: inputBuffers=" + std::to_string(param.inputBuffers) + " audioBytes=" +
                          std::to_string(param.audioBytes) + " format=" + kBlackHoleFormat);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BufferHandling,
    ::testing::Values(
        BufferCase{"Empty", {}, {}, {}, 0, 0}, BufferCase{"OneByte", {0x01}, {}, {0}, 1, 0},
        BufferCase{"TwoBytes", {0x01, 0x02}, {}, {0}, 1, 0},
        BufferCase{"ThreeBytes", {0xFF, 0xFF, 0xFF}, {}, {0}, 1, 0},
        // 0.5 passes, 2.0 is clamped, the two trailing bytes are dropped.
        BufferCase{"TenBytes",
                   [] {
                       Bytes bytes = bytesOfBits({0x3F000000, 0x40000000});
                       bytes.insert(bytes.end(), {0xAA, 0xBB});
                       return bytes;
                   }(),
                   bytesOfBits({0x3F000000, 0x3F733333}),
                   {8},
                   1,
                   8},
        // NaN, infinities, values past both bounds, -0.0 and a subnormal.
        BufferCase{"EdgeValues",
                   bytesOfBits({0x7FC00000, 0xFF800001, 0x7F800000, 0xFF800000, 0xBF800000,
                                0x80000000, 0x00000001, 0x3F733333}),
                   bytesOfBits({0, 0, 0, 0, 0xBF733333, 0x80000000, 0x00000001, 0x3F733333}),
                   {32},
                   1,
                   32},
        BufferCase{
            "FullBuffer", sweep(38400), referenceSanitized(sweep(38400)), {38400}, 1, 38400}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InputCapture, BuffersCirculateInOrderAndEveryOneIsWrittenOnceInTheOrderHandled) {
    addUsualDevices();
    makeSource();
    startAndSetUp();
    const std::size_t callsBefore = queues.calls().size();

    std::vector<Bytes> delivered;
    Bytes expected;
    std::vector<std::size_t> expectedSizes;
    for (std::size_t i = 0; i < 7; ++i) {
        delivered.push_back(sweep(8 * (i + 1), -1.0f + 0.25f * static_cast<float>(i)));
        const Bytes written = referenceSanitized(delivered.back());
        expected.insert(expected.end(), written.begin(), written.end());
        expectedSizes.push_back(written.size());
    }
    EXPECT_EQ(deliverAll(delivered), 7u);

    EXPECT_EQ(output->bytes(), expected);
    EXPECT_EQ(output->writeSizes(), expectedSizes);
    EXPECT_THAT(enqueuedSince(callsBefore), ElementsAre(0u, 1u, 2u, 0u, 1u, 2u, 0u));
    EXPECT_EQ(Probe::inputBuffers(*source), 7);
    EXPECT_EQ(Probe::audioBytes(*source), 8 * (1 + 2 + 3 + 4 + 5 + 6 + 7));
}

TEST_F(InputCapture, TwelveFullBuffersShowInTheNextTimerLine) {
    addUsualDevices();
    makeSource();
    startAndSetUp();
    EXPECT_EQ(deliverAll(std::vector<Bytes>(12, sweep(38400))), 12u);
    EXPECT_EQ(tick(),
              std::string("ok: inputBuffers=12 audioBytes=460800 format=") + kBlackHoleFormat);
}

TEST_F(InputCapture, ByteCountBeyondTheBufferIsNeverRead) {
    addUsualDevices();
    makeSource();
    startAndSetUp();
    const Bytes full = sweep(38400);
    queues.deliverClaiming(theQueue(), full, 38404);
    queues.deliverClaiming(theQueue(), full, 0xFFFFFFFF);
    EXPECT_EQ(queues.waitUntilIdle(theQueue()), 2u);

    Bytes expected = referenceSanitized(full);
    expected.insert(expected.end(), expected.begin(), expected.end());
    EXPECT_EQ(output->bytes(), expected);
    EXPECT_EQ(Probe::audioBytes(*source), 2 * 38400);
}

TEST_F(InputCapture, WithoutOnStatusBuffersAreStillWrittenAndCounted) {
    addUsualDevices();
    makeSource({}, false);
    startAndSetUp();
    queues.failCall(Call::enqueueBuffer, -66632, 4); // a silent failure without onStatus

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(deliverAll({sweep(10), sweep(38400)}), 2u);
    tick();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    Bytes expected = referenceSanitized(sweep(10));
    const Bytes second = referenceSanitized(sweep(38400));
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(output->bytes(), expected);
    EXPECT_EQ(Probe::inputBuffers(*source), 2);
    EXPECT_EQ(Probe::audioBytes(*source), 8 + 38400);
    EXPECT_THAT(status.lines(), IsEmpty());
}

// --- The callback's guards ------------------------------------------------------------------

class CallbackGuards : public InputCapture {
  protected:
    void SetUp() override {
        addUsualDevices();
        makeSource();
        startAndSetUp();
        sim::drain(Probe::captureQueue(*source));
        callsBefore = queues.calls().size();
        linesBefore = status.lines().size();
    }
    void expectNothingHappened() {
        EXPECT_THAT(output->writeSizes(), IsEmpty());
        EXPECT_EQ(Probe::inputBuffers(*source), 0);
        EXPECT_EQ(Probe::audioBytes(*source), 0);
        EXPECT_EQ(queues.calls().size(), callsBefore); // not even a re-enqueue
        EXPECT_EQ(status.lines().size(), linesBefore);
    }
    // A filled buffer of the queue's, as the callback would get it.
    AudioQueueBufferRef filledBuffer() {
        AudioQueueBufferRef buffer = queues.buffersOf(theQueue())[0];
        std::memset(buffer->mAudioData, 0, 16);
        buffer->mAudioDataByteSize = 16;
        return buffer;
    }

    std::size_t callsBefore = 0;
    std::size_t linesBefore = 0;
};

TEST_F(CallbackGuards, NullUserDataDoesNothing) {
    InputDeviceAudioCapture::inputCallback(nullptr, theQueue(), filledBuffer(), nullptr, 0,
                                           nullptr);
    expectNothingHappened();
}

TEST_F(CallbackGuards, NullBufferDoesNothing) {
    InputDeviceAudioCapture::inputCallback(source.get(), theQueue(), nullptr, nullptr, 0, nullptr);
    expectNothingHappened();
}

TEST_F(CallbackGuards, SourceThatCannotBeHeldDoesNothing) {
    // Not owned by a shared_ptr, so no strong reference can be taken for the call.
    auto elsewhere = std::make_shared<sim::RecordingOutput>();
    InputDeviceAudioCapture unowned(elsewhere, {}, status.callback());
    InputDeviceAudioCapture::inputCallback(&unowned, theQueue(), filledBuffer(), nullptr, 0,
                                           nullptr);
    expectNothingHappened();
    EXPECT_THAT(elsewhere->writeSizes(), IsEmpty());
}

TEST_F(CallbackGuards, BufferWithoutDataIsNotReadAndARefusedHandBackIsReported) {
    // Not one of the queue's buffers, so handing it back fails.
    AudioQueueBuffer foreign{8, nullptr, 8, nullptr, 0, nullptr, 0};
    InputDeviceAudioCapture::inputCallback(source.get(), theQueue(), &foreign, nullptr, 0, nullptr);
    EXPECT_THAT(output->writeSizes(), IsEmpty());
    EXPECT_EQ(Probe::inputBuffers(*source), 0);
    ASSERT_EQ(queues.calls().size(), callsBefore + 1);
    EXPECT_EQ(queues.calls().back().buffer, &foreign);
    EXPECT_EQ(status.last(), "ok: inputBuffers=0 audioBytes=0 enqueueError=-66687");
}

// --- Failed re-enqueues ---------------------------------------------------------------------

TEST_F(InputCapture, FailedHandBackReportsOneLineAndTheOtherBuffersCarryOn) {
    addUsualDevices();
    makeSource();
    startAndSetUp();
    sim::drain(Probe::captureQueue(*source));
    const std::size_t linesBefore = status.lines().size();
    const std::size_t callsBefore = queues.calls().size();
    queues.failCall(Call::enqueueBuffer, -66632, 4); // buffer 0's first hand-back

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(deliverAll(std::vector<Bytes>(5, sweep(8))), 5u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    const auto lines = status.lines();
    ASSERT_EQ(lines.size(), linesBefore + 1);
    EXPECT_EQ(lines.back(), "ok: inputBuffers=1 audioBytes=8 enqueueError=-66632");
    // Buffer 0 left the cycle; 1 and 2 took the rest.
    EXPECT_THAT(enqueuedSince(callsBefore), ElementsAre(0u, 1u, 2u, 1u, 2u));
    const auto buffers = queues.buffersOf(theQueue());
    EXPECT_THAT(queues.enqueuedBuffersOf(theQueue()), ElementsAre(buffers[1], buffers[2]));
    EXPECT_EQ(output->writeSizes(), (std::vector<std::size_t>(5, 8)));
}

TEST_F(InputCapture, OnceEveryBufferHasLeftNoMoreAudioArrivesAndTheTimerRepeatsTheLastCounts) {
    addUsualDevices();
    makeSource();
    startAndSetUp();
    sim::drain(Probe::captureQueue(*source));
    const std::size_t linesBefore = status.lines().size();
    for (int occurrence : {4, 5, 6}) {
        queues.failCall(Call::enqueueBuffer, -1 - occurrence, occurrence);
    }

    EXPECT_EQ(deliverAll(std::vector<Bytes>(5, sweep(8))), 3u);

    const auto lines = status.lines();
    EXPECT_THAT(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(linesBefore),
                                         lines.end()),
                ElementsAre("ok: inputBuffers=1 audioBytes=8 enqueueError=-5",
                            "ok: inputBuffers=2 audioBytes=16 enqueueError=-6",
                            "ok: inputBuffers=3 audioBytes=24 enqueueError=-7"));
    EXPECT_THAT(queues.enqueuedBuffersOf(theQueue()), IsEmpty());
    const std::string last =
        std::string("ok: inputBuffers=3 audioBytes=24 format=") + kBlackHoleFormat;
    EXPECT_EQ(tick(), last);
    EXPECT_EQ(tick(), last);
}

// --- Concurrency ----------------------------------------------------------------------------

struct Counts {
    std::int64_t inputBuffers = -1;
    std::int64_t audioBytes = -1;
};

std::optional<Counts> countsIn(const std::string& line) {
    Counts counts;
    if (std::sscanf(line.c_str(), "ok: inputBuffers=%" SCNd64 " audioBytes=%" SCNd64,
                    &counts.inputBuffers, &counts.audioBytes) != 2) {
        return std::nullopt;
    }
    return counts;
}

// Buffers arrive on the queue's thread while the timer reads the counters on the capture queue
// and both report through onStatus; run under ThreadSanitizer, this shows no data race.
TEST_F(InputCapture, BuffersArriveWhileTheTimerReadsTheCounters) {
    addUsualDevices();
    makeSource();
    startAndSetUp();
    queues.failCall(Call::enqueueBuffer, -66632, 40); // one hand-back fails on the way

    const std::size_t sizes[] = {38400, 10, 0, 3, 4096, 8, 38400, 1024};
    constexpr std::size_t deliveries = 240;
    Bytes expected;
    std::int64_t expectedBuffers = 0;
    for (std::size_t i = 0; i < deliveries; ++i) {
        const Bytes bytes =
            sweep(sizes[i % std::size(sizes)], -1.25f + 0.001f * static_cast<float>(i));
        const Bytes written = referenceSanitized(bytes);
        expected.insert(expected.end(), written.begin(), written.end());
        expectedBuffers += bytes.empty() ? 0 : 1;
        queues.deliver(theQueue(), bytes);
    }
    while (!queues.isIdle(theQueue())) {
        platform.dispatch.fireTimers();
        sim::drain(Probe::captureQueue(*source));
    }
    ASSERT_EQ(queues.waitUntilIdle(theQueue()), deliveries);

    const std::string final = tick();
    EXPECT_EQ(final, "ok: inputBuffers=" + std::to_string(expectedBuffers) + " audioBytes=" +
                         std::to_string(expected.size()) + " format=" + kBlackHoleFormat);
    EXPECT_EQ(output->bytes(), expected);

    // Every line's counts are real: never above the totals, never going back.
    Counts previous{0, 0};
    std::size_t enqueueErrors = 0;
    for (const std::string& line : status.lines()) {
        if (line.find(" enqueueError=") != std::string::npos) {
            ++enqueueErrors;
            EXPECT_THAT(line, EndsWith(" enqueueError=-66632"));
            continue;
        }
        const auto counts = countsIn(line);
        if (!counts) {
            continue;
        }
        EXPECT_GE(counts->inputBuffers, previous.inputBuffers) << line;
        EXPECT_GE(counts->audioBytes, previous.audioBytes) << line;
        EXPECT_LE(counts->inputBuffers, expectedBuffers) << line;
        EXPECT_LE(counts->audioBytes, static_cast<std::int64_t>(expected.size())) << line;
        previous = *counts;
    }
    EXPECT_EQ(enqueueErrors, 1u);
}

// --- The simulated queue itself -------------------------------------------------------------

// Records what a queue hands over, from the queue's thread.
struct Handed {
    std::mutex mutex;
    std::vector<std::pair<AudioQueueBufferRef, Bytes>> buffers;
    bool sawTestThread = false;
    bool sawNoStartTime = false;
    std::thread::id testThread = std::this_thread::get_id();
    SimAudioQueues& queues;
    bool handBack = true;

    explicit Handed(SimAudioQueues& queues) : queues(queues) {}

    static void callback(void* userData, AudioQueueRef queue, AudioQueueBufferRef buffer,
                         const AudioTimeStamp* startTime, std::uint32_t,
                         const AudioStreamPacketDescription*) {
        auto& self = *static_cast<Handed*>(userData);
        {
            std::lock_guard lock(self.mutex);
            const auto* data = static_cast<const std::uint8_t*>(buffer->mAudioData);
            self.buffers.emplace_back(buffer, Bytes(data, data + buffer->mAudioDataBytesCapacity));
            self.buffers.back().second.resize(
                std::min(buffer->mAudioDataByteSize, buffer->mAudioDataBytesCapacity));
            self.sawTestThread |= std::this_thread::get_id() == self.testThread;
            self.sawNoStartTime |= startTime == nullptr;
        }
        if (self.handBack) {
            self.queues.enqueueBuffer(queue, buffer);
        }
    }
};

class SimQueue : public ::testing::Test {
  protected:
    void TearDown() override { queues.stopAll(); }

    AudioQueueRef make() {
        AudioQueueRef queue = nullptr;
        EXPECT_EQ(queues.newInput(format, &Handed::callback, &handed, queue), 0);
        return queue;
    }

    sim::SimPlatform& platform = sim::SimPlatform::installFresh();
    SimAudioQueues& queues = platform.audioQueues;
    Handed handed{platform.audioQueues};
    AudioStreamBasicDescription format{48000.0, kAudioFormatLinearPCM, 9, 8, 1, 8, 2, 32, 0};
};

TEST_F(SimQueue, DeliversOnlyAfterStartIntoTheOldestEnqueuedBufferFromItsOwnThread) {
    const AudioQueueRef queue = make();
    AudioQueueBufferRef first = nullptr;
    AudioQueueBufferRef second = nullptr;
    ASSERT_EQ(queues.allocateBuffer(queue, 16, first), 0);
    ASSERT_EQ(queues.allocateBuffer(queue, 16, second), 0);
    ASSERT_EQ(queues.enqueueBuffer(queue, second), 0);
    ASSERT_EQ(queues.enqueueBuffer(queue, first), 0);
    queues.deliver(queue, {1, 2, 3});
    queues.deliver(queue, Bytes(20, 9)); // cut to the capacity
    queues.deliver(queue, {});
    EXPECT_EQ(queues.waitUntilIdle(queue), 0u); // not started

    ASSERT_EQ(queues.start(queue), 0);
    EXPECT_EQ(queues.waitUntilIdle(queue), 3u);
    std::lock_guard lock(handed.mutex);
    ASSERT_EQ(handed.buffers.size(), 3u);
    EXPECT_EQ(handed.buffers[0].first, second);
    EXPECT_EQ(handed.buffers[0].second, (Bytes{1, 2, 3}));
    EXPECT_EQ(handed.buffers[1].first, first);
    EXPECT_EQ(handed.buffers[1].second, Bytes(16, 9));
    EXPECT_EQ(handed.buffers[2].first, second);
    EXPECT_EQ(handed.buffers[2].second, Bytes{});
    EXPECT_FALSE(handed.sawTestThread);
    EXPECT_FALSE(handed.sawNoStartTime);
    // What was not filled holds the marker, so a reader past the byte count sees it.
    EXPECT_EQ(static_cast<const std::uint8_t*>(second->mAudioData)[3],
              SimAudioQueues::kUnfilledByte);
}

TEST_F(SimQueue, ABufferNotHandedBackIsNotFilledAgain) {
    handed.handBack = false;
    const AudioQueueRef queue = make();
    AudioQueueBufferRef buffer = nullptr;
    ASSERT_EQ(queues.allocateBuffer(queue, 8, buffer), 0);
    ASSERT_EQ(queues.enqueueBuffer(queue, buffer), 0);
    ASSERT_EQ(queues.start(queue), 0);
    queues.deliver(queue, {1});
    queues.deliver(queue, {2});
    EXPECT_EQ(queues.waitUntilIdle(queue), 1u);
    ASSERT_EQ(queues.enqueueBuffer(queue, buffer), 0);
    EXPECT_EQ(queues.waitUntilIdle(queue), 2u);
}

TEST_F(SimQueue, RefusesWhatTheRealQueueRefuses) {
    AudioStreamBasicDescription planar = format;
    planar.mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
    AudioQueueRef refused = nullptr;
    EXPECT_EQ(queues.newInput(planar, &Handed::callback, &handed, refused),
              SimAudioQueues::kUnsupportedDataFormat);
    EXPECT_EQ(refused, nullptr);

    const AudioQueueRef queue = make();
    AudioQueueBufferRef buffer = nullptr;
    ASSERT_EQ(queues.allocateBuffer(queue, 8, buffer), 0);
    ASSERT_EQ(queues.enqueueBuffer(queue, buffer), 0);
    EXPECT_EQ(queues.enqueueBuffer(queue, buffer), SimAudioQueues::kBufferEnqueuedTwice);
    AudioQueueBuffer foreign{8, nullptr, 0, nullptr, 0, nullptr, 0};
    EXPECT_EQ(queues.enqueueBuffer(queue, &foreign), SimAudioQueues::kInvalidBuffer);
    EXPECT_EQ(queues.setCurrentDevice(queue, ""), SimAudioQueues::kInvalidDevice);
    EXPECT_EQ(queues.start(nullptr), SimAudioQueues::kParamErr);
    EXPECT_EQ(queues.calls().back().status, SimAudioQueues::kParamErr);
}

} // namespace
} // namespace tovanel
