#include "kezBase_MainThread.h"

#include <chrono>

namespace kez {

namespace {
std::mutex GDispatcherLock;
std::shared_ptr<TkezMainThreadDispatcher> GDispatcher;
} // namespace

void SetMainThreadDispatcher(std::shared_ptr<TkezMainThreadDispatcher> aDispatcher) {
    std::lock_guard guard(GDispatcherLock);
    GDispatcher = std::move(aDispatcher);
}

std::shared_ptr<TkezMainThreadDispatcher> MainThreadDispatcher() {
    std::lock_guard guard(GDispatcherLock);
    return GDispatcher;
}

void MainThreadPost(std::function<void()> aCall) {
    const auto dispatcher = MainThreadDispatcher();
    if (!dispatcher || dispatcher->IsMainThread())
        aCall();
    else
        dispatcher->Post(std::move(aCall));
}

void MainThreadSend(std::function<void()> aCall) {
    const auto dispatcher = MainThreadDispatcher();
    if (!dispatcher || dispatcher->IsMainThread())
        aCall();
    else
        dispatcher->Send(std::move(aCall));
}

void TkezMainLoop::Post(std::function<void()> aCall) {
    {
        std::lock_guard guard(FLock);
        FCalls.push_back(std::move(aCall));
    }
    FQueued.notify_all();
}

void TkezMainLoop::Send(std::function<void()> aCall) {
    if (IsMainThread()) {
        aCall();
        return;
    }
    auto done = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
    bool finished = false;
    Post([&, done] {
        try {
            aCall();
        } catch (...) {}
        std::lock_guard guard(done->first);
        finished = true;
        done->second.notify_all();
    });
    std::unique_lock lock(done->first);
    done->second.wait(lock, [&] { return finished; });
}

void TkezMainLoop::Pump() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard guard(FLock);
        calls.swap(FCalls);
    }
    for (auto& call : calls)
        call();
}

bool TkezMainLoop::PumpUntil(const std::function<bool()>& aPredicate, int aTimeoutMs) {
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    for (;;) {
        Pump();
        if (aPredicate()) return true;
        const auto now = steady_clock::now();
        if (now >= deadline) return false;
        // The predicate may also turn true without a posted call, so look again at least every 10 ms.
        std::unique_lock lock(FLock);
        FQueued.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(10)),
                           [&] { return !FCalls.empty(); });
    }
}

} // namespace kez
