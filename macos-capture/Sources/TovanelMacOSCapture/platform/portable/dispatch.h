// Dispatch in portable C++: a thread per serial queue, which also runs the queue's timers, and a
// main queue drained by the main run loop.
#pragma once

#include "platform/dispatch.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace tovanel::platform::portable {

class PortableDispatch : public Dispatch {
  public:
    std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) override;
    std::unique_ptr<RepeatingTimer> startRepeatingTimer(std::shared_ptr<SerialQueue> queue,
                                                        std::chrono::nanoseconds interval,
                                                        std::function<void()> handler) override;
    void asyncOnMain(std::function<void()> job) override;
    void runMainLoop() override;

    // Makes runMainLoop return once the job running now, if any, has finished. Tests only: the
    // program never leaves its run loop.
    void stopMainLoop();

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> mainJobs_;
    bool stopRequested_ = false;
};

} // namespace tovanel::platform::portable
