// Event texts recorded by handlers on any thread; tests wait for them with a deadline.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kez::test {

class TEventLog {
public:
    // Notified under the lock, so that whoever takes the lock later has seen the handler's last touch.
    void Add(std::string aEvent) {
        std::lock_guard guard(FLock);
        FEvents.push_back(std::move(aEvent));
        FChanged.notify_all();
    }
    bool WaitFor(const std::string& aEvent, int aTimeoutMs = 5000) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, std::chrono::milliseconds(aTimeoutMs), [&] {
            return std::find(FEvents.begin(), FEvents.end(), aEvent) != FEvents.end();
        });
    }
    // Waits until aCount events start with aPrefix.
    bool WaitForCount(const std::string& aPrefix, size_t aCount, int aTimeoutMs = 5000) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, std::chrono::milliseconds(aTimeoutMs),
                                 [&] { return CountLocked(aPrefix) >= aCount; });
    }
    std::vector<std::string> Events() const {
        std::lock_guard guard(FLock);
        return FEvents;
    }
    // The events that start with aPrefix, in order.
    std::vector<std::string> Events(const std::string& aPrefix) const {
        std::lock_guard guard(FLock);
        std::vector<std::string> events;
        for (const std::string& event : FEvents)
            if (event.rfind(aPrefix, 0) == 0) events.push_back(event);
        return events;
    }
    size_t Count(const std::string& aEvent) const {
        std::lock_guard guard(FLock);
        return static_cast<size_t>(std::count(FEvents.begin(), FEvents.end(), aEvent));
    }
    size_t CountPrefix(const std::string& aPrefix) const {
        std::lock_guard guard(FLock);
        return CountLocked(aPrefix);
    }
    // Takes and releases the lock: after it, every earlier Add has completed.
    void Quiesce() const { std::lock_guard guard(FLock); }

private:
    size_t CountLocked(const std::string& aPrefix) const {
        return static_cast<size_t>(std::count_if(
            FEvents.begin(), FEvents.end(), [&](const std::string& e) { return e.rfind(aPrefix, 0) == 0; }));
    }

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::string> FEvents;
};

// Waits up to aTimeoutMs for aCondition, looking again as other threads move on.
inline bool WaitUntil(const std::function<bool()>& aCondition, int aTimeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    while (!aCondition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Polled, not spun: the broker under test shares the machine's two cores.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace kez::test
