// Simulated dispatch: real serial queues (so concurrency is real), repeating timers that tick
// when the test says so, and a main queue the test drains.
#pragma once

#include "platform/portable/dispatch.h"
#include "test_support.h"

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

namespace tovanel::sim {

// Returns once every job queued on `queue` before the call has run.
inline void drain(platform::SerialQueue& queue) {
    std::promise<void> done;
    queue.async([&] { done.set_value(); });
    test::within(done.get_future(), "drained queue");
}

class SimDispatch : public platform::Dispatch {
  public:
    struct Timer {
        Timer(std::shared_ptr<platform::SerialQueue> q, std::chrono::nanoseconds i,
              std::function<void()> h)
            : queue(std::move(q)), interval(i), handler(std::move(h)) {}
        std::shared_ptr<platform::SerialQueue> queue;
        std::chrono::nanoseconds interval;
        std::function<void()> handler;
        std::atomic<bool> cancelled{false};
        void tick(const std::shared_ptr<Timer>& self) {
            queue->async([self] { self->cancelled ? void() : self->handler(); });
        }
    };

    std::shared_ptr<platform::SerialQueue> makeSerialQueue(std::string label) override {
        return real_.makeSerialQueue(std::move(label));
    }
    // The first tick is queued at once, as every backend must; later ticks come from fireTimers.
    std::unique_ptr<platform::RepeatingTimer>
    startRepeatingTimer(std::shared_ptr<platform::SerialQueue> queue,
                        std::chrono::nanoseconds interval, std::function<void()> handler) override {
        struct Handle final : platform::RepeatingTimer {
            std::shared_ptr<Timer> timer;
            ~Handle() override { timer->cancelled = true; }
        };
        auto handle = std::make_unique<Handle>();
        handle->timer = std::make_shared<Timer>(std::move(queue), interval, std::move(handler));
        std::lock_guard lock(mutex_);
        timers_.push_back(handle->timer);
        handle->timer->tick(handle->timer);
        return handle;
    }
    void asyncOnMain(std::function<void()> job) override {
        std::lock_guard lock(mutex_);
        mainJobs_.push_back(std::move(job));
    }
    // Runs the main-queue jobs, those they queue too, then returns.
    void runMainLoop() override {
        for (auto jobs = takeMainJobs(); !jobs.empty(); jobs = takeMainJobs()) {
            for (auto& job : jobs) {
                job();
            }
        }
    }

    // Runs one tick of every timer still running, and returns once they have run.
    void fireTimers() {
        for (const auto& timer : timers()) {
            timer->tick(timer);
            drain(*timer->queue);
        }
    }
    std::vector<std::shared_ptr<Timer>> timers() const {
        std::lock_guard lock(mutex_);
        return timers_;
    }

  private:
    std::vector<std::function<void()>> takeMainJobs() {
        std::lock_guard lock(mutex_);
        return std::exchange(mainJobs_, {});
    }

    platform::portable::PortableDispatch real_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Timer>> timers_;
    std::vector<std::function<void()>> mainJobs_;
};

} // namespace tovanel::sim
