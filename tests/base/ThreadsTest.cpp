#include "kezWebSocket_Classes_Threads.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

using namespace kez;
using namespace std::chrono;

namespace {

// Collects timer fires; tests wait for a number of them with a deadline.
struct FireLog {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<steady_clock::time_point> Times;
    std::vector<std::thread::id> Threads;

    void Add() {
        std::lock_guard guard(Lock);
        Times.push_back(steady_clock::now());
        Threads.push_back(std::this_thread::get_id());
        Changed.notify_all();
    }
    bool WaitFor(size_t aCount, milliseconds aTimeout = seconds(10)) {
        std::unique_lock lock(Lock);
        return Changed.wait_for(lock, aTimeout, [&] { return Times.size() >= aCount; });
    }
};

TEST(Timer, FiresEveryIntervalRoundedUpToWholeSteps) {
    FireLog log;
    auto timer = std::make_shared<TkezTimer>();
    timer->SetInterval(250);
    timer->OnTimer = [&](TObject*) { log.Add(); };
    const auto enabled = steady_clock::now();
    timer->SetEnabled(true);
    ASSERT_TRUE(log.WaitFor(3));
    FreeAndNilThread(timer);
    std::lock_guard guard(log.Lock);
    // A deadline wait never returns early, so each period is at least three 100 ms steps.
    EXPECT_GE(log.Times[0] - enabled, milliseconds(300));
    EXPECT_GE(log.Times[1] - log.Times[0], milliseconds(300));
    EXPECT_GE(log.Times[2] - log.Times[1], milliseconds(300));
}

TEST(Timer, DisabledTimerEndsAtOnceAndStaysStopped) {
    auto timer = std::make_shared<TkezTimer>();
    timer->SetInterval(60000);
    timer->SetEnabled(true);
    timer->SetEnabled(false);
    EXPECT_TRUE(timer->WaitFor(5000));
    EXPECT_TRUE(timer->Finished());
    timer->SetEnabled(true);
    EXPECT_FALSE(timer->Enabled());
}

TEST(Timer, HandlerExceptionsGoToOnExceptionAndTheTimerGoesOn) {
    FireLog log;
    std::string message;
    auto timer = std::make_shared<TkezTimer>();
    timer->SetInterval(100);
    timer->OnTimer = [&](TObject*) { throw std::runtime_error("boom"); };
    timer->OnException = [&](TObject*, const std::exception& E) {
        message = E.what();
        log.Add();
    };
    timer->SetEnabled(true);
    ASSERT_TRUE(log.WaitFor(2));
    FreeAndNilThread(timer);
    EXPECT_EQ(message, "boom");
}

TEST(Timer, FreeAndNilFromItsOwnHandlerReturnsAndTheTimerFreesItself) {
    FireLog log;
    auto timer = std::make_shared<TkezTimer>();
    std::weak_ptr<TkezTimer> observer = timer;
    auto owner = std::make_shared<std::shared_ptr<TkezTimer>>(timer);
    timer.reset();
    (*owner)->SetInterval(100);
    (*owner)->OnTimer = [owner, &log](TObject*) {
        FreeAndNilThread(*owner); // from the timer's own thread
        log.Add();
    };
    (*owner)->SetEnabled(true);
    ASSERT_TRUE(log.WaitFor(1));
    // The handler holds the last reference through its capture; once the thread ends it is all released.
    owner.reset();
    const auto deadline = steady_clock::now() + seconds(10);
    while (!observer.expired() && steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_TRUE(observer.expired());
}

TEST(Timer, AsynchronousTimerFiresOnTheMainThread) {
    auto loop = std::make_shared<TkezMainLoop>();
    SetMainThreadDispatcher(loop);
    FireLog log;
    auto timer = std::make_shared<TkezTimer>();
    timer->SetInterval(100);
    timer->SetNotifyEvents(neAsynchronous);
    timer->OnTimer = [&](TObject*) { log.Add(); };
    timer->SetEnabled(true);
    EXPECT_TRUE(loop->PumpUntil(
        [&] {
            std::lock_guard guard(log.Lock);
            return log.Times.size() >= 2;
        },
        10000));
    FreeAndNilThread(timer);
    loop->Pump();
    SetMainThreadDispatcher(nullptr);
    std::lock_guard guard(log.Lock);
    for (auto id : log.Threads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(Timer, SynchronousTimerStoppedByTheMainThreadDoesNotDeadlock) {
    auto loop = std::make_shared<TkezMainLoop>();
    SetMainThreadDispatcher(loop);
    FireLog log;
    auto timer = std::make_shared<TkezTimer>();
    timer->SetInterval(100);
    timer->SetNotifyEvents(neSynchronous);
    timer->OnTimer = [&](TObject*) { log.Add(); };
    timer->SetEnabled(true);
    // Wait until the timer thread is blocked handing its call to the main thread, then stop it from there.
    const auto deadline = steady_clock::now() + seconds(10);
    while (!timer->IsExecuting() && steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(timer->IsExecuting());
    std::weak_ptr<TkezTimer> observer = timer;
    FreeAndNilThread(timer);
    // It returned without waiting for the blocked thread, which still lives and ends once its call has run.
    EXPECT_FALSE(observer.expired());
    EXPECT_TRUE(loop->PumpUntil([&] { return observer.expired(); }, 10000));
    SetMainThreadDispatcher(nullptr);
}

} // namespace
