// The portable dispatch: serial order, independent queues, timers whose first tick is
// immediate, cancellation, and the main queue run by the main run loop.
#include "platform/portable/dispatch.h"
#include "sim/dispatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace tovanel::platform::portable {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits for every producer and for the queue, then checks that each producer's `jobs` jobs all
// ran, in the order it submitted them.
void expectEachProducersJobsInOrder(std::vector<std::thread>& producers, SerialQueue& queue,
                                    const std::vector<std::vector<int>>& seen, int jobs) {
    for (auto& producer : producers) {
        producer.join();
    }
    sim::drain(queue);
    for (const auto& oneProducer : seen) {
        ASSERT_EQ(oneProducer.size(), static_cast<std::size_t>(jobs));
        EXPECT_TRUE(std::is_sorted(oneProducer.begin(), oneProducer.end()));
    }
}

TEST(SerialQueue, RunsJobsOneAtATimeInSubmissionOrder) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.order");
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    for (int i = 0; i < 2000; ++i) {
        queue->async([&, i] {
            const int now = ++running;
            mostAtOnce = std::max(mostAtOnce.load(), now);
            order.push_back(i); // unguarded on purpose: serial jobs need no lock
            if (i % 500 == 0) {
                std::this_thread::sleep_for(1ms);
            }
            --running;
        });
    }
    sim::drain(*queue);
    ASSERT_EQ(order.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(order[i], i);
    }
    EXPECT_EQ(mostAtOnce.load(), 1);
}

TEST(SerialQueue, KeepsEachProducersOrderWhenSeveralSubmitAtOnce) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.producers");
    constexpr int kProducers = 4;
    constexpr int kJobs = 1000;
    std::vector<std::vector<int>> seen(kProducers);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kJobs; ++i) {
                queue->async([&, p, i] { seen[p].push_back(i); });
            }
        });
    }
    ASSERT_NO_FATAL_FAILURE(expectEachProducersJobsInOrder(producers, *queue, seen, kJobs));
}

TEST(SerialQueue, KnowsWhetherItIsRunningTheCurrentJob) {
    PortableDispatch dispatch;
    auto first = dispatch.makeSerialQueue("tovanel.test.first");
    auto second = dispatch.makeSerialQueue("tovanel.test.second");
    EXPECT_EQ(first->label(), "tovanel.test.first");
    EXPECT_FALSE(first->isCurrent());
    std::promise<std::pair<bool, bool>> answer;
    first->async([&] { answer.set_value({first->isCurrent(), second->isCurrent()}); });
    EXPECT_EQ(answer.get_future().get(), std::make_pair(true, false));
}

TEST(SerialQueue, QueuesRunIndependently) {
    PortableDispatch dispatch;
    auto blocked = dispatch.makeSerialQueue("tovanel.test.blocked");
    auto free = dispatch.makeSerialQueue("tovanel.test.free");
    std::promise<void> release;
    blocked->async([future = release.get_future().share()] { future.wait(); });
    std::promise<void> ran;
    free->async([&] { ran.set_value(); });
    EXPECT_EQ(ran.get_future().wait_for(5s), std::future_status::ready);
    release.set_value();
    sim::drain(*blocked);
}

TEST(SerialQueue, RunsWhatWasSubmittedBeforeItIsReleased) {
    PortableDispatch dispatch;
    std::atomic<int> ran{0};
    {
        auto queue = dispatch.makeSerialQueue("tovanel.test.release");
        for (int i = 0; i < 100; ++i) {
            queue->async([&] {
                std::this_thread::sleep_for(10us);
                ++ran;
            });
        }
    }
    EXPECT_EQ(ran.load(), 100);
}

TEST(SerialQueue, MayBeReleasedByOneOfItsOwnJobs) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.self");
    std::promise<void> done;
    auto* raw = queue.get();
    raw->async([held = std::move(queue), &done]() mutable {
        held.reset(); // the last reference goes away on the queue's own thread
        done.set_value();
    });
    EXPECT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
}

TEST(SerialQueue, RunsAJobHereWhenIdleAsOneOfItsOwn) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.here");
    const auto caller = std::this_thread::get_id();
    std::thread::id ranOn;
    bool wasCurrent = false;
    queue->asyncOrRunHere([&] {
        ranOn = std::this_thread::get_id();
        wasCurrent = queue->isCurrent();
    });
    EXPECT_EQ(ranOn, caller); // done before the call returned, on this thread
    EXPECT_TRUE(wasCurrent);
    EXPECT_FALSE(queue->isCurrent());
}

TEST(SerialQueue, QueuesBehindWorkItAlreadyHas) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.behind");
    std::promise<void> release;
    std::vector<int> order;
    queue->async([&, future = release.get_future().share()] {
        future.wait();
        order.push_back(1);
    });
    queue->async([&] { order.push_back(2); });
    const auto caller = std::this_thread::get_id();
    std::thread::id ranOn = caller;
    queue->asyncOrRunHere([&] {
        ranOn = std::this_thread::get_id();
        order.push_back(3);
    });
    release.set_value();
    sim::drain(*queue);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_NE(ranOn, caller);
}

TEST(SerialQueue, AJobSubmittingToItsOwnQueueRunsItAfterwardsNotInside) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.nested");
    // The outer job once on the queue's own thread and once run here.
    for (const bool outerHere : {false, true}) {
        std::vector<int> order;
        std::promise<void> innerRan;
        auto outer = [&] {
            queue->asyncOrRunHere([&] {
                order.push_back(2);
                innerRan.set_value();
            });
            order.push_back(1);
        };
        if (outerHere) {
            queue->asyncOrRunHere(outer);
        } else {
            queue->async(outer);
        }
        // Nothing else is queued meanwhile: the inner job finds the queue otherwise idle.
        ASSERT_EQ(innerRan.get_future().wait_for(5s), std::future_status::ready);
        sim::drain(*queue);
        EXPECT_EQ(order, (std::vector<int>{1, 2})) << "outer job run here: " << outerHere;
    }
}

// A producer running jobs on its own thread and others queueing them: still one job at a time,
// each producer's jobs in its order, and the worker never runs beside a job run here.
TEST(SerialQueue, JobsRunHereAndQueuedJobsNeverOverlap) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.mixed");
    constexpr int kProducers = 3;
    constexpr int kJobs = 1000;
    std::vector<std::vector<int>> seen(kProducers);
    int jobsRun = 0; // unguarded on purpose: serial jobs need no lock
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    std::atomic<int> ranHere{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            const auto producer = std::this_thread::get_id();
            for (int i = 0; i < kJobs; ++i) {
                auto job = [&, p, i, producer] {
                    const int now = ++running;
                    mostAtOnce = std::max(mostAtOnce.load(), now);
                    seen[p].push_back(i);
                    // A read-modify-write held open for a moment: two jobs at once lose a count.
                    const int before = jobsRun;
                    const auto until = Clock::now() + 10us;
                    while (Clock::now() < until) {
                    }
                    jobsRun = before + 1;
                    ranHere += std::this_thread::get_id() == producer ? 1 : 0;
                    --running;
                };
                if (p == 0) {
                    queue->asyncOrRunHere(job);
                } else {
                    queue->async(job);
                }
                if (i % 4 == 0) {
                    std::this_thread::sleep_for(100us); // the queue falls idle now and then
                }
            }
        });
    }
    ASSERT_NO_FATAL_FAILURE(expectEachProducersJobsInOrder(producers, *queue, seen, kJobs));
    EXPECT_EQ(jobsRun, kProducers * kJobs);
    EXPECT_EQ(mostAtOnce.load(), 1);
    EXPECT_GT(ranHere.load(), 0);
}

TEST(SerialQueue, MayBeReleasedByAJobRunningHere) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.release.here");
    bool ran = false;
    auto* raw = queue.get();
    raw->asyncOrRunHere([held = std::move(queue), &ran]() mutable {
        held.reset(); // the last reference goes away inside the job
        ran = true;
    });
    EXPECT_TRUE(ran);
}

// Records when each tick ran and whether it ran on the timer's queue.
struct TickLog {
    std::mutex mutex;
    std::vector<Clock::duration> at;
    bool alwaysOnQueue = true;
    std::condition_variable changed;

    void record(Clock::time_point start, bool onQueue) {
        std::lock_guard lock(mutex);
        at.push_back(Clock::now() - start);
        alwaysOnQueue = alwaysOnQueue && onQueue;
        changed.notify_all();
    }
    bool waitFor(std::size_t ticks, Clock::duration limit) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return at.size() >= ticks; });
    }
};

TEST(RepeatingTimer, FirstTickIsImmediateThenOncePerInterval) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.timer");
    TickLog log;
    const auto start = Clock::now();
    auto timer =
        dispatch.startRepeatingTimer(queue, 1s, [&] { log.record(start, queue->isCurrent()); });
    ASSERT_TRUE(log.waitFor(3, 10s));
    timer.reset();
    std::lock_guard lock(log.mutex);
    // Generous upper limits: a loaded machine may be late, never early.
    EXPECT_LT(log.at[0], 500ms);
    EXPECT_GE(log.at[1], 950ms);
    EXPECT_LT(log.at[1], 3s);
    EXPECT_GE(log.at[2], 1950ms);
    EXPECT_TRUE(log.alwaysOnQueue);
}

TEST(RepeatingTimer, StartsNoTickOnceItsHandleIsDestroyed) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.cancel");
    std::atomic<int> ticks{0};
    auto timer = dispatch.startRepeatingTimer(queue, 5ms, [&] { ++ticks; });
    while (ticks < 3) {
        std::this_thread::sleep_for(1ms);
    }
    timer.reset();
    const int atCancel = ticks;
    std::this_thread::sleep_for(50ms);
    sim::drain(*queue);
    EXPECT_EQ(ticks.load(), atCancel);
}

TEST(RepeatingTimer, DoesNotPileUpTicksWhileItsQueueIsBusy) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.busy");
    std::atomic<int> ticks{0};
    std::promise<void> release;
    queue->async([future = release.get_future().share()] { future.wait(); });
    auto timer = dispatch.startRepeatingTimer(queue, 10ms, [&] { ++ticks; });
    std::this_thread::sleep_for(300ms); // about 30 deadlines pass while the queue is held
    release.set_value();
    sim::drain(*queue);
    EXPECT_LE(ticks.load(), 2);
    timer.reset();
}

TEST(RepeatingTimer, MayBeCancelledFromItsOwnTick) {
    PortableDispatch dispatch;
    auto queue = dispatch.makeSerialQueue("tovanel.test.selfcancel");
    std::unique_ptr<RepeatingTimer> timer;
    std::mutex timerMutex;
    std::promise<void> cancelled;
    std::atomic<int> ticks{0};
    {
        std::lock_guard lock(timerMutex);
        timer = dispatch.startRepeatingTimer(queue, 5ms, [&] {
            std::lock_guard lock(timerMutex);
            if (++ticks == 2 && timer) {
                timer.reset();
                cancelled.set_value();
            }
        });
    }
    EXPECT_EQ(cancelled.get_future().wait_for(5s), std::future_status::ready);
    std::this_thread::sleep_for(30ms);
    sim::drain(*queue);
    EXPECT_EQ(ticks.load(), 2);
}

TEST(MainRunLoop, RunsMainQueueJobsInOrderOnItsOwnThread) {
    PortableDispatch dispatch;
    std::vector<int> order;
    const auto mainThread = std::this_thread::get_id();
    bool allOnMain = true;
    // Jobs come from another thread, and one job queues another.
    std::thread producer([&] {
        for (int i = 0; i < 50; ++i) {
            dispatch.asyncOnMain([&, i] {
                allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
                order.push_back(i);
                if (i == 49) {
                    dispatch.asyncOnMain([&] { dispatch.stopMainLoop(); });
                }
            });
        }
    });
    dispatch.runMainLoop();
    producer.join();
    ASSERT_EQ(order.size(), 50u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_TRUE(allOnMain);
}

TEST(MainRunLoop, RunsNothingBeforeItRuns) {
    PortableDispatch dispatch;
    std::atomic<bool> ran{false};
    dispatch.asyncOnMain([&] { ran = true; });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(ran.load());
    dispatch.asyncOnMain([&] { dispatch.stopMainLoop(); });
    dispatch.runMainLoop();
    EXPECT_TRUE(ran.load());
}

} // namespace
} // namespace tovanel::platform::portable
