// Simulated dispatch: real serial queues (so concurrency is real), repeating timers that tick
// when the test says so, and a main queue the test drains.
#pragma once

#include "platform/portable/dispatch.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace tovanel::sim {

class SimDispatch : public platform::Dispatch {
  public:
    struct Timer {
        std::string queueLabel;
        std::chrono::nanoseconds interval;
        std::function<void()> handler;
        std::shared_ptr<platform::SerialQueue> queue;
        std::atomic<bool> cancelled{false};
    };

    std::shared_ptr<platform::SerialQueue> makeSerialQueue(std::string label) override;
    // Queues the first tick at once, as every backend must; later ticks come from fireTimers().
    std::unique_ptr<platform::RepeatingTimer> startRepeatingTimer(
        std::shared_ptr<platform::SerialQueue> queue, std::chrono::nanoseconds interval,
        std::function<void()> handler) override;
    void asyncOnMain(std::function<void()> job) override;
    // Runs the main-queue jobs, those they queue too, then returns.
    void runMainLoop() override;

    // Queues one tick of every timer still running.
    void fireTimers();
    std::vector<std::string> queueLabels() const;
    std::vector<std::shared_ptr<Timer>> timers() const;

  private:
    platform::portable::PortableDispatch real_;
    mutable std::mutex mutex_;
    std::vector<std::string> labels_;
    std::vector<std::shared_ptr<Timer>> timers_;
    std::vector<std::function<void()>> mainJobs_;
};

// Returns once every job queued on `queue` before the call has run.
void drain(platform::SerialQueue& queue);

} // namespace tovanel::sim
