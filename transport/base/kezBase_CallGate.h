// A gate between an object and the threads and posted calls that call into it. A call enters before it
// touches the object and leaves when done; the owner closes the gate in its destructor, which waits for the
// calls inside to leave, and from then on no call gets in. Threads, timers and posted calls hold the gate in
// shared ownership, so it outlives the object it guards.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kez {

class TkezCallGate {
public:
    class TEntry {
    public:
        TEntry() = default;
        explicit TEntry(TkezCallGate* aGate) : FGate(aGate) {}
        TEntry(TEntry&& aOther) noexcept : FGate(std::exchange(aOther.FGate, nullptr)) {}
        TEntry& operator=(TEntry&& aOther) noexcept {
            if (this != &aOther) {
                if (FGate) FGate->Leave();
                FGate = std::exchange(aOther.FGate, nullptr);
            }
            return *this;
        }
        ~TEntry() {
            if (FGate) FGate->Leave();
        }
        explicit operator bool() const noexcept { return FGate != nullptr; }

    private:
        TkezCallGate* FGate = nullptr;
    };

    // An entry that keeps the gate open for the caller until it goes; empty once the gate is closed.
    TEntry Enter();
    // Closes the gate and waits up to aTimeoutMs for the calls of other threads to leave (calls of the
    // closing thread itself are not waited for). While it waits on the main thread it runs the calls that
    // other threads are waiting to run there, so that a caller blocked on the main thread cannot block the
    // close. False when calls were still inside at the deadline.
    bool Close(int aTimeoutMs);
    bool IsOpen() const;

private:
    void Leave();

    mutable std::mutex FLock;
    std::condition_variable FLeft;
    bool FOpen = true;
    // Threads inside and how deep; a handful at most, so a flat list beats a hash map on every call.
    std::vector<std::pair<std::thread::id, int>> FInside;
};

using TkezCallGatePtr = std::shared_ptr<TkezCallGate>;

} // namespace kez
