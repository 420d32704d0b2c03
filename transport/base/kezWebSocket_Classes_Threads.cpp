#include "kezWebSocket_Classes_Threads.h"

#include <algorithm>
#include <pthread.h>
#include <stdexcept>

namespace kez {

// --- TkezVoxThread ---

TkezVoxThread::TkezVoxThread(bool aLoop, std::string aName) : FLoop(aLoop), FDebugName(std::move(aName)) {}

TkezVoxThread::~TkezVoxThread() {
    // A descendant with a Run of its own has stopped the thread already (StopAndJoin).
    StopAndJoin();
}

void TkezVoxThread::StopAndJoin() {
    Terminate();
    if (!FThread.joinable()) return;
    if (FThread.get_id() == std::this_thread::get_id())
        FThread.detach();
    else
        FThread.join();
}

void TkezVoxThread::Start() {
    std::lock_guard guard(FStateLock);
    if (FStarted) return;
    FStarted = true;
    FThread = std::thread([this] { Body(); });
}

void TkezVoxThread::Terminate() {
    {
        // Under the state lock, so that a sleeper cannot miss the wake-up between its test and its wait.
        std::lock_guard guard(FStateLock);
        FTerminated.store(true, std::memory_order_release);
    }
    FStateChanged.notify_all();
    DoTerminate();
}

bool TkezVoxThread::Started() const {
    std::lock_guard guard(FStateLock);
    return FStarted;
}

bool TkezVoxThread::Finished() const {
    std::lock_guard guard(FStateLock);
    return FFinished;
}

bool TkezVoxThread::WaitFor(int aTimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    const auto dispatcher = MainThreadDispatcher();
    const bool mainThread = dispatcher && dispatcher->IsMainThread();
    std::unique_lock lock(FStateLock);
    if (!FStarted || FFinished) return true;
    if (FThreadId == std::this_thread::get_id()) return false;
    if (!mainThread) return FStateChanged.wait_until(lock, deadline, [this] { return FFinished; });
    // On the main thread, the thread may be waiting to run a call here: run such calls while waiting.
    while (!FFinished) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        lock.unlock();
        dispatcher->RunWaitingCalls();
        lock.lock();
        FStateChanged.wait_for(lock, std::chrono::milliseconds(5), [this] { return FFinished; });
    }
    return true;
}

void TkezVoxThread::SetFreeOnTerminate(bool aValue) {
    std::lock_guard guard(FStateLock);
    if (!aValue)
        FSelf.reset();
    else if (FStarted && !FFinished)
        FSelf = shared_from_this();
}

std::thread::id TkezVoxThread::ThreadId() const {
    std::lock_guard guard(FStateLock);
    return FThreadId;
}

bool TkezVoxThread::IsCurrentThread() const { return ThreadId() == std::this_thread::get_id(); }

void TkezVoxThread::Execute() {
    if (!FLoop) {
        Run();
        return;
    }
    while (!Terminated())
        Run();
}

bool TkezVoxThread::SleepUntilTerminated(std::chrono::steady_clock::time_point aDeadline) {
    std::unique_lock lock(FStateLock);
    return FStateChanged.wait_until(lock, aDeadline, [this] { return Terminated(); });
}

void TkezVoxThread::Body() {
    {
        std::lock_guard guard(FStateLock);
        FThreadId = std::this_thread::get_id();
    }
    // Named for debuggers and /proc; the system keeps 15 characters.
    if (!FDebugName.empty()) pthread_setname_np(pthread_self(), FDebugName.substr(0, 15).c_str());
    try {
        Execute();
    } catch (...) {
        // No exception leaves a thread body; descendants report their own.
    }
    std::shared_ptr<TkezVoxThread> self;
    {
        std::lock_guard guard(FStateLock);
        FFinished = true;
        self = std::move(FSelf);
    }
    FStateChanged.notify_all();
    // Releasing the last reference here destroys this object on its own thread, which then detaches.
}

// --- TkezTimer ---

void TkezTimer::SetEnabled(bool aValue) {
    if (aValue && Terminated()) return; // a stopped timer stays stopped
    FEnabled.store(aValue, std::memory_order_release);
    if (aValue)
        Start();
    else
        Terminate();
}

void TkezTimer::DoTerminate() { FEnabled.store(false, std::memory_order_release); }

void TkezTimer::Run() {
    try {
        // A period of whole 100 ms steps, at least one, so that an interval of 0 cannot spin.
        const int steps = std::max(1, (Interval() + 99) / 100);
        if (SleepUntilTerminated(std::chrono::steady_clock::now() + std::chrono::milliseconds(100 * steps)))
            return;
        switch (NotifyEvents()) {
        case neNoSync: DoTimer(); break;
        case neAsynchronous: {
            std::weak_ptr<TkezVoxThread> weak = weak_from_this();
            MainThreadPost([this, weak] {
                // The timer may have been stopped or released before the main thread got here.
                if (auto alive = weak.lock(); alive && !Terminated()) DoTimer();
            });
            break;
        }
        case neSynchronous:
            // Marked as executing while it waits, so that FreeAndNilThread from the main thread does not wait
            // for it in turn.
            SetIsExecuting(true);
            try {
                MainThreadSend([this] { DoTimer(); });
            } catch (...) {
                SetIsExecuting(false);
                throw;
            }
            SetIsExecuting(false);
            break;
        }
    } catch (const std::exception& e) {
        DoTimerException(e);
    } catch (...) {
        DoTimerException(std::runtime_error("Unknown exception in a timer handler."));
    }
}

void TkezTimer::DoTimer() {
    if (!OnTimer) return;
    SetIsExecuting(true);
    try {
        OnTimer(this);
    } catch (...) {
        SetIsExecuting(false);
        throw; // to DoTimerException, through Run
    }
    SetIsExecuting(false);
}

void TkezTimer::DoTimerException(const std::exception& E) {
    if (!OnException) return;
    SetIsExecuting(true);
    try {
        OnException(this, E);
    } catch (...) {
        // A failing exception handler must not end the timer.
    }
    SetIsExecuting(false);
}

} // namespace kez
