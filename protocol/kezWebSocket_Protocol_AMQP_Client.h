// The AMQP protocol component: rides on a socket client, makes one AMQP engine per socket connection, hands
// every received block to that engine and writes every block the engine produces, takes the heartbeat over
// once the AMQP connection is open, re-raises the engine's events with itself as Sender, and forwards every
// operation to the engine in use.
#pragma once

#include "kezAMQP_Client.h"
#include "kezWebSocket_Protocol_Base.h"

#include <atomic>
#include <chrono>

namespace kez {

class TkezWSAMQP_Options : public TObject {
public:
    KEZ_PROPERTY(std::string, Locale, "en_US")
    KEZ_PROPERTY(uint16_t, MaxChannels, 65535)
    KEZ_PROPERTY(uint32_t, MaxFrameSize, 2147483647)
    KEZ_PROPERTY(std::string, VirtualHost, "/")
public:
    void Assign(const TkezWSAMQP_Options& aSource) { *this = aSource; }
};

class TkezWSAMQPHeartBeat_Options : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, true)
    // Seconds.
    KEZ_PROPERTY(int32_t, Interval, 60)
    // Seconds; 0: no check for a silent broker.
    KEZ_PROPERTY(int32_t, Timeout, 0)
public:
    void Assign(const TkezWSAMQPHeartBeat_Options& aSource) { *this = aSource; }
};

// Stored and copied; the login takes its credentials from OnAMQPAuthentication.
class TkezWSAMQPAuthentication_Options : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    KEZ_PROPERTY(std::string, Password)
    KEZ_PROPERTY(std::string, UserName)
public:
    void Assign(const TkezWSAMQPAuthentication_Options& aSource) { *this = aSource; }
};

// The engine of one connection.
class TkezWSAMQPMessage : public TkezAMQP_Client {
public:
    static std::shared_ptr<TkezWSAMQPMessage> Create();

protected:
    TkezWSAMQPMessage() = default;
};

class TkezWSProtocol_AMQP_Client_Base : public TkezWSProtocol_Client_Base {
public:
    TkezWSProtocol_AMQP_Client_Base();
    ~TkezWSProtocol_AMQP_Client_Base() override;

    // --- options (copied into each new connection's engine) ---
    TkezWSAMQP_Options AMQPOptions() const;
    void SetAMQPOptions(const TkezWSAMQP_Options& aValue);
    TkezWSAMQPHeartBeat_Options HeartBeat() const;
    void SetHeartBeat(const TkezWSAMQPHeartBeat_Options& aValue);
    TkezWSAMQPAuthentication_Options Authentication() const;
    void SetAuthentication(const TkezWSAMQPAuthentication_Options& aValue);
    // The channel table of the engine in use.
    TkezAMQPChannelThreads& Channels();

    // --- the heartbeat tick: sends an AMQP heartbeat frame instead of the client's ping ---
    bool DoHeartBeat() override;
    void DoNotifyBinary(const TkezWSConnectionPtr& aConnection) override;
    void DoNotifyDisconnect(const TkezWSConnectionPtr& aConnection) override;

    // --- operations, forwarded to the engine in use ---
    void Close();
    void Close(uint16_t aReplyCode, const std::string& aReplyText, TkezAMQPClass aFailClassId,
               TkezAMQPMethod aFailMethodId);
    // Waits at most 10000 ms for Connection.CloseOk.
    bool CloseEx(uint16_t aReplyCode, const std::string& aReplyText, TkezAMQPClass aFailClassId,
                 TkezAMQPMethod aFailMethodId);
    void OpenChannel(const std::string& aChannel);
    bool OpenChannelEx(const std::string& aChannel, int32_t aTimeout);
    void CloseChannel(const std::string& aChannel, uint16_t aReplyCode, const std::string& aReplyText,
                      TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId);
    bool CloseChannelEx(const std::string& aChannel, uint16_t aReplyCode, const std::string& aReplyText,
                        TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId, int32_t aTimeout);
    void EnableChannel(const std::string& aChannel);
    bool EnableChannelEx(const std::string& aChannel, int32_t aTimeout);
    void DisableChannel(const std::string& aChannel);
    bool DisableChannelEx(const std::string& aChannel, int32_t aTimeout);
    void DeclareExchange(const std::string& aChannel, const std::string& aExchange,
                         const std::string& aExchangeType, bool aPassive, bool aDurable, bool aAutoDelete,
                         bool aInternal, bool aNoWait, const std::string& aArguments = {});
    bool DeclareExchangeEx(const std::string& aChannel, const std::string& aExchange,
                           const std::string& aExchangeType, bool aPassive, bool aDurable, bool aAutoDelete,
                           bool aInternal, bool aNoWait, int32_t aTimeout,
                           const std::string& aArguments = {});
    void DeleteExchange(const std::string& aChannel, const std::string& aExchange, bool aIfUnused,
                        bool aNoWait);
    bool DeleteExchangeEx(const std::string& aChannel, const std::string& aExchange, bool aIfUnused,
                          bool aNoWait, int32_t aTimeout);
    void DeclareQueue(const std::string& aChannel, const std::string& aQueue, bool aPassive, bool aDurable,
                      bool aExclusive, bool aAutoDelete, bool aNoWait, const std::string& aArguments = {});
    bool DeclareQueueEx(const std::string& aChannel, const std::string& aQueue, bool aPassive, bool aDurable,
                        bool aExclusive, bool aAutoDelete, bool aNoWait, int32_t aTimeout,
                        const std::string& aArguments = {});
    void BindQueue(const std::string& aChannel, const std::string& aQueue, const std::string& aExchange,
                   const std::string& aRoutingKey, bool aNoWait, const std::string& aArguments = {});
    bool BindQueueEx(const std::string& aChannel, const std::string& aQueue, const std::string& aExchange,
                     const std::string& aRoutingKey, bool aNoWait, int32_t aTimeout,
                     const std::string& aArguments = {});
    void UnBindQueue(const std::string& aChannel, const std::string& aQueue, const std::string& aExchange,
                     const std::string& aRoutingKey, const std::string& aArguments = {});
    bool UnBindQueueEx(const std::string& aChannel, const std::string& aQueue, const std::string& aExchange,
                       const std::string& aRoutingKey, int32_t aTimeout, const std::string& aArguments = {});
    void PurgeQueue(const std::string& aChannel, const std::string& aQueue, bool aNoWait);
    bool PurgeQueueEx(const std::string& aChannel, const std::string& aQueue, bool aNoWait, int32_t aTimeout);
    void DeleteQueue(const std::string& aChannel, const std::string& aQueue, bool aIfUnused, bool aIfEmpty,
                     bool aNoWait);
    bool DeleteQueueEx(const std::string& aChannel, const std::string& aQueue, bool aIfUnused, bool aIfEmpty,
                       bool aNoWait, int32_t aTimeout);
    void SetQoS(const std::string& aChannel, uint32_t aPrefetchSize, uint16_t aPrefetchCount, bool aGlobal);
    bool SetQoSEx(const std::string& aChannel, uint32_t aPrefetchSize, uint16_t aPrefetchCount, bool aGlobal,
                  int32_t aTimeout);
    void Consume(const std::string& aChannel, const std::string& aQueue, const std::string& aConsumerTag,
                 bool aNoLocal, bool aNoAck, bool aExclusive, bool aNoWait,
                 const std::string& aArguments = {});
    bool ConsumeEx(const std::string& aChannel, const std::string& aQueue, const std::string& aConsumerTag,
                   bool aNoLocal, bool aNoAck, bool aExclusive, int32_t aTimeout,
                   const std::string& aArguments = {});
    void CancelConsume(const std::string& aChannel, const std::string& aConsumerTag, bool aNoWait);
    bool CancelConsumeEx(const std::string& aChannel, const std::string& aConsumerTag, int32_t aTimeout);
    void PublishMessage(const std::string& aChannel, const std::string& aExchange,
                        const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                        TStream& aMessage, bool aMandatory, bool aImmediate);
    void PublishMessage(const std::string& aChannel, const std::string& aExchange,
                        const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                        const std::string& aMessage, bool aMandatory, bool aImmediate);
    void PublishMessage(const std::string& aChannel, const std::string& aExchange,
                        const std::string& aRoutingKey, const std::string& aMessage, bool aMandatory,
                        bool aImmediate);
    void PublishMessage(const std::string& aChannel, const std::string& aExchange,
                        const std::string& aRoutingKey, TStream& aMessage, bool aMandatory, bool aImmediate);
    void GetMessage(const std::string& aChannel, const std::string& aQueue, bool aNoAck);
    bool GetMessageEx(const std::string& aChannel, const std::string& aQueue, int32_t aTimeout);
    void AckMessage(const std::string& aChannel, uint64_t aDeliveryTag, bool aMultiple);
    void RejectMessage(const std::string& aChannel, uint64_t aDeliveryTag, bool aRequeue);
    void Recover(const std::string& aChannel, bool aRequeue);
    bool RecoverEx(const std::string& aChannel, bool aRequeue, int32_t aTimeout);
    void RecoverAsync(const std::string& aChannel, bool aRequeue);
    void SelectTransaction(const std::string& aChannel);
    bool SelectTransactionEx(const std::string& aChannel, int32_t aTimeout);
    void CommitTransaction(const std::string& aChannel);
    bool CommitTransactionEx(const std::string& aChannel, int32_t aTimeout);
    void RollbackTransaction(const std::string& aChannel);
    bool RollbackTransactionEx(const std::string& aChannel, int32_t aTimeout);

    // --- events: the engine's, with this component as Sender, on the engine's threads ---
    TkezAMQPConnectEvent OnAMQPConnect;
    TkezAMQPAuthenticationEvent OnAMQPAuthentication;
    TkezAMQPChallengeEvent OnAMQPChallenge;
    TkezAMQPHeartBeatEvent OnAMQPHeartBeat;
    TkezAMQPChannelEvent OnAMQPChannelOpen;
    TkezAMQPChannelCloseEvent OnAMQPChannelClose;
    TkezAMQPChannelFlowEvent OnAMQPChannelFlow;
    TkezAMQPExchangeEvent OnAMQPExchangeDeclare;
    TkezAMQPExchangeEvent OnAMQPExchangeDelete;
    TkezAMQPQueueDeclareEvent OnAMQPQueueDeclare;
    TkezAMQPQueueBindEvent OnAMQPQueueBind;
    TkezAMQPQueueBindEvent OnAMQPQueueUnBind;
    TkezAMQPQueueCountEvent OnAMQPQueuePurge;
    TkezAMQPQueueCountEvent OnAMQPQueueDelete;
    TkezAMQPBasicQoSEvent OnAMQPBasicQoS;
    TkezAMQPConsumerTagEvent OnAMQPBasicConsume;
    TkezAMQPConsumerTagEvent OnAMQPBasicCancelConsume;
    TkezAMQPBasicReturnEvent OnAMQPBasicReturn;
    TkezAMQPBasicDeliverEvent OnAMQPBasicDeliver;
    TkezAMQPBasicGetOkEvent OnAMQPBasicGetOk;
    TkezAMQPChannelEvent OnAMQPBasicGetEmpty;
    TkezAMQPChannelEvent OnAMQPBasicRecoverOk;
    TkezAMQPTransactionEvent OnAMQPTransactionOk;
    TkezAMQPDisconnectEvent OnAMQPDisconnect;
    TkezAMQPExceptionEvent OnAMQPException;

protected:
    void DoConnectEvent(const TkezWSConnectionPtr& aConnection) override;
    void DoDisconnectEvent(const TkezWSConnectionPtr& aConnection, int aCode) override;
    void DoBinaryEvent(const TkezWSConnectionPtr&, TMemoryStream&) override {}

    // The engine of the current connection, or the component's own while there is none.
    std::shared_ptr<TkezWSAMQPMessage> GetWSMessage();
    // The engine a connection carries for this component, made on first need; null for a null connection.
    std::shared_ptr<TkezWSAMQPMessage> GetConnectionWSMessage(const TkezWSConnectionPtr& aConnection,
                                                              bool aCreate = true);
    // Wires the engine's events to this component and copies the options into it.
    virtual void InitializeWSMessage(TkezWSAMQPMessage& aEngine);
    virtual void DoAMQPConnect(const TkezWSConnectionPtr& aConnection);
    virtual void DoAMQPDisconnect(int aCode);
    virtual void DoSendBytes(const TBytes& aBytes);
    virtual void DoSendPieces(TBytesPieces aPieces);
    virtual void DoAMQPException(const std::exception& E);
    virtual void OnAMQPConnectEvent();
    virtual void OnAMQPDisconnectEvent(const TkezAMQPFramePayload_Method_ConnectionClose& aClose, bool aAck);
    virtual void OnAMQPExceptionEvent(const std::exception& E);

    // Raises one of this component's events; an exception from the handler goes to OnAMQPException.
    template <typename Event, typename... Args>
    void Raise(const Event& aEvent, Args&&... aArgs) {
        if (!aEvent) return;
        try {
            aEvent(this, std::forward<Args>(aArgs)...);
        } catch (const std::exception& e) {
            DoAMQPException(e);
        }
    }

private:
    TkezWSConnectionPtr CurrentConnection() const;

    const std::string FWSMessageId;
    mutable std::mutex FLock; // options, the own engine, the current connection
    TkezWSAMQP_Options FAMQPOptions;
    TkezWSAMQPHeartBeat_Options FHeartBeat;
    TkezWSAMQPAuthentication_Options FAuthentication;
    std::shared_ptr<TkezWSAMQPMessage> FWSMessage;
    TkezWSConnectionPtr FWSConnection;
    // Heartbeat book-keeping, in steady-clock nanoseconds; 0 means "not yet".
    std::atomic<int64_t> FFirstPing{0};
    std::atomic<int64_t> FLastPing{0};
    std::atomic<int64_t> FLastFrame{0};
};

class TkezWSProtocol_AMQP_Client : public TkezWSProtocol_AMQP_Client_Base {};

// The component as published.
class TkezWSPClient_AMQP : public TkezWSProtocol_AMQP_Client {
public:
    ~TkezWSPClient_AMQP() override { ShutdownProtocol(); }
};

} // namespace kez
