// The worker-thread base, the timer built on it, and FreeAndNilThread.
//
// Threads are held in shared ownership. A thread that must end on its own (stopped from its own callback, or
// one that does not stop in time) is set to FreeOnTerminate: it keeps itself alive until its body returns and
// is released there. Nothing ever joins a thread from itself.
#pragma once

#include "kezBase_Classes.h"
#include "kezBase_MainThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kez {

class TkezVoxThread : public TObject, public std::enable_shared_from_this<TkezVoxThread> {
public:
    // aLoop: Execute calls Run over and over until the thread is terminated.
    explicit TkezVoxThread(bool aLoop = true, std::string aName = {});
    ~TkezVoxThread() override;
    TkezVoxThread(const TkezVoxThread&) = delete;
    TkezVoxThread& operator=(const TkezVoxThread&) = delete;

    void Start();
    // Asks the thread to stop and wakes it from its waits; it ends after the step in hand.
    void Terminate();
    bool Terminated() const noexcept { return FTerminated.load(std::memory_order_acquire); }
    bool Started() const;
    // True once the body has returned.
    bool Finished() const;
    // Waits up to aTimeoutMs for the body to return; false on time-out, and at once when called from the
    // thread itself.
    bool WaitFor(int aTimeoutMs);
    // While set, the running thread keeps this object alive and releases it when its body returns. Has no
    // effect once the body has returned. Needs the object to be owned by a std::shared_ptr.
    void SetFreeOnTerminate(bool aValue);

    const std::string& DebugName() const noexcept { return FDebugName; }
    void SetDebugName(std::string aName) { FDebugName = std::move(aName); }
    std::thread::id ThreadId() const;
    // Set while a callback of the thread runs (possibly waiting for another thread).
    bool IsExecuting() const noexcept { return FIsExecuting.load(std::memory_order_acquire); }
    bool IsCurrentThread() const;

protected:
    virtual void Execute();
    virtual void Run() {}
    // Called by Terminate: descendants wake the waits of their own.
    virtual void DoTerminate() {}
    void SetIsExecuting(bool aValue) noexcept { FIsExecuting.store(aValue, std::memory_order_release); }
    // Sleeps until aDeadline or until the thread is terminated; true when terminated.
    bool SleepUntilTerminated(std::chrono::steady_clock::time_point aDeadline);
    // For the destructors of descendants, whose Run must not outlive them: stops the thread and joins it (or
    // lets it go when called from the thread itself).
    void StopAndJoin();

private:
    void Body();

    const bool FLoop;
    std::string FDebugName;
    std::thread FThread;
    mutable std::mutex FStateLock;
    std::condition_variable FStateChanged;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FIsExecuting{false};
    bool FStarted = false;
    bool FFinished = false;
    std::thread::id FThreadId;
    std::shared_ptr<TkezVoxThread> FSelf;
};

using TkezTimerOnException = TkezEvent<void(TObject* Sender, const std::exception& E)>;

// Fires OnTimer every Interval milliseconds, rounded up to whole 100 ms steps, plus the time the handler
// takes. The thread starts when the timer is first enabled; disabled, it ends at once and cannot be enabled
// again. Assign OnTimer and OnException before enabling.
class TkezTimer : public TkezVoxThread {
public:
    TkezTimer() : TkezVoxThread(true, {}) {}
    ~TkezTimer() override { StopAndJoin(); }

    bool Enabled() const noexcept { return FEnabled.load(std::memory_order_acquire); }
    void SetEnabled(bool aValue);
    int Interval() const noexcept { return FInterval.load(std::memory_order_acquire); }
    void SetInterval(int aMilliseconds) noexcept {
        FInterval.store(aMilliseconds, std::memory_order_release);
    }
    TwsNotifyEvent NotifyEvents() const noexcept { return FNotifyEvents.load(std::memory_order_acquire); }
    void SetNotifyEvents(TwsNotifyEvent aValue) noexcept {
        FNotifyEvents.store(aValue, std::memory_order_release);
    }

    TNotifyEvent OnTimer;
    TkezTimerOnException OnException;

protected:
    void Run() override;
    void DoTerminate() override;
    virtual void DoTimer();
    virtual void DoTimerException(const std::exception& E);

private:
    std::atomic<bool> FEnabled{false};
    std::atomic<int> FInterval{60000};
    std::atomic<TwsNotifyEvent> FNotifyEvents{neNoSync};
};

// Stops and releases a thread from any thread. From the thread itself, or while its callback runs (which may
// be waiting for the caller), the thread is told to stop and frees itself when it ends; otherwise the caller
// waits up to about a second for it to end first.
template <typename T>
void FreeAndNilThread(std::shared_ptr<T>& aThread) {
    if (!aThread) return;
    if (aThread->IsCurrentThread() || aThread->IsExecuting()) {
        aThread->SetFreeOnTerminate(true);
        aThread->Terminate();
    } else {
        aThread->Terminate();
        if (!aThread->WaitFor(1001)) aThread->SetFreeOnTerminate(true);
    }
    aThread.reset();
}

} // namespace kez
