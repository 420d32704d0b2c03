#include "kezBase_CallGate.h"

#include "kezBase_MainThread.h"

#include <chrono>

namespace kez {

TkezCallGate::TEntry TkezCallGate::Enter() {
    std::lock_guard guard(FLock);
    if (!FOpen) return TEntry();
    ++FInside[std::this_thread::get_id()];
    return TEntry(this);
}

void TkezCallGate::Leave() {
    std::lock_guard guard(FLock);
    const auto it = FInside.find(std::this_thread::get_id());
    if (it != FInside.end() && --it->second == 0) FInside.erase(it);
    FLeft.notify_all();
}

bool TkezCallGate::IsOpen() const {
    std::lock_guard guard(FLock);
    return FOpen;
}

bool TkezCallGate::Close(int aTimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    const auto self = std::this_thread::get_id();
    const auto onlySelf = [&] {
        return FInside.empty() || (FInside.size() == 1 && FInside.count(self) == 1);
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
