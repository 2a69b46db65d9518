// Which sink's monitor the Linux capture records as the server's outputs change, step by step:
// the actions each event asks for, then "@" the stream recorded and the phase (s, r, x).
#include "platform/pulse/output_follower.h"

#include <gtest/gtest.h>

#include <functional>

namespace tovanel::platform::pulse {
namespace {

using Event = OutputFollower::ServerEvent;
using Steps = std::vector<std::pair<std::function<void()>, std::string>>;

struct Log final : OutputFollower::Actions {
    std::string done;
    void add(const std::string& action) { done += (done.empty() ? "" : "; ") + action; }
    void query() override { add("query"); }
    void open(std::uint64_t id, const std::string& source) override {
        add("open " + std::to_string(id) + " " + source);
    }
    void close(std::uint64_t id) override { add("close " + std::to_string(id)); }
    void stop(PlatformError error) override { add("stop " + error.description); }
};

// Sinks named by letters and described in capitals; x has no monitor.
ServerSnapshot server(const std::string& defaultSink, const std::string& sinks) {
    ServerSnapshot snapshot{{}, {}, defaultSink, "", "S"};
    for (const char n : sinks) {
        const std::string name(1, n);
        snapshot.sinks.push_back(
            {name, std::string(1, char(n - 32)), 2, n == 'x' ? "" : name + ".monitor", 2});
    }
    return snapshot;
}

void run(OutputFollower& follower, Log& log, const Steps& steps) {
    const char* phases = "srx";
    for (std::size_t i = 0; i < steps.size(); ++i) {
        log.done.clear();
        steps[i].first();
        EXPECT_EQ(log.done + " @" + std::to_string(follower.recording()) +
                      phases[static_cast<int>(follower.phase())],
                  steps[i].second)
            << "step " << i;
    }
}

const PlatformError kKilled{"pa_stream", 12, "pa_stream: Entity killed"};

TEST(OutputFollower, RecordsTheDefaultSinkAndMovesWithItOpeningTheNewBeforeClosingTheOld) {
    Log log;
    OutputFollower f(log);
    run(f, log,
        {{[&] { f.start(); }, "query @0s"},
         {[&] { f.answer(server("b", "xab")); }, "open 1 b.monitor @0s"},
         {[&] { f.streamReady(1); }, " @1r"},
         {[&] { f.serverEvent(Event::other); }, " @1r"},
         {[&] { f.serverEvent(Event::serverChanged); }, "query @1r"},
         {[&] { f.serverEvent(Event::sinkAdded); }, " @1r"},  // asked already
         {[&] { f.answer(server("b", "ab")); }, "query @1r"}, // stale: asked again
         {[&] { f.answer(server("c", "abc")); }, "open 2 c.monitor @1r"},
         {[&] { f.serverEvent(Event::serverChanged); }, "query @1r"},
         {[&] { f.answer(server("b", "abc")); }, "close 2 @1r"}, // back before 2 recorded
         {[&] { f.serverEvent(Event::serverChanged); }, "query @1r"},
         {[&] { f.answer(server("c", "abc")); }, "open 3 c.monitor @1r"},
         {[&] { f.streamReady(2); }, " @1r"},
         {[&] { f.streamReady(3); }, "close 1 @3r"},
         {[&] { f.streamFailed(3, kKilled, true); }, "close 3; query @0r"}, // its sink went
         {[&] { f.answer(server("gone", "xa")); }, "open 4 a.monitor @0r"},
         {[&] { f.streamReady(4); }, " @4r"},
         {[&] { f.serverEvent(Event::sinkRemoved); }, "query @4r"},
         {[&] { f.answer(server("", "x")); },
          "close 4; stop no output to record: the sound server S "
          "has no sink @0x"},
         {[&] { f.serverEvent(Event::serverChanged); }, " @0x"}});
}

TEST(OutputFollower, StopsWhenTheServerGoesNoSinkIsLeftOrStreamsNeverRecord) {
    const PlatformError timeout{"pa_stream_connect_record", 8, "Timeout"};
    const PlatformError gone{"pa_stream", 7, "pa_stream: Connection terminated"};
    const std::string stop = "close 1; stop ";
    const std::vector<std::pair<std::function<void(OutputFollower&)>, std::string>> cases = {
        {[&](auto& f) { f.streamNotConnected(1, timeout); },
         stop + "the sound server S did not connect a stream to the output B (b) within 5 s (a "
                "PipeWire server connects streams only while its session manager, such as "
                "WirePlumber, runs) @0x"},
        {[&](auto& f) { f.streamFailed(1, gone, false); },
         "close 1; stop " + gone.description + " @0x"},
        {[&](auto& f) {
             for (int i = 1; i < OutputFollower::kMostFailedOpens; ++i) {
                 f.streamFailed(i, timeout, true);
                 f.answer(server("b", "b"));
             }
             f.streamFailed(OutputFollower::kMostFailedOpens, timeout, true);
         },
         "close 1; query; open 2 b.monitor; close 2; query; open 3 b.monitor; close 3; stop "
         "Timeout @0x"},
        {[&](auto& f) {
             f.streamReady(1);
             f.streamFailed(1, kKilled, true);
             f.answer(server("b", ""));
         },
         "close 1; query; stop no output to record: B (b) went "
         "away and the sound server S has no sink @0x"},
    };
    for (const auto& [events, expected] : cases) {
        Log log;
        OutputFollower f(log);
        f.start();
        f.answer(server("b", "b"));
        log.done.clear();
        events(f);
        EXPECT_EQ(log.done + " @" + std::to_string(f.recording()) +
                      (f.phase() == OutputFollower::Phase::stopped ? "x" : "?"),
                  expected);
    }
}

} // namespace
} // namespace tovanel::platform::pulse
