// The protocol-component bases: a protocol component rides on a socket client, which routes the events of its
// connections to it; it keeps per-connection state on the connection object and writes through the client.
#pragma once

#include "kezWebSocket_Client.h"

#include <memory>
#include <string>

namespace kez {

enum TwsProtocolMessage : uint8_t { msgText, msgBinary, msgTextBinary };

using TkezWSRawMessageEvent =
    TkezEvent<void(const TkezWSConnectionPtr& Connection, const std::string& Text, bool& Handled)>;

// Per-connection state of a protocol component, stored in the connection's protocol data under an ID that is
// unique per component; the item, and so its object, goes with the connection.
class TkezQueueItemProtocolMessage : public TkezQueueItemBase {
public:
    std::shared_ptr<TObject> WSMessage;
};

class TkezWSProtocol : public TkezWSProtocolObject {
public:
    TwsProtocolMessage MsgType() const noexcept { return FMsgType.load(std::memory_order_acquire); }
    void SetMsgType(TwsProtocolMessage aValue) noexcept { FMsgType.store(aValue, std::memory_order_release); }

    TkezWSRawMessageEvent OnRawMessage;

protected:
    // The hooks of a broker component; none in this system.
    virtual void DoBrokerConnect(const TkezWSConnectionPtr& /*aConnection*/) {}
    virtual void DoBrokerDisconnect(const TkezWSConnectionPtr& /*aConnection*/) {}
    virtual void DoBrokerDisconnected(const TkezWSConnectionPtr& /*aConnection*/) {}
    virtual bool DoRawMessage(const TkezWSConnectionPtr& aConnection, const std::string& aText);

    // The item stored under aID on a connection, or null.
    static std::shared_ptr<TkezQueueItemProtocolMessage>
    GetProtocolItem(const TkezWSConnectionPtr& aConnection, const std::string& aID);
    static void SetProtocolItem(const TkezWSConnectionPtr& aConnection, const std::string& aID,
                                std::shared_ptr<TkezQueueItemProtocolMessage> aItem);

private:
    std::atomic<TwsProtocolMessage> FMsgType{msgText};
};

class TkezWSProtocol_Client : public TkezWSProtocol {
public:
    ~TkezWSProtocol_Client() override;

    TkezWSClient* Client() const noexcept { return FClient.load(std::memory_order_acquire); }
    // Registers with the client (which hands over its NotifyEvents); null unregisters. While loading, only
    // stored.
    virtual void SetClient(TkezWSClient* aValue);

    // Without a keep-alive of its own the client pings in its own way.
    bool DoHeartBeat() override { return false; }
    // With the client in neNoSync the connection stays until the next one goes, in the client's delayed slot.
    void FreeConnection(const TkezWSConnectionPtr& aConnection) override;
    // A text protocol on raw TCP receives each block as text; others receive bytes.
    void DoNotifyBinary(const TkezWSConnectionPtr& aConnection) override;

protected:
    // Unregisters from the client and waits for the calls in flight; the most derived destructor calls it
    // first. Idempotent.
    void ShutdownProtocol();
    // Connect and disconnect take over the client's watchdog and heartbeat duties.
    void DoConnectEvent(const TkezWSConnectionPtr& aConnection) override;
    void DoDisconnectEvent(const TkezWSConnectionPtr& aConnection, int aCode) override;
    void Notification(TkezComponent_Base* aComponent, TkezComponentOperation aOperation) override;
    void Loaded() override;

    // Runs aCall with the client while holding an entry through the client's gate, so that the client cannot
    // be taken apart during the call; nothing without a client (or when it is going).
    template <typename Call>
    void WithClient(Call&& aCall) {
        TkezCallGatePtr gate;
        TkezCallGate::TEntry entry;
        TkezWSClient* client = nullptr;
        {
            std::lock_guard guard(FClientLock);
            client = FClient.load(std::memory_order_acquire);
            if (!client) return;
            gate = client->Gate();
            entry = gate->Enter();
        }
        if (entry) aCall(*client);
    }

private:
    std::mutex FClientLock;
    std::atomic<TkezWSClient*> FClient{nullptr};
};

class TkezWSProtocol_Client_Base : public TkezWSProtocol_Client {
public:
    // Inert: no broker component exists in this system.
    TkezWSComponent* Broker() const noexcept { return FBroker; }
    virtual void SetBroker(TkezWSComponent* aValue) { FBroker = aValue; }

    // Through the client; nothing without one.
    virtual void WriteData(const std::string& aText);
    virtual void WriteData(TStream& aStream, int64_t aSize = 0, TwsStreaming aStreaming = stmNone);

private:
    TkezWSComponent* FBroker = nullptr;
};

} // namespace kez
