#include "kezAMQP_Channels.h"

#include "kezAMQP_Helpers.h"
#include "kezAMQP_WireBuffer.h"
#include "kezBase_Format.h"

#include <stdexcept>

namespace kez {

// --- wait request ---

TkezAMQPMethod TkezAMQPChannelThreadWaitRequest::Method() const {
    std::lock_guard guard(FLock);
    return FMethod;
}

TkezAMQPMethods TkezAMQPChannelThreadWaitRequest::Methods() const {
    std::lock_guard guard(FLock);
    return FMethods;
}

bool TkezAMQPChannelThreadWaitRequest::Terminated() const {
    std::lock_guard guard(FLock);
    return FTerminated;
}

void TkezAMQPChannelThreadWaitRequest::Initialize() {
    std::lock_guard guard(FLock);
    FMethod = amqpMethodNone;
    FMethods = {};
    FTerminated = false;
    FArmed.store(false, std::memory_order_release);
}

void TkezAMQPChannelThreadWaitRequest::SetMethods(TkezAMQPMethods aMethods) {
    std::lock_guard guard(FLock);
    FMethods = aMethods;
    FArmed.store(!aMethods.Empty(), std::memory_order_release);
}

void TkezAMQPChannelThreadWaitRequest::Complete(TkezAMQPMethod aMethod) {
    // Armed before the request went out, so a reply to it always sees the flag set.
    if (!FArmed.load(std::memory_order_acquire)) return;
    {
        std::lock_guard guard(FLock);
        if (FTerminated || !FMethods.Contains(aMethod)) return;
        FMethod = aMethod;
        FTerminated = true;
    }
    FChanged.notify_all();
}

void TkezAMQPChannelThreadWaitRequest::Abandon(TkezAMQPMethod aMethod) {
    {
        std::lock_guard guard(FLock);
        if (FTerminated || FMethods.Empty()) return;
        FMethod = aMethod;
        FTerminated = true;
    }
    FChanged.notify_all();
}

bool TkezAMQPChannelThreadWaitRequest::WaitUntil(TkezClockPoint aDeadline,
                                                 const std::atomic<bool>& aConnected) {
    std::unique_lock lock(FLock);
    FChanged.wait_until(lock, aDeadline,
                        [&] { return FTerminated || !aConnected.load(std::memory_order_acquire); });
    // A reply that came is an answer even when the connection went down right after it.
    return FTerminated;
}

void TkezAMQPChannelThreadWaitRequest::Wake() {
    { std::lock_guard guard(FLock); } // a waiter is now either waiting or about to test its condition again
    FChanged.notify_all();
}

// --- worker ---

TkezAMQPChannelThread::TkezAMQPChannelThread(std::string aName, TOwnerGuard aOwnerGuard, size_t aQueueLimit,
                                             std::shared_ptr<TkezAMQPFramePool> aPool)
    : TkezVoxThread(false, std::move(aName)), FOwnerGuard(std::move(aOwnerGuard)), FQueueLimit(aQueueLimit),
      FPool(std::move(aPool)) {}

TkezAMQPChannelThread::~TkezAMQPChannelThread() { StopAndJoin(); }

bool TkezAMQPChannelThread::WaitForSpace(std::unique_lock<std::mutex>& aLock, size_t aSize) {
    // A frame always fits into an empty queue, however large it is.
    while (FBytes > 0 && FBytes + aSize > FQueueLimit && !Terminated()) {
        FReceiverWaiting = true;
        // The worker may be asleep on frames queued by this very call.
        FFrameQueued.Notify();
        FSpaceFreed.wait(aLock);
    }
    FReceiverWaiting = false;
    return !Terminated(); // the channel is going; its frames go with it
}

bool TkezAMQPChannelThread::GivesWork(const TkezAMQPFrame& aFrame) noexcept {
    // The content header and the body frames of a delivered message only gather octets until the message is
    // whole: the worker is woken for the whole message, not once per received block of a large one. Content
    // that did not follow its method (or does not add up) wakes it at once, so that it reports the fault.
    const TBytes& payload = aFrame.Payload().Payload();
    switch (aFrame.Header().Type()) {
    case amqpFrameMethod: {
        const TkezAMQPMethod method = payload.size() >= 4
                                          ? GetAMQPMethod(GetAMQPClass(wire::LoadBE16(payload.data())),
                                                          wire::LoadBE16(payload.data() + 2))
                                          : amqpMethodNone;
        FContent = method == amqpBasicDeliver || method == amqpBasicGetOk || method == amqpBasicReturn
                       ? contentHeaderDue
                       : contentNone;
        return true;
    }
    case amqpFrameHeader:
        // Class, weight, then the body size.
        if (FContent == contentHeaderDue && payload.size() >= 12) {
            FContentLeft = wire::LoadBE64(payload.data() + 4);
            FContent = FContentLeft > 0 ? contentBodyDue : contentNone;
            return FContent == contentNone;
        }
        break;
    case amqpFrameBody:
        if (FContent == contentBodyDue && static_cast<uint64_t>(aFrame.Header().Size()) < FContentLeft) {
            FContentLeft -= static_cast<uint64_t>(aFrame.Header().Size());
            return false;
        }
        break;
    default: break;
    }
    FContent = contentNone;
    return true;
}

void TkezAMQPChannelThread::AddFrames(TkezAMQPFrames& aFrames) {
    std::unique_lock lock(FLock);
    bool work = false;
    for (std::unique_ptr<TkezAMQPFrame>& frame : aFrames) {
        const auto size = static_cast<size_t>(frame->Header().Size());
        if (!WaitForSpace(lock, size)) return;
        work = GivesWork(*frame) || work;
        FFrames.push_back(std::move(frame));
        FBytes += size;
        ++FPending;
    }
    lock.unlock();
    if (work) FFrameQueued.Notify();
}

void TkezAMQPChannelThread::AddFrame(std::unique_ptr<TkezAMQPFrame> aFrame) {
    TkezAMQPFrames frames;
    frames.push_back(std::move(aFrame));
    AddFrames(frames);
}

size_t TkezAMQPChannelThread::QueuedBytes() const {
    std::lock_guard guard(FLock);
    return FBytes;
}

void TkezAMQPChannelThread::WaitDrained(TkezClockPoint aDeadline) {
    if (IsCurrentThread()) return;
    // Frames of an incomplete message are handled too.
    FFrameQueued.Notify();
    std::unique_lock lock(FLock);
    FDrained.wait_until(lock, aDeadline, [this] { return FPending == 0 || Terminated(); });
}

void TkezAMQPChannelThread::DoTerminate() {
    { std::lock_guard guard(FLock); }
    FFrameQueued.Notify();
    FSpaceFreed.notify_all();
    FDrained.notify_all();
}

void TkezAMQPChannelThread::Execute() {
    TkezAMQPFrames batch;
    for (;;) {
        const uint32_t epoch = FFrameQueued.Epoch();
        if (Terminated()) break;
        {
            // Everything queued so far is taken at once and handled outside the lock: the receiving thread
            // never waits for a running event handler, and one wake-up serves a whole burst.
            std::lock_guard guard(FLock);
            batch.swap(FFrames);
        }
        if (batch.empty()) {
            FFrameQueued.Wait(epoch);
            continue;
        }
        size_t handled = 0;
        size_t count = 0;
        {
            // Declared first, released last: the engine may be destroyed right here when this was its last
            // holder. Taken once for the whole burst.
            std::shared_ptr<void> ownerAlive;
            if (FOwnerGuard) ownerAlive = FOwnerGuard();
            for (std::unique_ptr<TkezAMQPFrame>& frame : batch) {
                if (Terminated() || (FOwnerGuard && !ownerAlive)) break;
                handled += static_cast<size_t>(frame->Header().Size());
                ++count;
                Handle(*frame);
                // What the handling made of the frame goes now, not with the rest of the burst.
                frame->Clear();
            }
        }
        size_t dropped = 0;
        for (size_t i = count; i < batch.size(); ++i)
            dropped += static_cast<size_t>(batch[i]->Header().Size());
        const size_t frames = batch.size();
        if (FPool)
            FPool->Return(batch);
        else
            batch.clear();
        std::lock_guard guard(FLock);
        FBytes -= handled + dropped;
        FPending -= frames;
        if (FReceiverWaiting) FSpaceFreed.notify_all();
        if (FPending == 0) FDrained.notify_all();
    }
}

void TkezAMQPChannelThread::Handle(TkezAMQPFrame& aFrame) {
    try {
        aFrame.DoReadPayload();
        OnAfterReadFrame.Fire(&aFrame);
    } catch (const std::exception& e) {
        OnException.Fire(this, e);
    } catch (...) {
        OnException.Fire(this, std::runtime_error("Unknown exception while handling a frame."));
    }
}

// --- entry ---

TkezAMQPChannelThreadItem::TkezAMQPChannelThreadItem(uint16_t aNumber, std::string aChannel)
    : FNumber(aNumber), FChannel(std::move(aChannel)) {
    SetID(std::to_string(aNumber));
    FWaitRequest.SetMethods({amqpChannOpenOk});
}

TkezAMQPChannelThreadItem::~TkezAMQPChannelThreadItem() {
    if (FThread) FThread->Terminate();
}

std::shared_ptr<TkezAMQPChannelThread>
TkezAMQPChannelThreadItem::StartWorker(TkezAMQPChannelThread::TOwnerGuard aOwnerGuard, size_t aQueueLimit,
                                       std::shared_ptr<TkezAMQPFramePool> aPool) {
    FThread = std::make_shared<TkezAMQPChannelThread>("AMQP channel " + ID(), std::move(aOwnerGuard),
                                                      aQueueLimit, std::move(aPool));
    std::weak_ptr<TkezAMQPChannelThreadItem> weak = weak_from_this();
    FThread->OnAfterReadFrame = [weak](TObject* aFrame) {
        if (auto entry = weak.lock()) entry->OnAfterReadFrameEvent(aFrame);
    };
    FThread->OnException = [weak](TObject* aSender, const std::exception& E) {
        if (auto entry = weak.lock()) entry->OnThreadExceptionEvent(aSender, E);
    };
    FThread->Start();
    return FThread;
}

TkezAMQPFramePayload_Method_ChannelClose TkezAMQPChannelThreadItem::ChannelClose() const {
    std::lock_guard guard(FLock);
    return FChannelClose;
}

void TkezAMQPChannelThreadItem::SetChannelClose(const TkezAMQPFramePayload_Method_ChannelClose& aClose) {
    std::lock_guard guard(FLock);
    FChannelClose.SetReplyCode(aClose.ReplyCode());
    FChannelClose.SetReplyText(aClose.ReplyText());
    FChannelClose.SetFailClassId(aClose.FailClassId());
    FChannelClose.SetFailMethodId(aClose.FailMethodId());
}

TkezAMQPFramePayload_Method_BasicQoS TkezAMQPChannelThreadItem::QoS() const {
    std::lock_guard guard(FLock);
    return FQoS;
}

void TkezAMQPChannelThreadItem::SetQoS(const TkezAMQPFramePayload_Method_BasicQoS& aQoS) {
    std::lock_guard guard(FLock);
    FQoS.SetPrefetchSize(aQoS.PrefetchSize());
    FQoS.SetPrefetchCount(aQoS.PrefetchCount());
    FQoS.SetGlobal(aQoS.Global());
}

TkezAMQPChannelThreadRequest TkezAMQPChannelThreadItem::Request() const {
    std::lock_guard guard(FLock);
    return FRequest;
}

void TkezAMQPChannelThreadItem::EditRequest(const std::function<void(TkezAMQPChannelThreadRequest&)>& aEdit) {
    std::lock_guard guard(FLock);
    aEdit(FRequest);
}

void TkezAMQPChannelThreadItem::AddFrame(std::unique_ptr<TkezAMQPFrame> aFrame) {
    if (FThread) FThread->AddFrame(std::move(aFrame));
}

void TkezAMQPChannelThreadItem::AddFrames(TkezAMQPFrames& aFrames) {
    if (FThread) FThread->AddFrames(aFrames);
}

void TkezAMQPChannelThreadItem::Terminate() {
    FEnded.store(true, std::memory_order_release);
    if (FThread) FThread->Terminate();
    OnTerminate.Fire(this);
}

void TkezAMQPChannelThreadItem::OnThreadExceptionEvent(TObject* /*Sender*/, const std::exception& E) {
    OnException.Fire(this, E);
}

void TkezAMQPChannelThreadItem::OnAfterReadFrameEvent(TObject* Sender) {
    auto* frame = static_cast<TkezAMQPFrame*>(Sender);
    if (frame->Header().Type() == amqpFrameMethod) FWaitRequest.Complete(frame->Payload_Method().MethodId());
}

// --- table ---

TkezAMQPChannelThreads::~TkezAMQPChannelThreads() { Shutdown(); }

TkezAMQPChannelThreads::TItemPtr TkezAMQPChannelThreads::FindNumber(uint16_t aId) const {
    for (const TItemPtr& item : FList)
        if (item->Number() == aId) return item;
    return nullptr;
}

TkezAMQPChannelThreads::TItemPtr TkezAMQPChannelThreads::CreateEntry(uint16_t aNumber,
                                                                     const std::string& aChannel) {
    auto entry = std::make_shared<TkezAMQPChannelThreadItem>(aNumber, aChannel);
    entry->OnTerminate = [this](TObject* aSender) { OnItemTerminateEvent(aSender); };
    entry->OnException = [this](TObject* aSender, const std::exception& E) {
        OnItemExceptionEvent(aSender, E);
    };
    auto worker = entry->StartWorker(FOwnerGuard, FQueueLimit, FFramePool);
    std::lock_guard guard(FWorkersLock);
    PruneFinishedWorkers();
    FWorkers.push_back(std::move(worker));
    return entry;
}

void TkezAMQPChannelThreads::PruneFinishedWorkers() {
    std::erase_if(FWorkers, [](const auto& aWorker) { return aWorker->Finished(); });
}

uint16_t TkezAMQPChannelThreads::AddChannel(const std::string& aChannel) {
    TItemPtr replaced; // released after the lock
    std::lock_guard guard(FLock);
    for (auto it = FList.begin(); it != FList.end(); ++it) {
        if ((*it)->Channel() != aChannel) continue;
        // A channel the broker closed is dead, and so is one whose close was just confirmed (its entry leaves
        // the table right after its waiter was released): the name may be opened again under a new number.
        const TkezAMQPMethod state = (*it)->MethodId();
        if (state != amqpChannClose && state != amqpChannCloseOk) return 0;
        replaced = std::move(*it);
        FList.erase(it);
        break;
    }
    const int64_t next = FId.Inc();
    if (next > 65535) {
        FId.Dec();
        if (replaced) FList.push_back(std::move(replaced));
        throw std::runtime_error(Format(
            "Channel: %s cannot be opened: all 65535 channel numbers of this connection have been used.",
            {aChannel}));
    }
    const auto number = static_cast<uint16_t>(next);
    FList.push_back(CreateEntry(number, aChannel));
    return number;
}

TkezAMQPChannelThreads::TItemPtr TkezAMQPChannelThreads::GetChannel(const std::string& aChannel) const {
    std::lock_guard guard(FLock);
    for (const TItemPtr& item : FList)
        if (item->Channel() == aChannel) return item;
    return nullptr;
}

TkezAMQPChannelThreads::TItemPtr TkezAMQPChannelThreads::GetChannel(uint16_t aId) const {
    std::lock_guard guard(FLock);
    return FindNumber(aId);
}

std::vector<TkezAMQPChannelThreads::TItemPtr> TkezAMQPChannelThreads::Items() const {
    std::lock_guard guard(FLock);
    return FList;
}

void TkezAMQPChannelThreads::AddFrames(TkezAMQPFrames& aFrames) {
    if (aFrames.empty()) return;
    const uint16_t number = aFrames.front()->Header().Channel();
    TItemPtr entry;
    {
        std::lock_guard guard(FLock);
        entry = FindNumber(number);
        if (!entry) {
            entry = CreateEntry(number, {});
            FList.push_back(entry);
        }
    }
    // Outside the table lock: this may wait while the channel's queue is full.
    entry->AddFrames(aFrames);
}

void TkezAMQPChannelThreads::AddFrame(std::unique_ptr<TkezAMQPFrame> aFrame) {
    TkezAMQPFrames frames;
    frames.push_back(std::move(aFrame));
    AddFrames(frames);
}

void TkezAMQPChannelThreads::OnItemTerminateEvent(TObject* Sender) {
    DeleteItem(static_cast<TkezAMQPChannelThreadItem*>(Sender)->ID());
}

void TkezAMQPChannelThreads::OnItemExceptionEvent(TObject* Sender, const std::exception& E) {
    OnException.Fire(Sender, E);
}

void TkezAMQPChannelThreads::Shutdown() {
    std::vector<std::shared_ptr<TkezAMQPChannelThread>> workers;
    {
        std::lock_guard guard(FWorkersLock);
        workers.swap(FWorkers);
    }
    for (auto& worker : workers)
        worker->Terminate();
    for (auto& worker : workers) {
        // A worker that runs this (the engine released from its own handler) ends after it returns.
        if (worker->IsCurrentThread() || !worker->WaitFor(5000)) worker->SetFreeOnTerminate(true);
    }
    Clear();
}

} // namespace kez
