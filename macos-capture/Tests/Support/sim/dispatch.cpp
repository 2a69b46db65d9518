// Simulated dispatch.
#include "sim/dispatch.h"

#include <future>

namespace tovanel::sim {

struct SimDispatch::Timer {
    std::shared_ptr<platform::SerialQueue> queue;
    std::chrono::nanoseconds interval{};
    std::function<void()> handler;
    bool cancelled = false; // guarded by SimDispatch::mutex_
};

class SimDispatch::TimerHandle final : public platform::RepeatingTimer {
  public:
    TimerHandle(SimDispatch& owner, std::shared_ptr<Timer> timer)
        : owner_(owner), timer_(std::move(timer)) {}
    ~TimerHandle() override {
        std::lock_guard lock(owner_.mutex_);
        timer_->cancelled = true;
    }

  private:
    SimDispatch& owner_;
    std::shared_ptr<Timer> timer_;
};

std::shared_ptr<platform::SerialQueue> SimDispatch::makeSerialQueue(std::string label) {
    {
        std::lock_guard lock(mutex_);
        queueLabels_.push_back(label);
    }
    return real_.makeSerialQueue(std::move(label));
}

std::unique_ptr<platform::RepeatingTimer>
SimDispatch::startRepeatingTimer(std::shared_ptr<platform::SerialQueue> queue,
                                 std::chrono::nanoseconds interval, std::function<void()> handler) {
    auto timer = std::make_shared<Timer>(Timer{std::move(queue), interval, std::move(handler)});
    {
        std::lock_guard lock(mutex_);
        timers_.push_back(timer);
    }
    timer->queue->async([timer] { timer->handler(); });
    return std::make_unique<TimerHandle>(*this, timer);
}

void SimDispatch::fireTimers() {
    std::lock_guard lock(mutex_);
    for (const auto& timer : timers_) {
        if (!timer->cancelled) {
            timer->queue->async([timer] { timer->handler(); });
        }
    }
}

void SimDispatch::asyncOnMain(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    mainJobs_.push_back(std::move(job));
}

void SimDispatch::runMainLoop() {
    while (runMainJobs() > 0) {
    }
}

std::size_t SimDispatch::runMainJobs() {
    std::vector<std::function<void()>> jobs;
    {
        std::lock_guard lock(mutex_);
        jobs.swap(mainJobs_);
    }
    for (auto& job : jobs) {
        job();
    }
    return jobs.size();
}

std::size_t SimDispatch::pendingMainJobs() const {
    std::lock_guard lock(mutex_);
    return mainJobs_.size();
}

std::vector<std::string> SimDispatch::queueLabels() const {
    std::lock_guard lock(mutex_);
    return queueLabels_;
}

std::vector<SimDispatch::TimerRecord> SimDispatch::timers() const {
    std::lock_guard lock(mutex_);
    std::vector<TimerRecord> records;
    for (const auto& timer : timers_) {
        records.push_back({timer->queue->label(), timer->interval, timer->cancelled});
    }
    return records;
}

void drain(platform::SerialQueue& queue) {
    std::promise<void> done;
    queue.async([&done] { done.set_value(); });
    done.get_future().wait();
}

} // namespace tovanel::sim
