// Simulated dispatch: real serial queues (so concurrency is real), recorded queue labels,
// timers that tick when the test says so, and a main queue the test drains.
#pragma once

#include "platform/dispatch.h"
#include "platform/portable/dispatch.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tovanel::sim {

class SimDispatch : public platform::Dispatch {
  public:
    struct TimerRecord {
        std::string queueLabel;
        std::chrono::nanoseconds interval{};
        bool cancelled = false;
    };

    std::shared_ptr<platform::SerialQueue> makeSerialQueue(std::string label) override;
    // Records the timer and queues its first tick at once, as every backend must; later ticks
    // come from fireTimers().
    std::unique_ptr<platform::RepeatingTimer>
    startRepeatingTimer(std::shared_ptr<platform::SerialQueue> queue,
                        std::chrono::nanoseconds interval, std::function<void()> handler) override;
    void asyncOnMain(std::function<void()> job) override;
    // Runs the queued main-queue jobs, including those they queue, then returns.
    void runMainLoop() override;

    // Queues one tick of every timer that has not been cancelled.
    void fireTimers();
    // Runs the queued main-queue jobs on the calling thread; returns how many ran.
    std::size_t runMainJobs();
    std::size_t pendingMainJobs() const;
    std::vector<std::string> queueLabels() const;
    std::vector<TimerRecord> timers() const;

  private:
    struct Timer;
    class TimerHandle;

    platform::portable::PortableDispatch real_;
    mutable std::mutex mutex_;
    std::vector<std::string> queueLabels_;
    std::vector<std::shared_ptr<Timer>> timers_;
    std::vector<std::function<void()>> mainJobs_;
};

// Blocks until every job queued on `queue` before this call has run.
void drain(platform::SerialQueue& queue);

} // namespace tovanel::sim
