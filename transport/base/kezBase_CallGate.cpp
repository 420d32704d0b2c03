#include "kezBase_CallGate.h"

#include "kezBase_MainThread.h"

#include <chrono>

namespace kez {

TkezCallGate::TEntry TkezCallGate::Enter() {
    const auto self = std::this_thread::get_id();
    std::lock_guard guard(FLock);
    if (!FOpen) return TEntry();
    for (auto& [thread, depth] : FInside)
        if (thread == self) {
            ++depth;
            return TEntry(this);
        }
    FInside.emplace_back(self, 1);
    return TEntry(this);
}

void TkezCallGate::Leave() {
    const auto self = std::this_thread::get_id();
    std::lock_guard guard(FLock);
    for (size_t i = 0; i < FInside.size(); ++i) {
        if (FInside[i].first != self) continue;
        if (--FInside[i].second == 0) {
            FInside[i] = FInside.back();
            FInside.pop_back();
        }
        break;
    }
    // Only a closing owner waits for calls to leave.
    if (!FOpen) FLeft.notify_all();
}

bool TkezCallGate::IsOpen() const {
    std::lock_guard guard(FLock);
    return FOpen;
}

bool TkezCallGate::Close(int aTimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    const auto self = std::this_thread::get_id();
    const auto onlySelf = [&] {
        return FInside.empty() || (FInside.size() == 1 && FInside.front().first == self);
    };
    const auto dispatcher = MainThreadDispatcher();
    const bool mainThread = dispatcher && dispatcher->IsMainThread();
    std::unique_lock lock(FLock);
    FOpen = false;
    while (!onlySelf()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (mainThread) {
            lock.unlock();
            dispatcher->RunWaitingCalls();
            lock.lock();
            FLeft.wait_for(lock, std::chrono::milliseconds(5));
        } else {
            FLeft.wait_until(lock, deadline);
        }
    }
    return true;
}

} // namespace kez
