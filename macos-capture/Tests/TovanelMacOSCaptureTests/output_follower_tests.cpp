// Which sink's monitor the Linux capture records as the server's outputs change, step by step:
// the actions each step asks for, then "@" the stream recorded and the phase (s, r, x).
#include "platform/pulse/output_follower.h"

#include <gtest/gtest.h>

#include <functional>

namespace tovanel::platform::pulse {
namespace {

using Event = OutputFollower::ServerEvent;

struct Log final : OutputFollower::Actions {
    std::string done;
    void add(const std::string& what) { done += (done.empty() ? "" : "; ") + what; }
    void query() override { add("query"); }
    void open(std::uint64_t i, const std::string& s) override { add("open " + str(i) + " " + s); }
    void close(std::uint64_t i) override { add("close " + str(i)); }
    void stop(PlatformError error) override { add("stop " + error.description); }
    static std::string str(std::uint64_t i) { return std::to_string(i); }
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

TEST(OutputFollower, RecordsTheDefaultSinkMovesWithItAndStopsOnlyWhenNothingCanBeRecorded) {
    Log log;
    std::optional<OutputFollower> f;
    const PlatformError killed{"pa_stream", 12, "Entity killed"};
    const PlatformError timeout{"pa_stream_connect_record", 8, "Timeout"};
    const auto onB = [&] { f.emplace(log), f->start(), f->answer(server("b", "b")); };
    const std::vector<std::pair<std::function<void()>, std::string>> steps = {
        {[&] { f.emplace(log), f->start(); }, "query @0s"},
        {[&] { f->answer(server("b", "xab")); }, "open 1 b.monitor @0s"},
        {[&] { f->streamReady(1); }, " @1r"},
        {[&] { f->serverEvent(Event::other), f->serverEvent(Event::serverChanged); }, "query @1r"},
        {[&] { f->serverEvent(Event::sinkAdded); }, " @1r"},  // asked already
        {[&] { f->answer(server("b", "ab")); }, "query @1r"}, // stale: asked again
        {[&] { f->answer(server("c", "abc")); }, "open 2 c.monitor @1r"},
        {[&] { f->serverEvent(Event::serverChanged); }, "query @1r"},
        {[&] { f->answer(server("b", "abc")); }, "close 2 @1r"}, // back before 2 recorded
        {[&] { f->serverEvent(Event::serverChanged); }, "query @1r"},
        {[&] { f->answer(server("c", "abc")); }, "open 3 c.monitor @1r"},
        {[&] { f->streamReady(2), f->streamReady(3); }, "close 1 @3r"},
        {[&] { f->streamFailed(3, killed, true); }, "close 3; query @0r"}, // its sink went
        {[&] { f->answer(server("gone", "xa")); }, "open 4 a.monitor @0r"},
        {[&] { f->streamReady(4), f->serverEvent(Event::sinkRemoved); }, "query @4r"},
        {[&] { f->answer(server("", "x")); },
         "close 4; stop no output to record: the sound server S has no sink @0x"},
        {[&] { f->serverEvent(Event::serverChanged); }, " @0x"},
        {[&] {
             onB(), f->streamReady(1), f->streamFailed(1, {"", 7, "Gone"}, false);
         },
         "query; open 1 b.monitor; close 1; stop Gone @0x"},
        {[&] {
             onB(), f->streamReady(1), f->streamFailed(1, killed, true), f->answer(server("", ""));
         },
         "query; open 1 b.monitor; close 1; query; stop no output to record: B (b) went away and "
         "the sound server S has no sink @0x"},
        {[&] { onB(), f->streamNotConnected(1, timeout); },
         "query; open 1 b.monitor; close 1; stop the sound server S did not connect a stream to "
         "the output B (b) within 5 s (a PipeWire server connects streams only while its session "
         "manager, such as WirePlumber, runs) @0x"},
        {[&] {
             onB();
             for (std::uint64_t id = 1; id <= OutputFollower::kMostFailedOpens; ++id) {
                 f->streamFailed(id, timeout, true), f->answer(server("b", "b"));
             }
         },
         "query; open 1 b.monitor; close 1; query; open 2 b.monitor; close 2; query; open 3 "
         "b.monitor; close 3; stop Timeout @0x"},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        log.done.clear();
        steps[i].first();
        EXPECT_EQ(log.done + " @" + std::to_string(f->recording()) + "srx"[int(f->phase())],
                  steps[i].second)
            << "step " << i;
    }
}

} // namespace
} // namespace tovanel::platform::pulse
