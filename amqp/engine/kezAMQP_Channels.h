// The channel table: one entry per AMQP channel, each with the worker thread that handles its frames in
// arrival order, its synchronous-request record and the state the engine keeps for it.
//
// Entries are held in shared ownership: a waiter or a worker that still holds an entry keeps it alive after
// the table has removed it. Workers are owned by their entry and also registered with the table, which stops
// and joins every one of them (also those of removed entries) before it goes.
#pragma once

#include "kezAMQP_Events.h"
#include "kezAMQP_FramePool.h"
#include "kezBase_Clock.h"
#include "kezBase_WakeSignal.h"
#include "kezWebSocket_Classes_Queues.h"
#include "kezWebSocket_Classes_Threads.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kez {

// A frame queue holds at most this many payload octets; beyond it the receiving thread waits for the worker.
inline constexpr size_t AMQPChannelQueueLimit = 64 * 1024 * 1024;

// What a synchronous operation waits for. The worker completes it; the waiting thread sleeps on it.
class TkezAMQPChannelThreadWaitRequest : public TObject {
public:
    TkezAMQPChannelThreadWaitRequest() { Initialize(); }

    // The reply that completed the request.
    TkezAMQPMethod Method() const;
    // The wait set.
    TkezAMQPMethods Methods() const;
    bool Terminated() const;

    void Initialize();
    void SetMethods(TkezAMQPMethods aMethods);
    // Completes the request when it is open and aMethod is in its wait set.
    void Complete(TkezAMQPMethod aMethod);
    // Waits until the request completes, aConnected turns false or aDeadline passes; true when it completed.
    bool WaitUntil(TkezClockPoint aDeadline, const std::atomic<bool>& aConnected);
    // Completes an awaited request with a method outside its wait set, so that the waiter returns false at
    // once.
    void Abandon(TkezAMQPMethod aMethod);
    // Wakes the waiter so that it looks at the connection flag again.
    void Wake();

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    // Whether a wait set is in place: replies that nobody waits for (nearly all) pass without the lock.
    std::atomic<bool> FArmed{false};
    TkezAMQPMethod FMethod = amqpMethodNone;
    TkezAMQPMethods FMethods;
    bool FTerminated = false;
};

// Names of the last requests of each kind, reported by the replies that carry no names.
struct TkezAMQPChannelThreadRequest {
    std::string ExchangeDeclare;
    std::string ExchangeDelete;
    std::string QueueBindExchange;
    std::string QueueBindQueue;
    std::string QueueDelete;
    std::string QueuePurge;
    std::string QueueUnBindExchange;
    std::string QueueUnBindQueue;
};

// The worker of one channel: blocks until a frame is queued, then parses and handles the queued frames one by
// one, in arrival order, outside the queue lock.

class TkezAMQPChannelThread : public TkezVoxThread {
public:
    // Returns a token that keeps the engine alive while a frame is handled, or null when the engine is going.
    using TOwnerGuard = std::function<std::shared_ptr<void>()>;

    // Handled frames go back to aPool when there is one.
    TkezAMQPChannelThread(std::string aName, TOwnerGuard aOwnerGuard, size_t aQueueLimit,
                          std::shared_ptr<TkezAMQPFramePool> aPool);
    ~TkezAMQPChannelThread() override;

    // Queues frames, waking the worker once when it has something to act on; waits while the queue holds more
    // than its limit, so that a slow channel throttles the receiving thread instead of growing without end.
    void AddFrames(TkezAMQPFrames& aFrames);
    void AddFrame(std::unique_ptr<TkezAMQPFrame> aFrame);
    size_t QueuedBytes() const;
    // Waits until every frame queued so far has been handled (or aDeadline passes, or the worker stops).
    // Returns at once on the worker itself.
    void WaitDrained(TkezClockPoint aDeadline);

    // Set before the worker starts.
    TkezAMQPThreadExceptionEvent OnException;
    // After each frame has been handled; Sender is the frame.
    TNotifyEvent OnAfterReadFrame;

protected:
    void Execute() override;
    void DoTerminate() override;

private:
    void Handle(TkezAMQPFrame& aFrame);
    // Waits, under aLock, until aSize more octets fit or the worker stops; false when it stopped.
    bool WaitForSpace(std::unique_lock<std::mutex>& aLock, size_t aSize);
    // Whether the worker has something to act on once aFrame is queued behind the frames before it.
    bool GivesWork(const TkezAMQPFrame& aFrame) noexcept;

    TOwnerGuard FOwnerGuard;
    const size_t FQueueLimit;
    const std::shared_ptr<TkezAMQPFramePool> FPool;
    mutable std::mutex FLock;
    TkezWakeSignal FFrameQueued;
    std::condition_variable FSpaceFreed;
    std::condition_variable FDrained;
    // Swapped with the worker's batch, so that both vectors keep their room and queueing allocates nothing.
    TkezAMQPFrames FFrames;
    size_t FBytes = 0;
    // Frames queued or being handled.
    size_t FPending = 0;
    bool FReceiverWaiting = false;
    // Where the receiving side stands in a delivered message, and the body octets it still lacks.
    enum TContentState { contentNone, contentHeaderDue, contentBodyDue };
    TContentState FContent = contentNone;
    uint64_t FContentLeft = 0;
};

class TkezAMQPChannelThreads;

class TkezAMQPChannelThreadItem : public TkezQueueItemBase,
                                  public std::enable_shared_from_this<TkezAMQPChannelThreadItem> {
public:
    TkezAMQPChannelThreadItem(uint16_t aNumber, std::string aChannel);
    ~TkezAMQPChannelThreadItem() override;

    // The application's name; empty for entries created by frame routing.
    const std::string& Channel() const noexcept { return FChannel; }
    uint16_t Number() const noexcept { return FNumber; }

    // The broker's last Channel.Close for this channel (copies; empty until one came).
    TkezAMQPFramePayload_Method_ChannelClose ChannelClose() const;
    void SetChannelClose(const TkezAMQPFramePayload_Method_ChannelClose& aClose);
    // The last QoS requested on this channel.
    TkezAMQPFramePayload_Method_BasicQoS QoS() const;
    void SetQoS(const TkezAMQPFramePayload_Method_BasicQoS& aQoS);
    TkezAMQPChannelThreadRequest Request() const;
    void EditRequest(const std::function<void(TkezAMQPChannelThreadRequest&)>& aEdit);

    bool Flow() const noexcept { return FFlow.load(std::memory_order_acquire); }
    void SetFlow(bool aValue) noexcept { FFlow.store(aValue, std::memory_order_release); }
    // The channel's last lifecycle method: Open, OpenOk, Close (by the broker) or CloseOk.
    TkezAMQPMethod MethodId() const noexcept { return FMethodId.load(std::memory_order_acquire); }
    void SetMethodId(TkezAMQPMethod aValue) noexcept { FMethodId.store(aValue, std::memory_order_release); }

    TkezAMQPChannelThreadWaitRequest& WaitRequest() noexcept { return FWaitRequest; }
    // The message being assembled; touched only by this channel's worker and the handlers it runs.
    TkezAMQPMessageContent& MessageContent() noexcept { return FMessageContent; }

    void AddFrames(TkezAMQPFrames& aFrames);
    void AddFrame(std::unique_ptr<TkezAMQPFrame> aFrame);
    // Payload octets queued for the worker and not yet handled.
    size_t QueuedBytes() const { return FThread ? FThread->QueuedBytes() : 0; }
    void WaitDrained(TkezClockPoint aDeadline) {
        if (FThread) FThread->WaitDrained(aDeadline);
    }
    // Tells the worker to stop and raises OnTerminate, whose handler removes the entry from its table.
    void Terminate();
    // True once Terminate ran: the entry has left, or is leaving, the table.
    bool Ended() const noexcept { return FEnded.load(std::memory_order_acquire); }

    TkezAMQPThreadExceptionEvent OnException;
    TNotifyEvent OnTerminate;

protected:
    virtual void OnThreadExceptionEvent(TObject* Sender, const std::exception& E);
    virtual void OnAfterReadFrameEvent(TObject* Sender);

private:
    friend class TkezAMQPChannelThreads;
    std::shared_ptr<TkezAMQPChannelThread> StartWorker(TkezAMQPChannelThread::TOwnerGuard aOwnerGuard,
                                                       size_t aQueueLimit,
                                                       std::shared_ptr<TkezAMQPFramePool> aPool);

    const uint16_t FNumber;
    const std::string FChannel;
    std::atomic<bool> FEnded{false};
    std::shared_ptr<TkezAMQPChannelThread> FThread;
    mutable std::mutex FLock;
    TkezAMQPFramePayload_Method_ChannelClose FChannelClose;
    TkezAMQPFramePayload_Method_BasicQoS FQoS;
    TkezAMQPChannelThreadRequest FRequest;
    std::atomic<bool> FFlow{true};
    std::atomic<TkezAMQPMethod> FMethodId{amqpChannOpen};
    TkezAMQPChannelThreadWaitRequest FWaitRequest;
    TkezAMQPMessageContent FMessageContent;
};

class TkezAMQPChannelThreads : public TkezQueue<TkezAMQPChannelThreadItem> {
public:
    using TItemPtr = std::shared_ptr<TkezAMQPChannelThreadItem>;

    TkezAMQPChannelThreads() = default;
    ~TkezAMQPChannelThreads() override;

    // Registers a name under the next channel number and returns the number; 0 when the name is in use.
    // A name whose channel is closed (by the broker, or by a confirmed close) is given a fresh entry. Raises
    // std::runtime_error when all 65535 numbers have been used.
    uint16_t AddChannel(const std::string& aChannel);
    // The first entry with that name (exact, case-sensitive), or null.
    TItemPtr GetChannel(const std::string& aChannel) const;
    TItemPtr GetChannel(uint16_t aId) const;
    // Queues received frames, all of one channel, on that channel's worker, creating an unnamed entry for a
    // number without one.
    void AddFrames(TkezAMQPFrames& aFrames);
    void AddFrame(std::unique_ptr<TkezAMQPFrame> aFrame);
    // Every entry, for walks outside the lock.
    std::vector<TItemPtr> Items() const;

    TkezThreadSafeInteger& Id() noexcept { return FId; }
    void SetOwnerGuard(TkezAMQPChannelThread::TOwnerGuard aGuard) { FOwnerGuard = std::move(aGuard); }
    void SetQueueLimit(size_t aBytes) noexcept { FQueueLimit = aBytes; }
    // Where the workers return handled frames; set before the first entry is made.
    void SetFramePool(std::shared_ptr<TkezAMQPFramePool> aPool) { FFramePool = std::move(aPool); }
    // Stops every worker and waits for them (never for the calling thread's own); entries are released.
    void Shutdown();

    TkezAMQPThreadExceptionEvent OnException;

protected:
    virtual void OnItemTerminateEvent(TObject* Sender);
    virtual void OnItemExceptionEvent(TObject* Sender, const std::exception& E);

private:
    // Under the table lock.
    TItemPtr FindNumber(uint16_t aId) const;
    TItemPtr CreateEntry(uint16_t aNumber, const std::string& aChannel);
    void PruneFinishedWorkers();

    TkezThreadSafeInteger FId;
    TkezAMQPChannelThread::TOwnerGuard FOwnerGuard;
    size_t FQueueLimit = AMQPChannelQueueLimit;
    std::shared_ptr<TkezAMQPFramePool> FFramePool;
    std::mutex FWorkersLock;
    std::vector<std::shared_ptr<TkezAMQPChannelThread>> FWorkers;
};

} // namespace kez
