#include "kezWebSocket_Classes_Component.h"

#include <algorithm>

namespace kez {

std::shared_ptr<std::exception> CopyException(const std::exception& E) {
    if (const auto* own = dynamic_cast<const EkezSocketLayerError*>(&E)) return own->Clone();
    return std::make_shared<std::runtime_error>(E.what());
}

// --- TkezComponent_Base ---

TkezComponent_Base::~TkezComponent_Base() { NotifyRemoval(); }

void TkezComponent_Base::NotifyRemoval() {
    std::vector<TkezComponent_Base*> others;
    {
        std::lock_guard guard(FNotifyLock);
        others.swap(FFreeNotifies);
    }
    for (TkezComponent_Base* other : others) {
        other->RemoveFreeNotification(this);
        other->Notification(this, opRemove);
    }
}

void TkezComponent_Base::FreeNotification(TkezComponent_Base* aComponent) {
    if (!aComponent || aComponent == this) return;
    {
        std::lock_guard guard(FNotifyLock);
        if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), aComponent) != FFreeNotifies.end()) return;
        FFreeNotifies.push_back(aComponent);
    }
    // Both ways, so that whichever goes first tells the other.
    aComponent->FreeNotification(this);
}

void TkezComponent_Base::RemoveFreeNotification(TkezComponent_Base* aComponent) {
    std::lock_guard guard(FNotifyLock);
    std::erase(FFreeNotifies, aComponent);
}

void TkezComponent_Base::EndLoading() {
    FLoading.store(false, std::memory_order_release);
    Loaded();
}

// --- TkezSocketComponent_Base ---

TkezSocketComponent_Base::TkezSocketComponent_Base() = default;

void TkezSocketComponent_Base::FreeConnection(const TkezWSConnectionPtr& aConnection) {
    if (aConnection) aConnection->SetFreed();
}

// --- notify objects ---

void TkezWSObjectList::Append(std::shared_ptr<TkezWSNotifyObject> aObject) { Add(aObject); }

void TkezWSObjectList::AddNotifyObject(const TkezWSConnectionPtr& aConnection) {
    auto object = std::make_shared<TkezWSNotifyObject>();
    object->Connection = aConnection;
    Append(std::move(object));
}

void TkezWSObjectList::AddNotifyObject(const TkezWSConnectionPtr& aConnection, const std::string& aParam) {
    auto object = std::make_shared<TkezWSNotifyObject>();
    object->Connection = aConnection;
    object->Text = aParam;
    Append(std::move(object));
}

void TkezWSObjectList::AddNotifyObject(const TkezWSConnectionPtr& aConnection, const std::string& aParam,
                                       const std::string& aParam1) {
    auto object = std::make_shared<TkezWSNotifyObject>();
    object->Connection = aConnection;
    object->Text = aParam;
    object->Text1 = aParam1;
    Append(std::move(object));
}

void TkezWSObjectList::AddNotifyObject(const TkezWSConnectionPtr& aConnection, int aParam) {
    auto object = std::make_shared<TkezWSNotifyObject>();
    object->Connection = aConnection;
    object->Int = aParam;
    Append(std::move(object));
}

void TkezWSObjectList::AddNotifyObject(const TkezWSConnectionPtr& aConnection, TMemoryStream& aParam) {
    auto object = std::make_shared<TkezWSNotifyObject>();
    object->Connection = aConnection;
    object->Stream = std::make_unique<TMemoryStream>(aParam.Bytes());
    Append(std::move(object));
}

void TkezWSObjectList::AddNotifyObject(const TkezWSConnectionPtr& aConnection, TMemoryStream& aStream,
                                       TOpcode aOpCode, bool aBoolean) {
    auto object = std::make_shared<TkezWSNotifyObject>();
    object->Connection = aConnection;
    object->Stream = std::make_unique<TMemoryStream>(aStream.Bytes());
    object->Int = aOpCode;
    object->Text1.assign(1, aBoolean ? '1' : '0');
    Append(std::move(object));
}

void TkezWSObjectList::AddNotifyObject(const TkezWSConnectionPtr& aConnection, const std::string& aParam,
                                       const std::exception* aException) {
    auto object = std::make_shared<TkezWSNotifyObject>();
    object->Connection = aConnection;
    object->Text = aParam;
    if (aException) object->RawException = CopyException(*aException);
    Append(std::move(object));
}

void TkezWSObjectList::DeleteAll(bool aFreeConnection) {
    std::vector<std::shared_ptr<TkezWSNotifyObject>> items;
    {
        std::lock_guard guard(FLock);
        items.swap(FList);
    }
    if (aFreeConnection)
        for (auto& item : items)
            if (item->Connection && !item->Connection->Freed()) item->Connection->SetFreed();
}

// --- TkezWSComponent_Base ---

TkezWSComponent_Base::~TkezWSComponent_Base() {
    ShutdownEvents();
    // Connections still waiting for their disconnect to be delivered go with the list.
    std::lock_guard guard(FListsLock);
    if (FLists[nkDisconnect]) FLists[nkDisconnect]->DeleteAll(true);
}

void TkezWSComponent_Base::ShutdownEvents() {
    BeginDestroy();
    FGate->Close(5000);
}

TkezWSObjectList& TkezWSComponent_Base::List(TNotifyKind aKind) {
    std::lock_guard guard(FListsLock);
    if (!FLists[aKind]) FLists[aKind] = std::make_unique<TkezWSObjectList>();
    return *FLists[aKind];
}

void TkezWSComponent_Base::Deliver(TNotifyKind aKind) {
    auto drain = [gate = FGate, this, aKind] {
        if (const auto entry = gate->Enter()) Drain(aKind);
    };
    if (NotifyEvents() == neSynchronous)
        MainThreadSend(std::move(drain));
    else
        MainThreadPost(std::move(drain));
}

void TkezWSComponent_Base::Drain(TNotifyKind aKind) {
    if (IsDestroying()) return;
    TkezWSObjectList& list = List(aKind);
    // The list stays locked while the handlers run: a thread that detects another event of this kind waits.
    std::vector<std::shared_ptr<TkezWSNotifyObject>>& items = list.LockList();
    if (FDraining[aKind].load()) { // a handler of this kind, on this thread, has led back here
        list.UnlockList();
        return;
    }
    FDraining[aKind].store(true);
    try {
        while (!items.empty() && !IsDestroying()) {
            // Taken out before it fires, so that a failing handler costs only its own event.
            std::shared_ptr<TkezWSNotifyObject> item = items.front();
            items.erase(items.begin());
            Fire(aKind, *item);
        }
    } catch (...) {
        FDraining[aKind].store(false);
        list.UnlockList();
        throw;
    }
    FDraining[aKind].store(false);
    list.UnlockList();
}

void TkezWSComponent_Base::Fire(TNotifyKind aKind, TkezWSNotifyObject& aItem) {
    switch (aKind) {
    case nkConnect: DoConnectEvent(aItem.Connection); break;
    case nkDisconnect:
        DoDisconnectEvent(aItem.Connection, aItem.Int);
        if (aItem.Connection && !aItem.Connection->Freed()) {
            try {
                FreeConnection(aItem.Connection);
            } catch (...) {}
        }
        break;
    case nkMessage: DoMessageEvent(aItem.Connection, aItem.Text); break;
    case nkBinary: DoBinaryEvent(aItem.Connection, *aItem.Stream); break;
    case nkFragmented:
        DoFragmentedEvent(aItem.Connection, *aItem.Stream, static_cast<TOpcode>(aItem.Int),
                          aItem.Text1 == "1");
        break;
    case nkError: DoErrorEvent(aItem.Connection, aItem.Text); break;
    case nkException: DoExceptionEvent(aItem.Connection, aItem.Text, aItem.RawException.get()); break;
    }
}

// --- delivery ---

void TkezWSComponent_Base::DoNotifyConnect(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying() || !aConnection || aConnection->IsInternal() || !aConnection->NotifyConnection())
        return;
    if (NotifyEvents() == neNoSync) return DoConnectEvent(aConnection);
    List(nkConnect).AddNotifyObject(aConnection);
    Deliver(nkConnect);
}

void TkezWSComponent_Base::DoNotifyDisconnect(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying() || !aConnection) return;
    if (aConnection->IsInternal() || !aConnection->NotifyDisconnection()) return FreeConnection(aConnection);
    if (NotifyEvents() == neNoSync) {
        DoDisconnectEvent(aConnection, aConnection->CloseCode());
        FreeConnection(aConnection);
        return;
    }
    List(nkDisconnect).AddNotifyObject(aConnection, aConnection->CloseCode());
    Deliver(nkDisconnect);
}

void TkezWSComponent_Base::DoNotifyMessage(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying() || !aConnection || aConnection->IsInternal()) return;
    if (NotifyEvents() == neNoSync) return DoMessageEvent(aConnection, aConnection->MsgReceived());
    List(nkMessage).AddNotifyObject(aConnection, aConnection->MsgReceived());
    Deliver(nkMessage);
}

void TkezWSComponent_Base::DoNotifyBinary(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying() || !aConnection || aConnection->IsInternal()) return;
    if (NotifyEvents() == neNoSync) return DoBinaryEvent(aConnection, aConnection->MsgBinaryReceived());
    List(nkBinary).AddNotifyObject(aConnection, aConnection->MsgBinaryReceived());
    Deliver(nkBinary);
}

void TkezWSComponent_Base::DoNotifyFragmented(const TkezWSConnectionPtr& aConnection, TOpcode aOpCode,
                                              bool aContinuation) {
    if (IsDestroying() || !aConnection || aConnection->IsInternal()) return;
    if (NotifyEvents() == neNoSync)
        return DoFragmentedEvent(aConnection, aConnection->MsgBinaryReceived(), aOpCode, aContinuation);
    List(nkFragmented).AddNotifyObject(aConnection, aConnection->MsgBinaryReceived(), aOpCode, aContinuation);
    Deliver(nkFragmented);
}

void TkezWSComponent_Base::DoNotifyError(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying() || !aConnection || aConnection->IsInternal()) return;
    if (NotifyEvents() == neNoSync) return DoErrorEvent(aConnection, aConnection->MsgError());
    List(nkError).AddNotifyObject(aConnection, aConnection->MsgError());
    Deliver(nkError);
}

void TkezWSComponent_Base::DoNotifyException(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying() || !aConnection || aConnection->IsInternal()) return;
    const std::shared_ptr<std::exception> raw = aConnection->RawException();
    if (NotifyEvents() == neNoSync)
        return DoExceptionEvent(aConnection, aConnection->MsgException(), raw.get());
    List(nkException).AddNotifyObject(aConnection, aConnection->MsgException(), raw.get());
    Deliver(nkException);
}

void TkezWSComponent_Base::DoNotifyExceptionNoConnection(const std::string& aText,
                                                         const std::exception* aException) {
    if (IsDestroying()) return;
    if (NotifyEvents() == neNoSync) return DoExceptionEvent(nullptr, aText, aException);
    List(nkException).AddNotifyObject(nullptr, aText, aException);
    Deliver(nkException);
}

// --- reporting ---

void TkezWSComponent_Base::DoException(const TkezWSConnectionPtr& aConnection, const std::string& aText,
                                       const std::exception* E) {
    if (IsDestroying()) return;
    try {
        if (OnException) {
            if (aConnection) {
                aConnection->SetMsgException(aText);
                aConnection->SetRawException(E ? CopyException(*E) : nullptr);
                DoNotifyException(aConnection);
                aConnection->DoErrorDisconnect();
            } else {
                DoNotifyExceptionNoConnection(aText, E);
            }
        } else if (aConnection) {
            aConnection->DoErrorDisconnect();
        }
    } catch (...) {
        // Reporting never raises.
    }
}

void TkezWSComponent_Base::DoError(const TkezWSConnectionPtr& aConnection, const std::string& aText) {
    if (IsDestroying()) return;
    try {
        if (OnError) {
            if (aConnection) {
                aConnection->SetMsgError(aText);
                DoNotifyError(aConnection);
                aConnection->DoErrorDisconnect();
            } else {
                DoErrorEvent(nullptr, aText);
            }
        } else if (aConnection) {
            aConnection->DoErrorDisconnect();
        }
    } catch (...) {}
}

// --- firing ---

void TkezWSComponent_Base::DoConnectEvent(const TkezWSConnectionPtr& aConnection) {
    OnConnect.Fire(aConnection);
}

void TkezWSComponent_Base::DoDisconnectEvent(const TkezWSConnectionPtr& aConnection, int aCode) {
    OnDisconnect.Fire(aConnection, aCode);
}

void TkezWSComponent_Base::DoMessageEvent(const TkezWSConnectionPtr& aConnection, const std::string& aText) {
    if (!OnMessage) return;
    if (QueueMessages()) return FHeld[0].AddNotifyObject(aConnection, aText);
    OnMessage(aConnection, aText);
}

void TkezWSComponent_Base::DoBinaryEvent(const TkezWSConnectionPtr& aConnection, TMemoryStream& aData) {
    if (!OnBinary) return;
    if (QueueMessages()) return FHeld[1].AddNotifyObject(aConnection, aData);
    OnBinary(aConnection, aData);
}

void TkezWSComponent_Base::DoFragmentedEvent(const TkezWSConnectionPtr& aConnection, TMemoryStream& aData,
                                             TOpcode aOpCode, bool aContinuation) {
    if (!OnFragmented) return;
    if (QueueMessages()) return FHeld[2].AddNotifyObject(aConnection, aData, aOpCode, aContinuation);
    OnFragmented(aConnection, aData, aOpCode, aContinuation);
}

void TkezWSComponent_Base::DoErrorEvent(const TkezWSConnectionPtr& aConnection, const std::string& aError) {
    OnError.Fire(aConnection, aError);
}

void TkezWSComponent_Base::DoExceptionEvent(const TkezWSConnectionPtr& aConnection, const std::string& aText,
                                            const std::exception* E) {
    if (!OnException) return;
    // An exception without a message, or none at all, is reported with the text.
    if (E && *E->what() != '\0')
        OnException(aConnection, *E);
    else
        OnException(aConnection, std::runtime_error(aText));
}

// --- held events ---

void TkezWSComponent_Base::SetQueueMessages(bool aValue) {
    if (FQueueProcessing.load()) return;
    FQueueMessages.store(aValue);
    if (!aValue) FlushQueuedMessages();
}

void TkezWSComponent_Base::FlushQueuedMessages() {
    FQueueProcessing.store(true);
    try {
        for (size_t kind = 0; kind < FHeld.size(); ++kind) {
            std::vector<std::shared_ptr<TkezWSNotifyObject>>& items = FHeld[kind].LockList();
            std::vector<std::shared_ptr<TkezWSNotifyObject>> held;
            held.swap(items);
            try {
                for (auto& item : held) {
                    if (kind == 0) DoMessageEvent(item->Connection, item->Text);
                    if (kind == 1) DoBinaryEvent(item->Connection, *item->Stream);
                    if (kind == 2)
                        DoFragmentedEvent(item->Connection, *item->Stream, static_cast<TOpcode>(item->Int),
                                          item->Text1 == "1");
                }
            } catch (...) {
                FHeld[kind].UnlockList();
                throw;
            }
            FHeld[kind].UnlockList();
        }
    } catch (...) {
        FQueueProcessing.store(false);
        throw;
    }
    FQueueProcessing.store(false);
}

void TkezWSComponent_Base::DoQueueClear() {
    for (auto& held : FHeld)
        held.Clear();
}

} // namespace kez
