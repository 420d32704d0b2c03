// The TCP client object of the socket client and its read thread. The read thread polls the socket (at most
// 10 ms per wait, so that a stop is noticed quickly), hands every buffered block on through OnRead and
// reports the error that ends it through OnReadException.
#pragma once

#include "kezSocket_TCPClient.h"
#include "kezWebSocket_Classes_SyncObjs.h"
#include "kezWebSocket_Classes_Threads.h"

#include <atomic>
#include <memory>

namespace kez {

enum TkezTCPMode : uint8_t { tcpmDefault, tcpmCommands };

using TkezReadExceptionEvent = TkezEvent<void(TObject* Sender, const std::exception& aException)>;

class TkezVoxTCPClient;

class TkezTCPReadThread : public TkezVoxThread {
public:
    TkezTCPReadThread(std::weak_ptr<TkezVoxTCPClient> aClient, TkezTCPMode aMode);
    ~TkezTCPReadThread() override { StopAndJoin(); }

    // The thread polls only while this is set.
    std::atomic<bool> ReadSocket{false};
    // Set at the start of every cycle.
    bool Executed() const noexcept { return FExecuted.load(std::memory_order_acquire); }
    TkezTCPMode TCPMode() const noexcept { return FMode; }

    // Assigned before Start.
    TNotifyEvent OnReadMessage;
    TNotifyEvent OnReadThread;
    TkezReadExceptionEvent OnReadException;

protected:
    void Execute() override;
    void Run() override;
    void DoReadMessage();
    void DoReadException(const std::exception& E);

private:
    std::weak_ptr<TkezVoxTCPClient> FClient;
    const TkezTCPMode FMode;
    std::atomic<bool> FExecuted{false};
};

class TkezVoxTCPClient : public TkezSocketTCPClient, public std::enable_shared_from_this<TkezVoxTCPClient> {
public:
    ~TkezVoxTCPClient() override;

    // Runs the socket layer's connect (which fires OnConnected in this thread), then starts the read thread.
    void Connect() override;
    // Under this object's lock, which the read thread holds while it polls.
    bool Connected() override;
    // Stops the read thread (never joining it from itself), closes the socket and clears the input buffer.
    void Disconnect(bool aNotifyPeer) override;

    void EnterCS() { DoEnterCS(); }
    void LeaveCS() { DoLeaveCS(); }
    TkezTCPMode Mode() const noexcept { return FMode; }
    void SetMode(TkezTCPMode aMode) noexcept { FMode = aMode; }
    std::shared_ptr<TkezTCPReadThread> ReadThread() const;
    // Asks the read thread to stop and waits for it up to aTimeoutMs; it frees itself when it cannot be
    // waited for (asked from its own thread, or busy in a callback).
    void StopReadThread(int aTimeoutMs);

    TNotifyEvent OnThread;
    TNotifyEvent OnRead;
    TkezReadExceptionEvent OnReadException;

protected:
    friend class TkezTCPReadThread;
    virtual void DoThreadEvent() { OnThread.Fire(this); }
    virtual void DoReadEvent() { OnRead.Fire(this); }
    virtual void DoReadExceptionEvent(const std::exception& aException) {
        OnReadException.Fire(this, aException);
    }
    virtual void DoEnterCS() { FLock.Acquire(); }
    virtual void DoLeaveCS() { FLock.Release(); }

private:
    TkezCriticalSection FLock;
    TkezTCPMode FMode = tcpmDefault;
    mutable std::mutex FThreadLock;
    std::shared_ptr<TkezTCPReadThread> FReadThread;
};

class TkezWSCustomClient : public TkezVoxTCPClient {};

} // namespace kez
