// Dispatch in portable C++.
#include "platform/portable/dispatch.h"

#include <pthread.h>

#include <atomic>
#include <thread>

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

// What a queue's worker shares with the queue object. The worker holds it too, so a queue
// released by one of its own jobs does not pull the ground from under its worker.
struct QueueState {
    explicit QueueState(std::string label) : label(std::move(label)) {}

    const std::string label;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool running = false; // a job is running, on the worker or on a submitter's thread
    bool stopping = false;
};

void runQueue(const std::shared_ptr<QueueState>& state) {
    nameThisThread(state->label);
    currentQueue = state.get();
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(
            lock, [&] { return !state->running && (state->stopping || !state->jobs.empty()); });
        if (state->jobs.empty()) {
            return;
        }
        auto job = std::move(state->jobs.front());
        state->jobs.pop_front();
        state->running = true;
        lock.unlock();
        job();
        job = nullptr; // release what the job captured before taking the lock again
        lock.lock();
        state->running = false;
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
            state_->stopping = true;
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
            state->jobs.push_back(std::move(job));
        }
        state->wake.notify_one();
    }

    void asyncOrRunHere(std::function<void()> job) override {
        const std::shared_ptr<QueueState> state = state_;
        {
            std::lock_guard lock(state->mutex);
            // Queued when a job is running or waiting (order and one at a time), when a job of
            // any queue submits (it must not run inside that job) or when the queue is stopping.
            if (currentQueue != nullptr || state->running || !state->jobs.empty() ||
                state->stopping) {
                state->jobs.push_back(std::move(job));
                state->wake.notify_one();
                return;
            }
            state->running = true;
        }
        currentQueue = state.get();
        // A job that throws ends the process, as it would on the queue's own thread, rather
        // than leave the queue marked busy for ever.
        [&]() noexcept {
            job();
            job = nullptr;
        }();
        currentQueue = nullptr;
        std::lock_guard lock(state->mutex);
        state->running = false;
        if (!state->jobs.empty() || state->stopping) {
            state->wake.notify_one(); // what was queued meanwhile is the worker's now
        }
    }

    bool isCurrent() const override { return currentQueue == state_.get(); }

  private:
    std::shared_ptr<QueueState> state_;
    std::thread worker_;
};

// What a timer's ticks share with its handle; a tick already queued keeps it alive.
struct TimerState {
    std::function<void()> handler;
    std::mutex running; // held while the handler runs, so cancelling can wait for it
    std::atomic<bool> cancelled{false};
    std::atomic<bool> tickPending{false};
};

class PortableRepeatingTimer final : public RepeatingTimer {
  public:
    PortableRepeatingTimer(std::shared_ptr<SerialQueue> queue, std::chrono::nanoseconds interval,
                           std::function<void()> handler)
        : queue_(std::move(queue)), state_(std::make_shared<TimerState>()) {
        state_->handler = std::move(handler);
        clock_ = std::thread([this, interval] { runClock(interval); });
    }

    ~PortableRepeatingTimer() override {
        {
            std::lock_guard lock(mutex_);
            state_->cancelled = true;
        }
        wake_.notify_one();
        clock_.join();
        // Wait for a tick in progress, unless this is that tick cancelling its own timer.
        if (!queue_->isCurrent()) {
            std::lock_guard wait(state_->running);
        }
    }

  private:
    void runClock(std::chrono::nanoseconds interval) {
        auto deadline = std::chrono::steady_clock::now();
        std::unique_lock lock(mutex_);
        while (!state_->cancelled) {
            if (!state_->tickPending.exchange(true)) {
                queue_->async([state = state_] {
                    std::lock_guard running(state->running);
                    state->tickPending = false;
                    if (!state->cancelled) {
                        state->handler();
                    }
                });
            }
            deadline += interval;
            wake_.wait_until(lock, deadline, [&] { return state_->cancelled.load(); });
        }
    }

    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<TimerState> state_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread clock_;
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
