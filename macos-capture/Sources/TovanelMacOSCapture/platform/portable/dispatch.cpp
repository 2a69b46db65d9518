// Dispatch in portable C++.
#include "platform/portable/dispatch.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

namespace tovanel::platform::portable {

namespace {

// The queue whose job this thread is running, if any.
thread_local const void* currentQueue = nullptr;

void nameThisThread(const std::string& label) {
#ifdef __APPLE__
    pthread_setname_np(label.c_str());
#else
    // Linux limits thread names to 15 bytes; the end of a dotted label says the most.
    const std::string shortName = label.size() > 15 ? label.substr(label.size() - 15) : label;
    pthread_setname_np(pthread_self(), shortName.c_str());
#endif
}

// What a timer's ticks share with its handle; a tick already queued keeps it alive.
struct TimerState {
    TimerState(std::chrono::nanoseconds interval, std::function<void()> handler)
        : interval(interval), handler(std::move(handler)) {}

    const std::chrono::nanoseconds interval;
    const std::function<void()> handler;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now(); // queue's
    bool tickPending = false; // under the queue's mutex
    std::mutex running;       // held while the handler runs, so cancelling can wait for it
    std::atomic<bool> cancelled{false};
};

// What a queue's worker shares with the queue object. The worker holds it too, so a queue
// released by one of its own jobs does not pull the ground from under its worker.
//
// Whether a job runs and how many wait live in one atomic word: a submitter that finds the queue
// idle (the word is 0) takes it with one compare-and-swap and runs its job at once, without the
// mutex. Everything else (queueing, the worker's waits, timers, stopping) goes under the mutex.
struct QueueState {
    explicit QueueState(std::string label) : label(std::move(label)) {}

    static constexpr std::uint64_t kRunning = 1;  // a job runs, on the worker or a submitter
    static constexpr std::uint64_t kStopping = 2; // the queue object is gone
    static constexpr std::uint64_t kWaiting = 4;  // one queued job, counted in the bits above

    const std::string label;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;          // under the mutex
    std::vector<std::shared_ptr<TimerState>> timers; // under the mutex
    bool timerAdded = false;                         // under the mutex: the worker looks again
    std::atomic<std::uint64_t> word{0};              // changed under the mutex, but for kRunning

    // With the mutex held.
    void queue(std::function<void()> job) {
        jobs.push_back(std::move(job));
        word.fetch_add(kWaiting, std::memory_order_relaxed);
    }
    // Queues a tick of every timer that is due and not already waiting, and says when the next
    // one is. With the mutex held.
    std::optional<std::chrono::steady_clock::time_point> queueDueTicks() {
        timerAdded = false;
        const auto now = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> next;
        for (const auto& timer : timers) {
            if (timer->deadline <= now) {
                if (!timer->tickPending) {
                    timer->tickPending = true;
                    queue([this, timer] { tick(*timer); });
                }
                while (timer->deadline <= now) { // ticks missed while the queue was busy: one
                    timer->deadline += timer->interval;
                }
            }
            next = next ? std::min(*next, timer->deadline) : timer->deadline;
        }
        return next;
    }
    void tick(TimerState& timer) {
        std::lock_guard running(timer.running);
        {
            std::lock_guard lock(mutex);
            timer.tickPending = false;
        }
        if (!timer.cancelled) {
            timer.handler();
        }
    }
    // Gives the queue back after a job run on a submitter's thread, and wakes the worker if
    // something was queued meanwhile or the queue is stopping: it waits for the queue to be free.
    void release() {
        if (word.fetch_sub(kRunning, std::memory_order_release) != kRunning) {
            { std::lock_guard lock(mutex); } // the worker is waiting, or sees the word free
            wake.notify_one();
        }
    }
};

void runQueue(const std::shared_ptr<QueueState>& state) {
    nameThisThread(state->label);
    currentQueue = state.get();
    const auto ready = [&] {
        const std::uint64_t word = state->word.load(std::memory_order_acquire);
        return (word & QueueState::kRunning) == 0 &&
               (word >= QueueState::kWaiting || (word & QueueState::kStopping) != 0);
    };
    const auto wakeUp = [&] { return ready() || state->timerAdded; };
    std::unique_lock lock(state->mutex);
    for (;;) {
        // One thread waits for both the jobs and the timers: a tick costs one wake-up.
        if (const auto next = state->queueDueTicks()) {
            state->wake.wait_until(lock, *next, wakeUp);
        } else {
            state->wake.wait(lock, wakeUp);
        }
        if (!ready()) {
            continue; // a timer is due or new
        }
        if (state->jobs.empty()) {
            return; // stopping, and nothing left to run
        }
        // Jobs wait, so no submitter takes the queue meanwhile: it takes only an idle one.
        state->word.fetch_add(QueueState::kRunning - QueueState::kWaiting,
                              std::memory_order_acquire);
        auto job = std::move(state->jobs.front());
        state->jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr; // release what the job captured before taking the lock again
        state->word.fetch_sub(QueueState::kRunning, std::memory_order_release);
        lock.lock();
    }
}

class PortableSerialQueue final : public SerialQueue {
  public:
    explicit PortableSerialQueue(std::string label)
        : state_(std::make_shared<QueueState>(std::move(label))),
          worker_([state = state_] { runQueue(state); }) {}

    // Runs what was submitted before, then ends the worker. A queue released by one of its own
    // jobs cannot wait for itself, so its worker finishes alone.
    ~PortableSerialQueue() override {
        {
            std::lock_guard lock(state_->mutex);
            state_->word.fetch_or(QueueState::kStopping, std::memory_order_relaxed);
        }
        state_->wake.notify_one();
        if (isCurrent()) {
            worker_.detach();
        } else {
            worker_.join();
        }
    }

    const std::string& label() const override { return state_->label; }

    void async(std::function<void()> job) override {
        // The job may release this queue before we return, so reach the state through our own
        // reference, not through this object.
        const std::shared_ptr<QueueState> state = state_;
        {
            std::lock_guard lock(state->mutex);
            state->queue(std::move(job));
        }
        state->wake.notify_one();
    }

    // Runs the job here when the queue is idle: nothing running or waiting, not stopping, and
    // not called from a job of any queue (it must not run inside that job).
    bool runHereIfIdle(const std::function<void()>& job) override {
        std::uint64_t idle = 0;
        if (currentQueue != nullptr || !state_->word.compare_exchange_strong(
                                           idle, QueueState::kRunning, std::memory_order_acquire)) {
            return false;
        }
        const std::shared_ptr<QueueState> state = state_; // the job may release this queue
        currentQueue = state.get();
        // A job that throws ends the process, as it would on the queue's own thread, rather
        // than leave the queue marked busy for ever.
        [&]() noexcept { job(); }();
        currentQueue = nullptr;
        state->release();
        return true;
    }

    bool isCurrent() const override { return currentQueue == state_.get(); }

    // Starts `timer` ticking on this queue, the first tick at once.
    void addTimer(const std::shared_ptr<TimerState>& timer) {
        {
            std::lock_guard lock(state_->mutex);
            state_->timers.push_back(timer);
            state_->timerAdded = true;
        }
        state_->wake.notify_one();
    }
    void removeTimer(const std::shared_ptr<TimerState>& timer) {
        std::lock_guard lock(state_->mutex);
        std::erase(state_->timers, timer);
        timer->cancelled = true;
    }

  private:
    std::shared_ptr<QueueState> state_;
    std::thread worker_;
};

// A timer's ticks are run by its queue's own worker, which waits for the next deadline and for
// jobs at once: no thread of the timer's own, and one wake-up per tick.
class PortableRepeatingTimer final : public RepeatingTimer {
  public:
    PortableRepeatingTimer(std::shared_ptr<SerialQueue> queue, std::chrono::nanoseconds interval,
                           std::function<void()> handler)
        : queue_(std::move(queue)),
          state_(std::make_shared<TimerState>(interval, std::move(handler))) {
        // A timer's queue comes from the same dispatch (its callers guarantee it).
        assert(dynamic_cast<PortableSerialQueue*>(queue_.get()) != nullptr);
        static_cast<PortableSerialQueue&>(*queue_).addTimer(state_);
    }

    ~PortableRepeatingTimer() override {
        static_cast<PortableSerialQueue&>(*queue_).removeTimer(state_);
        // Wait for a tick in progress, unless this is that tick cancelling its own timer.
        if (!queue_->isCurrent()) {
            std::lock_guard wait(state_->running);
        }
    }

  private:
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<TimerState> state_;
};

} // namespace

std::shared_ptr<SerialQueue> PortableDispatch::makeSerialQueue(std::string label) {
    return std::make_shared<PortableSerialQueue>(std::move(label));
}

std::unique_ptr<RepeatingTimer>
PortableDispatch::startRepeatingTimer(std::shared_ptr<SerialQueue> queue,
                                      std::chrono::nanoseconds interval,
                                      std::function<void()> handler) {
    return std::make_unique<PortableRepeatingTimer>(std::move(queue), interval, std::move(handler));
}

void PortableDispatch::asyncOnMain(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        mainJobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void PortableDispatch::runMainLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopRequested_ || !mainJobs_.empty(); });
        if (stopRequested_) {
            stopRequested_ = false;
            return;
        }
        auto job = std::move(mainJobs_.front());
        mainJobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
}

void PortableDispatch::stopMainLoop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_one();
}

} // namespace tovanel::platform::portable
