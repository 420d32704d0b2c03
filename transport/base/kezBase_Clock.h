// The one clock that time-outs read, so that every wait measures time the same way.
#pragma once

#include <chrono>
#include <cstdint>

namespace kez {

using TkezClock = std::chrono::steady_clock;
using TkezClockPoint = TkezClock::time_point;

// Monotonic milliseconds since an arbitrary start.
inline int64_t TickCountMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TkezClock::now().time_since_epoch()).count();
}

} // namespace kez
