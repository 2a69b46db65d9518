// Waiting, bounded, for something a child process or another thread will make true.
#pragma once

#include <chrono>
#include <thread>

namespace tovanel::test {

// Polls `condition` until it holds or `timeout` has passed; returns its last answer.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

} // namespace tovanel::test
