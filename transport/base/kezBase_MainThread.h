// Running calls on the program's main thread. The application installs a dispatcher for its event loop (the
// window installs one for Qt); without one, calls run at once on the calling thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace kez {

// On which thread a component delivers its events.
enum TwsNotifyEvent : uint8_t {
    neNoSync,       // on the thread that raises them
    neAsynchronous, // posted to the main thread without waiting
    neSynchronous,  // run on the main thread while the raising thread waits
};

class TkezMainThreadDispatcher {
public:
    virtual ~TkezMainThreadDispatcher() = default;
    virtual bool IsMainThread() const = 0;
    // Queues aCall for the main thread and returns at once.
    virtual void Post(std::function<void()> aCall) = 0;
    // Runs aCall on the main thread and returns when it has run.
    virtual void Send(std::function<void()> aCall) = 0;
    // On the main thread, while it waits for another thread: runs the calls that threads are blocked on
    // (Send), so that such a wait cannot deadlock. The default runs nothing.
    virtual void RunWaitingCalls() {}
};

void SetMainThreadDispatcher(std::shared_ptr<TkezMainThreadDispatcher> aDispatcher);
std::shared_ptr<TkezMainThreadDispatcher> MainThreadDispatcher();

// Both run aCall at once when called on the main thread or when no dispatcher is installed.
void MainThreadPost(std::function<void()> aCall);
void MainThreadSend(std::function<void()> aCall);

// A minimal event loop for programs and tests without a GUI: the thread that creates it is the main thread,
// and it runs posted calls when it pumps.
class TkezMainLoop : public TkezMainThreadDispatcher {
public:
    TkezMainLoop() : FThread(std::this_thread::get_id()) {}
    bool IsMainThread() const override { return std::this_thread::get_id() == FThread; }
    void Post(std::function<void()> aCall) override;
    void Send(std::function<void()> aCall) override;
    // Runs queued calls until aPredicate holds or aTimeoutMs has passed; returns aPredicate().
    bool PumpUntil(const std::function<bool()>& aPredicate, int aTimeoutMs);
    // Runs the calls queued now.
    void Pump();
    void RunWaitingCalls() override { Pump(); }

private:
    std::thread::id FThread;
    std::mutex FLock;
    std::condition_variable FQueued;
    std::deque<std::function<void()>> FCalls;
};

} // namespace kez
