// Simulated dispatch.
#include "sim/dispatch.h"

#include <future>

namespace tovanel::sim {

namespace {

class TimerHandle final : public platform::RepeatingTimer {
  public:
    explicit TimerHandle(std::shared_ptr<SimDispatch::Timer> timer) : timer_(std::move(timer)) {}
    ~TimerHandle() override { timer_->cancelled = true; }

  private:
    std::shared_ptr<SimDispatch::Timer> timer_;
};

void tick(const std::shared_ptr<SimDispatch::Timer>& timer) {
    timer->queue->async([timer] {
        if (!timer->cancelled) {
            timer->handler();
        }
    });
}

} // namespace

std::shared_ptr<platform::SerialQueue> SimDispatch::makeSerialQueue(std::string label) {
    std::lock_guard lock(mutex_);
    labels_.push_back(label);
    return real_.makeSerialQueue(std::move(label));
}

std::unique_ptr<platform::RepeatingTimer>
SimDispatch::startRepeatingTimer(std::shared_ptr<platform::SerialQueue> queue,
                                 std::chrono::nanoseconds interval, std::function<void()> handler) {
    auto timer = std::make_shared<Timer>();
    timer->queueLabel = queue->label();
    timer->interval = interval;
    timer->handler = std::move(handler);
    timer->queue = std::move(queue);
    {
        std::lock_guard lock(mutex_);
        timers_.push_back(timer);
    }
    tick(timer);
    return std::make_unique<TimerHandle>(timer);
}

void SimDispatch::fireTimers() {
    for (const auto& timer : timers()) {
        tick(timer);
    }
}

void SimDispatch::asyncOnMain(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    mainJobs_.push_back(std::move(job));
}

void SimDispatch::runMainLoop() {
    for (;;) {
        std::vector<std::function<void()>> jobs;
        {
            std::lock_guard lock(mutex_);
            jobs.swap(mainJobs_);
        }
        if (jobs.empty()) {
            return;
        }
        for (auto& job : jobs) {
            job();
        }
    }
}

std::vector<std::string> SimDispatch::queueLabels() const {
    std::lock_guard lock(mutex_);
    return labels_;
}

std::vector<std::shared_ptr<SimDispatch::Timer>> SimDispatch::timers() const {
    std::lock_guard lock(mutex_);
    return timers_;
}

void drain(platform::SerialQueue& queue) {
    std::promise<void> done;
    queue.async([&] { done.set_value(); });
    done.get_future().wait();
}

} // namespace tovanel::sim
