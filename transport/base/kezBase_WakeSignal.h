// A wake-up for one thread that sleeps until another has made its condition true. It enters the kernel only
// when the sleeper really sleeps: the notifier's side is two atomic operations otherwise.
//   sleeper:  const auto epoch = signal.Epoch(); if (!condition()) signal.Wait(epoch);
//   notifier: make condition() true; signal.Notify();
// Chosen over std::condition_variable where wake-ups are many and short: glibc re-takes a condition
// variable's mutex on waking marked as contended, so the next unlock enters the kernel a second time.
#pragma once

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>

namespace kez {

class TkezWakeSignal {
public:
    // Read before the sleeper tests its condition.
    uint32_t Epoch() const noexcept { return FEpoch.load(); }

    // Sleeps unless Notify has been called since aEpoch was read.
    void Wait(uint32_t aEpoch) noexcept {
        FSleepers.fetch_add(1);
        while (FEpoch.load() == aEpoch)
            syscall(SYS_futex, reinterpret_cast<uint32_t*>(&FEpoch), FUTEX_WAIT_PRIVATE, aEpoch, nullptr,
                    nullptr, 0);
        FSleepers.fetch_sub(1);
    }

    // Wakes every sleeper.
    void Notify() noexcept {
        FEpoch.fetch_add(1);
        // Sequentially consistent with the sleeper's increment and load: either it sees the new epoch, or
        // this sees it counted.
        if (FSleepers.load() > 0)
            syscall(SYS_futex, reinterpret_cast<uint32_t*>(&FEpoch), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
                    nullptr, 0);
    }

private:
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                      std::atomic<uint32_t>::is_always_lock_free,
                  "the kernel waits on the atomic's own word");
    std::atomic<uint32_t> FEpoch{0};
    std::atomic<uint32_t> FSleepers{0};
};

} // namespace kez
