// Milliseconds on the monotonic clock, for tests that wait or time things.
#ifndef VARNOX_TESTS_SUPPORT_ELAPSED_H
#define VARNOX_TESTS_SUPPORT_ELAPSED_H

#include <chrono>

namespace varnox::test {

using Clock = std::chrono::steady_clock;

// Milliseconds since `start`.
inline long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Milliseconds left until `deadline`, 0 once it has passed (a poll() time-out).
inline int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace varnox::test

#endif
