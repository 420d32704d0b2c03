#include "kezWebSocket_Protocol_Base.h"

namespace kez {

// --- TkezWSProtocol ---

bool TkezWSProtocol::DoRawMessage(const TkezWSConnectionPtr& aConnection, const std::string& aText) {
    bool handled = false;
    OnRawMessage.Fire(aConnection, aText, handled);
    return handled;
}

std::shared_ptr<TkezQueueItemProtocolMessage>
TkezWSProtocol::GetProtocolItem(const TkezWSConnectionPtr& aConnection, const std::string& aID) {
    if (!aConnection) return nullptr;
    return std::dynamic_pointer_cast<TkezQueueItemProtocolMessage>(aConnection->ProtocolData().GetItem(aID));
}

void TkezWSProtocol::SetProtocolItem(const TkezWSConnectionPtr& aConnection, const std::string& aID,
                                     std::shared_ptr<TkezQueueItemProtocolMessage> aItem) {
    if (!aConnection || !aItem) return;
    aItem->SetID(aID);
    aConnection->ProtocolData().AddItem(std::move(aItem));
}

// --- TkezWSProtocol_Client ---

TkezWSProtocol_Client::~TkezWSProtocol_Client() { ShutdownProtocol(); }

void TkezWSProtocol_Client::ShutdownProtocol() {
    SetClient(nullptr);
    ShutdownEvents();
}

void TkezWSProtocol_Client::SetClient(TkezWSClient* aValue) {
    if (IsLoading()) {
        FClient.store(aValue, std::memory_order_release);
        return;
    }
    TkezWSClient* previous = nullptr;
    {
        std::lock_guard guard(FClientLock);
        previous = FClient.load(std::memory_order_acquire);
        if (aValue == previous) return;
        FClient.store(aValue, std::memory_order_release);
    }
    // Unregistered from the previous client too, so that no client keeps a component it no longer names.
    if (previous) {
        previous->UnRegisterProtocol(this);
        RemoveFreeNotification(previous);
        previous->RemoveFreeNotification(this);
    }
    if (aValue) {
        aValue->RegisterProtocol(this);
        aValue->FreeNotification(this);
    }
}

void TkezWSProtocol_Client::Loaded() {
    TkezWSClient* const client = FClient.exchange(nullptr);
    if (client) SetClient(client);
}

void TkezWSProtocol_Client::Notification(TkezComponent_Base* aComponent, TkezComponentOperation aOperation) {
    // The client is going: forget it (it takes its list with it).
    std::lock_guard guard(FClientLock);
    if (aOperation == opRemove && aComponent == FClient.load())
        FClient.store(nullptr, std::memory_order_release);
}

void TkezWSProtocol_Client::FreeConnection(const TkezWSConnectionPtr& aConnection) {
    bool held = false;
    WithClient([&](TkezWSClient& aClient) {
        if (!aClient.FreeConnectionOnDestroy() || !aConnection) return;
        aClient.HoldDelayedConnection(aConnection);
        held = true;
    });
    if (!held) TkezWSProtocol::FreeConnection(aConnection);
}

void TkezWSProtocol_Client::DoConnectEvent(const TkezWSConnectionPtr& aConnection) {
    OnConnect.Fire(aConnection);
    WithClient([](TkezWSClient& aClient) {
        aClient.StopWatchDog();
        aClient.SetWatchDogAttempts(0);
    });
}

void TkezWSProtocol_Client::DoDisconnectEvent(const TkezWSConnectionPtr& aConnection, int aCode) {
    OnDisconnect.Fire(aConnection, aCode);
    WithClient([](TkezWSClient& aClient) {
        aClient.StopHeartBeatTimeout();
        aClient.StopHeartBeat();
        const int attempts = aClient.WatchDog().Attempts();
        if (aClient.WatchDogEnabled() && (attempts == 0 || attempts > aClient.WatchDogAttempts()))
            aClient.StartWatchDog();
    });
}

void TkezWSProtocol_Client::DoNotifyBinary(const TkezWSConnectionPtr& aConnection) {
    bool asText = false;
    WithClient(
        [&](TkezWSClient& aClient) { asText = MsgType() == msgText && !aClient.Specifications().RFC6455(); });
    if (!asText || !aConnection) return TkezWSProtocol::DoNotifyBinary(aConnection);
    // A text protocol on a raw TCP connection: the block as text.
    const TBytes& block = aConnection->MsgBinaryReceived().Bytes();
    aConnection->SetMsgReceived(std::string(block.begin(), block.end()));
    DoNotifyMessage(aConnection);
}

// --- TkezWSProtocol_Client_Base ---

void TkezWSProtocol_Client_Base::WriteData(const std::string& aText) {
    WithClient([&](TkezWSClient& aClient) { aClient.WriteData(aText, 0, stmNone); });
}

void TkezWSProtocol_Client_Base::WriteData(TStream& aStream, int64_t aSize, TwsStreaming aStreaming) {
    WithClient([&](TkezWSClient& aClient) { aClient.WriteData(aStream, aSize, aStreaming); });
}

} // namespace kez
