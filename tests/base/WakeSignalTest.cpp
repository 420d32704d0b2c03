#include "kezBase_WakeSignal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace kez;
using namespace std::chrono;

namespace {

// Sleeps on aSignal until aDone holds.
template <typename Done>
void SleepUntil(TkezWakeSignal& aSignal, Done aDone) {
    for (;;) {
        const uint32_t epoch = aSignal.Epoch();
        if (aDone()) return;
        aSignal.Wait(epoch);
    }
}

TEST(WakeSignal, NoWakeUpIsLostBetweenTwoThreads) {
    // Two threads hand a turn back and forth, each asleep until the other's Notify: a lost wake-up leaves
    // both asleep, which the deadline turns into a failure.
    constexpr int Rounds = 10000;
    TkezWakeSignal toOther, toMain;
    std::atomic<int> turn{0};
    std::atomic<bool> stop{false};
    std::thread other([&] {
        for (int i = 0; i < Rounds; ++i) {
            SleepUntil(toOther, [&] { return turn.load() == 2 * i + 1 || stop.load(); });
            if (stop.load()) return;
            turn.store(2 * i + 2);
            toMain.Notify();
        }
    });
    auto rounds = std::async(std::launch::async, [&] {
        for (int i = 0; i < Rounds; ++i) {
            turn.store(2 * i + 1);
            toOther.Notify();
            SleepUntil(toMain, [&] { return turn.load() == 2 * i + 2 || stop.load(); });
            if (stop.load()) return false;
        }
        return true;
    });
    const bool finished = rounds.wait_for(seconds(60)) == std::future_status::ready;
    if (!finished) {
        stop.store(true);
        toOther.Notify();
        toMain.Notify();
    }
    other.join();
    EXPECT_TRUE(finished && rounds.get());
}

} // namespace
