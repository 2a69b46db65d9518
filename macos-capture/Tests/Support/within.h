// A wait with a bound: a test that waits for another thread fails saying what did not happen,
// instead of hanging until CTest's timeout.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>

namespace tovanel::test {

inline constexpr std::chrono::seconds kWaitBound{20};

// The value of `future` (a std::future or std::shared_future) once it is ready; ends the test
// program with a line naming `what` if that takes longer than kWaitBound.
template <class Future>
decltype(auto) within(Future&& future, const char* what) {
    if (future.wait_for(kWaitBound) != std::future_status::ready) {
        std::fprintf(stderr, "no %s within %lld s\n", what,
                     static_cast<long long>(kWaitBound.count()));
        std::abort();
    }
    return future.get();
}

} // namespace tovanel::test
