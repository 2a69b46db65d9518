// libdispatch queues and timers, and the main run loop. Under ARC, dispatch objects are
// Objective-C objects: the creators return them retained and ARC releases them.
#include "platform/macos/dispatch.h"

#import <Foundation/Foundation.h>

namespace tovanel::platform::macos {

namespace {

// Each queue tags itself under this key with its own address, so a job can tell which queue
// runs it.
char queueIdentityKey;

// Wraps a job for libdispatch. The job's Objective-C temporaries are drained with it, whatever
// the queue's own autorelease policy.
dispatch_block_t blockFor(std::function<void()> job) {
    return ^{
      @autoreleasepool {
          job();
      }
    };
}

class MacRepeatingTimer final : public RepeatingTimer {
  public:
    explicit MacRepeatingTimer(dispatch_source_t source) : source_(source) {}
    // No new ticks after this; a tick already running finishes.
    ~MacRepeatingTimer() override { dispatch_source_cancel(source_); }

  private:
    dispatch_source_t source_; // strong (ARC)
};

} // namespace

MacSerialQueue::MacSerialQueue(std::string label)
    : label_(std::move(label)),
      queue_(dispatch_queue_create(label_.c_str(), DISPATCH_QUEUE_SERIAL)) {
    dispatch_queue_set_specific(queue_, &queueIdentityKey, this, nullptr);
}

void MacSerialQueue::async(std::function<void()> job) {
    dispatch_async(queue_, blockFor(std::move(job)));
}

bool MacSerialQueue::isCurrent() const { return dispatch_get_specific(&queueIdentityKey) == this; }

std::shared_ptr<SerialQueue> MacDispatch::makeSerialQueue(std::string label) {
    return std::make_shared<MacSerialQueue>(std::move(label));
}

std::unique_ptr<RepeatingTimer> MacDispatch::startRepeatingTimer(std::shared_ptr<SerialQueue> queue,
                                                                 std::chrono::nanoseconds interval,
                                                                 std::function<void()> handler) {
    // Callers guarantee the queue is one of ours. The source retains it.
    const dispatch_queue_t target = static_cast<const MacSerialQueue&>(*queue).dispatchQueue();
    dispatch_source_t source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, target);
    dispatch_source_set_timer(source, dispatch_time(DISPATCH_TIME_NOW, 0),
                              static_cast<std::uint64_t>(interval.count()), 0);
    // The handler holds the job only, not the source: no retain cycle.
    dispatch_source_set_event_handler(source, blockFor(std::move(handler)));
    dispatch_resume(source);
    return std::make_unique<MacRepeatingTimer>(source);
}

void MacDispatch::asyncOnMain(std::function<void()> job) {
    dispatch_async(dispatch_get_main_queue(), blockFor(std::move(job)));
}

void MacDispatch::runMainLoop() { [[NSRunLoop mainRunLoop] run]; }

} // namespace tovanel::platform::macos
