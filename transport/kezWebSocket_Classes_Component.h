// The base classes every component of the library descends from: component state, locks, the seven
// connection events, and NotifyEvents, which decides on which thread a handler runs — right where the event
// was detected (neNoSync), posted to the main thread (neAsynchronous), or run on the main thread while the
// detecting thread waits (neSynchronous). Queued events carry copies of their data.
#pragma once

#include "kezBase_CallGate.h"
#include "kezBase_MainThread.h"
#include "kezWebSocket_Classes_Connection.h"

#include <array>
#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kez {

using TkezWSConnectEvent = TkezEvent<void(const TkezWSConnectionPtr& Connection)>;
using TkezWSDisconnectEvent = TkezEvent<void(const TkezWSConnectionPtr& Connection, int Code)>;
using TkezWSMessageEvent = TkezEvent<void(const TkezWSConnectionPtr& Connection, const std::string& Text)>;
// The stream is the live block with neNoSync and a copy otherwise; reading it moves its position.
using TkezWSBinaryEvent = TkezEvent<void(const TkezWSConnectionPtr& Connection, TMemoryStream& Data)>;
using TkezWSFragmentedEvent = TkezEvent<void(const TkezWSConnectionPtr& Connection, TMemoryStream& Data,
                                             TOpcode OpCode, bool Continuation)>;
using TkezWSErrorEvent = TkezEvent<void(const TkezWSConnectionPtr& Connection, const std::string& Error)>;
// Connection is null for an exception without a connection (a failed connect).
using TkezExceptionEvent = TkezEvent<void(const TkezWSConnectionPtr& Connection, const std::exception& E)>;

// A copy of an exception for delivery on another thread: the same kind for the transport's own errors, a
// plain exception with the same message otherwise.
std::shared_ptr<std::exception> CopyException(const std::exception& E);

enum TkezComponentOperation : uint8_t { opInsert, opRemove };

class TkezComponent_Base : public TObject {
public:
    TkezComponent_Base() = default;
    ~TkezComponent_Base() override;
    TkezComponent_Base(const TkezComponent_Base&) = delete;
    TkezComponent_Base& operator=(const TkezComponent_Base&) = delete;

    virtual bool IsDesigning() const { return false; }
    virtual bool IsDestroying() const { return FDestroying.load(std::memory_order_acquire); }
    virtual bool IsLoading() const { return FLoading.load(std::memory_order_acquire); }
    std::string Version() const { return "2023.5.0"; }

    // Asks to be told (Notification with opRemove) when aComponent is destroyed.
    void FreeNotification(TkezComponent_Base* aComponent);
    void RemoveFreeNotification(TkezComponent_Base* aComponent);
    // Marks the start and the end of loading a stored configuration; the end calls Loaded.
    void BeginLoading() { FLoading.store(true, std::memory_order_release); }
    void EndLoading();

protected:
    // A component referencing aComponent forgets it here.
    virtual void Notification(TkezComponent_Base* /*aComponent*/, TkezComponentOperation /*aOperation*/) {}
    // The end-of-loading notification.
    virtual void Loaded() {}
    // Descendants call it first in their destructor: from then on every handler returns without effect.
    void BeginDestroy() { FDestroying.store(true, std::memory_order_release); }
    // Tells the components that asked (FreeNotification) that this one is going. The destructor does it; a
    // component may do it earlier, before it stops its threads. Idempotent.
    void NotifyRemoval();

private:
    std::atomic<bool> FDestroying{false};
    std::atomic<bool> FLoading{false};
    std::mutex FNotifyLock;
    std::vector<TkezComponent_Base*> FFreeNotifies;
};

class TkezSocketComponent_Base : public TkezComponent_Base {
public:
    TkezSocketComponent_Base();

    TwsNotifyEvent NotifyEvents() const noexcept { return FNotifyEvents.load(std::memory_order_acquire); }
    virtual void SetNotifyEvents(TwsNotifyEvent aValue) {
        FNotifyEvents.store(aValue, std::memory_order_release);
    }

    // Marks the connection freed and lets this component's reference go; descendants change when.
    virtual void FreeConnection(const TkezWSConnectionPtr& aConnection);
    // Calls into this component from other components enter here; it closes when the component goes.
    const TkezCallGatePtr& Gate() const noexcept { return FGate; }

protected:
    virtual void DoEnterCS() { FCS.Acquire(); }
    virtual void DoEnterCS(int aIndex) { FIndexedCS.at(static_cast<size_t>(aIndex)).Acquire(); }
    virtual void DoLeaveCS() { FCS.Release(); }
    virtual void DoLeaveCS(int aIndex) { FIndexedCS.at(static_cast<size_t>(aIndex)).Release(); }
    virtual bool DoAssignedCS() { return true; }
    virtual bool DoAssignedCS(int aIndex) { return aIndex >= 0 && aIndex < 6; }

    TkezCriticalSection FCS;
    std::array<TkezCriticalSection, 6> FIndexedCS;
    // Posted calls and the threads of descendants enter through this gate; the destructor closes it.
    TkezCallGatePtr FGate = std::make_shared<TkezCallGate>();

private:
    std::atomic<TwsNotifyEvent> FNotifyEvents{neAsynchronous};
};

class TkezTCPComponent_Base : public TkezSocketComponent_Base {};

// One queued event.
struct TkezWSNotifyObject {
    TkezWSConnectionPtr Connection;
    int Int = 0;
    std::shared_ptr<std::exception> RawException;
    std::unique_ptr<TMemoryStream> Stream;
    std::string Text;
    std::string Text1;
};

class TkezWSObjectList : public TkezThreadList<std::shared_ptr<TkezWSNotifyObject>> {
public:
    TkezWSObjectList() { SetDuplicates(dupAccept); }
    void AddNotifyObject(const TkezWSConnectionPtr& aConnection);
    void AddNotifyObject(const TkezWSConnectionPtr& aConnection, const std::string& aParam);
    void AddNotifyObject(const TkezWSConnectionPtr& aConnection, const std::string& aParam,
                         const std::string& aParam1);
    void AddNotifyObject(const TkezWSConnectionPtr& aConnection, int aParam);
    void AddNotifyObject(const TkezWSConnectionPtr& aConnection, TMemoryStream& aParam);
    void AddNotifyObject(const TkezWSConnectionPtr& aConnection, TMemoryStream& aStream, TOpcode aOpCode,
                         bool aBoolean);
    void AddNotifyObject(const TkezWSConnectionPtr& aConnection, const std::string& aParam,
                         const std::exception* aException);
    // Releases every item; with aFreeConnection, first marks each item's connection freed.
    void DeleteAll(bool aFreeConnection);

private:
    void Append(std::shared_ptr<TkezWSNotifyObject> aObject);
};

class TkezWSComponent_Base : public TkezTCPComponent_Base {
public:
    TkezWSComponent_Base() = default;
    ~TkezWSComponent_Base() override;

    void EnterCS() { DoEnterCS(); }
    void LeaveCS() { DoLeaveCS(); }
    bool AssignedCS() { return DoAssignedCS(); }

    // While set, messages, binaries and fragments are held instead of fired; clearing it fires the held ones.
    bool QueueMessages() const noexcept { return FQueueMessages.load(std::memory_order_acquire); }
    virtual void SetQueueMessages(bool aValue);
    void QueueClear() { DoQueueClear(); }

    TkezWSConnectEvent OnConnect;
    TkezWSDisconnectEvent OnDisconnect;
    TkezWSMessageEvent OnMessage;
    TkezWSBinaryEvent OnBinary;
    TkezWSFragmentedEvent OnFragmented;
    TkezWSErrorEvent OnError;
    TkezExceptionEvent OnException;

    // --- delivery per NotifyEvents, called on the detecting thread (the socket client routes here) ---
    virtual void DoNotifyConnect(const TkezWSConnectionPtr& aConnection);
    virtual void DoNotifyDisconnect(const TkezWSConnectionPtr& aConnection);
    virtual void DoNotifyMessage(const TkezWSConnectionPtr& aConnection);
    virtual void DoNotifyBinary(const TkezWSConnectionPtr& aConnection);
    virtual void DoNotifyFragmented(const TkezWSConnectionPtr& aConnection, TOpcode aOpCode,
                                    bool aContinuation);
    virtual void DoNotifyError(const TkezWSConnectionPtr& aConnection);
    virtual void DoNotifyException(const TkezWSConnectionPtr& aConnection);
    virtual void DoNotifyExceptionNoConnection(const std::string& aText, const std::exception* aException);

    // Reports an exception (and drops the connection); never raises.
    virtual void DoException(const TkezWSConnectionPtr& aConnection, const std::string& aText,
                             const std::exception* E);
    // Reports an error (and drops the connection); never raises.
    void DoError(const TkezWSConnectionPtr& aConnection, const std::string& aText);

    // --- drain routines, on the main thread ---
    void ProcessNotifyConnect() { Drain(nkConnect); }
    void ProcessNotifyDisconnect() { Drain(nkDisconnect); }
    void ProcessNotifyMessage() { Drain(nkMessage); }
    void ProcessNotifyBinary() { Drain(nkBinary); }
    void ProcessNotifyFragmented() { Drain(nkFragmented); }
    void ProcessNotifyError() { Drain(nkError); }
    void ProcessNotifyException() { Drain(nkException); }

protected:
    // --- firing, on the thread NotifyEvents chose ---
    virtual void DoConnectEvent(const TkezWSConnectionPtr& aConnection);
    virtual void DoDisconnectEvent(const TkezWSConnectionPtr& aConnection, int aCode);
    virtual void DoMessageEvent(const TkezWSConnectionPtr& aConnection, const std::string& aText);
    virtual void DoBinaryEvent(const TkezWSConnectionPtr& aConnection, TMemoryStream& aData);
    virtual void DoFragmentedEvent(const TkezWSConnectionPtr& aConnection, TMemoryStream& aData,
                                   TOpcode aOpCode, bool aContinuation);
    virtual void DoErrorEvent(const TkezWSConnectionPtr& aConnection, const std::string& aError);
    virtual void DoExceptionEvent(const TkezWSConnectionPtr& aConnection, const std::string& aText,
                                  const std::exception* E);
    virtual void FlushQueuedMessages();
    virtual void DoQueueClear();
    // Stops deliveries: the owner's destructor calls it before its own members go.
    void ShutdownEvents();

private:
    enum TNotifyKind : uint8_t {
        nkConnect,
        nkDisconnect,
        nkMessage,
        nkBinary,
        nkFragmented,
        nkError,
        nkException
    };
    static constexpr size_t KindCount = 7;

    TkezWSObjectList& List(TNotifyKind aKind);
    // Queues aObject's kind for the main thread: posts the drain, or runs it there and waits.
    void Deliver(TNotifyKind aKind);
    void Drain(TNotifyKind aKind);
    void Fire(TNotifyKind aKind, TkezWSNotifyObject& aItem);

    std::mutex FListsLock;
    std::array<std::unique_ptr<TkezWSObjectList>, KindCount> FLists;
    std::array<std::atomic<bool>, KindCount> FDraining{};
    std::atomic<bool> FQueueMessages{false};
    std::atomic<bool> FQueueProcessing{false};
    std::array<TkezWSObjectList, 3> FHeld; // messages, binaries, fragments
};

} // namespace kez
