// Serial queues, repeating timers, the main queue and the main run loop.
//
// Callers guarantee:
//   - a timer's queue was made by the same backend's makeSerialQueue;
//   - runMainLoop is called on the main thread only;
//   - runHereIfIdle is never called on the thread running runMainLoop.
// Every backend must:
//   - run the jobs of one serial queue one at a time, in the order they were submitted, off the
//     main thread; queues run independently of each other;
//   - fire a repeating timer's first tick at once, then once per interval, each tick on the
//     timer's queue; a tick that is still pending is not queued twice;
//   - stop a timer from starting new ticks once its handle is destroyed (a tick already running
//     finishes); the program itself never destroys a started timer;
//   - run main-queue jobs in submission order on the thread running runMainLoop.
#pragma once

#include <cassert>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tovanel::platform {

class SerialQueue {
  public:
    virtual ~SerialQueue() = default;

    virtual const std::string& label() const = 0;
    virtual void async(std::function<void()> job) = 0;
    // Runs `job` at once on the calling thread, as one of this queue's jobs, when the queue has
    // nothing else to run, and says whether it did; otherwise the job is left to the caller (to
    // submit with async). For a producer whose own thread can afford to run the job and would
    // otherwise wake the queue's for every item. A backend may never run one here.
    virtual bool runHereIfIdle(const std::function<void()>& job) {
        (void)job;
        return false;
    }
    // True on the thread that is running one of this queue's jobs.
    virtual bool isCurrent() const = 0;
};

// Owning handle of a started timer; destroying it cancels the timer.
class RepeatingTimer {
  public:
    virtual ~RepeatingTimer() = default;
};

class Dispatch {
  public:
    virtual ~Dispatch() = default;

    virtual std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) = 0;
    virtual std::unique_ptr<RepeatingTimer> startRepeatingTimer(std::shared_ptr<SerialQueue> queue,
                                                                std::chrono::nanoseconds interval,
                                                                std::function<void()> handler) = 0;
    virtual void asyncOnMain(std::function<void()> job) = 0;
    // Runs main-queue jobs for the rest of the process's life.
    virtual void runMainLoop() = 0;
};

} // namespace tovanel::platform

// Debug-build check that code tagged with a queue runs on it.
#define TOVANEL_ASSERT_ON_QUEUE(queue) assert((queue).isCurrent())
