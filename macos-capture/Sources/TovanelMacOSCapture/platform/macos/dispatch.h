// Dispatch on macOS: libdispatch serial queues and timer sources, the main queue, and the main
// thread's NSRunLoop. Objective-C++ (ARC) only: dispatch objects are ARC-managed.
#pragma once

#include "platform/dispatch.h"

#include <dispatch/dispatch.h>

#if !__has_feature(objc_arc)
#error "platform/macos/dispatch.h is for Objective-C++ compiled with -fobjc-arc"
#endif

namespace tovanel::platform::macos {

// A libdispatch serial queue, created active, targeting the default-priority global queue.
class MacSerialQueue final : public SerialQueue {
  public:
    explicit MacSerialQueue(std::string label);

    const std::string& label() const override { return label_; }
    void async(std::function<void()> job) override;
    bool isCurrent() const override;

    // For the platform calls that take a queue (timers, stream outputs).
    dispatch_queue_t dispatchQueue() const { return queue_; }

  private:
    const std::string label_;
    dispatch_queue_t queue_; // strong (ARC)
};

class MacDispatch final : public Dispatch {
  public:
    std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) override;
    // A DISPATCH_SOURCE_TYPE_TIMER on the queue: first tick now, then every `interval`, no leeway.
    std::unique_ptr<RepeatingTimer> startRepeatingTimer(std::shared_ptr<SerialQueue> queue,
                                                        std::chrono::nanoseconds interval,
                                                        std::function<void()> handler) override;
    void asyncOnMain(std::function<void()> job) override;
    // [[NSRunLoop mainRunLoop] run]: it also runs the blocks sent to the main queue.
    void runMainLoop() override;
};

} // namespace tovanel::platform::macos
