// The client side of AMQP 0-9-1 on top of the engine core: the handshake, opening channels, every exchange,
// queue, message and transaction operation, and the events for the broker's replies and deliveries.
//
// Every operation names its channel by the application's name, writes its request on the calling thread and
// returns; its Ex form then waits up to aTimeout ms for the reply and returns whether it came (false on
// time-out, for a time-out of 0 or less, when disconnected first, or for a reply in its fail set).
#pragma once

#include "kezAMQP.h"

namespace kez {

class TkezAMQP_Client : public TkezAMQP {
public:
    static std::shared_ptr<TkezAMQP_Client> Create();
    ~TkezAMQP_Client() override;

    // --- connection ---
    // Flags the connection up and writes the protocol header.
    void Connect();
    // Flags the connection down and wakes every synchronous wait; nothing is sent.
    void Disconnect();

    // --- channels ---
    void OpenChannel(const std::string& aChannel);
    bool OpenChannelEx(const std::string& aChannel, int32_t aTimeout);

    // --- exchanges and queues ---
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

    // --- consumers and QoS ---
    void SetQoS(const std::string& aChannel, uint32_t aPrefetchSize, uint16_t aPrefetchCount, bool aGlobal);
    bool SetQoSEx(const std::string& aChannel, uint32_t aPrefetchSize, uint16_t aPrefetchCount, bool aGlobal,
                  int32_t aTimeout);
    void Consume(const std::string& aChannel, const std::string& aQueue, const std::string& aConsumerTag,
                 bool aNoLocal, bool aNoAck, bool aExclusive, bool aNoWait,
                 const std::string& aArguments = {});
    // Always waits for Basic.ConsumeOk (no-wait false).
    bool ConsumeEx(const std::string& aChannel, const std::string& aQueue, const std::string& aConsumerTag,
                   bool aNoLocal, bool aNoAck, bool aExclusive, int32_t aTimeout,
                   const std::string& aArguments = {});
    void CancelConsume(const std::string& aChannel, const std::string& aConsumerTag, bool aNoWait);
    bool CancelConsumeEx(const std::string& aChannel, const std::string& aConsumerTag, int32_t aTimeout);

    // --- messages ---
    // One block: Basic.Publish, the content header (aHeader's properties, or the defaults when null) and body
    // frames of at most the negotiated frame size, read from the stream in place from its start.
    void PublishMessage(const std::string& aChannel, const std::string& aExchange,
                        const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                        TStream& aMessage, bool aMandatory, bool aImmediate);
    // The text as its UTF-8 octets.
    void PublishMessage(const std::string& aChannel, const std::string& aExchange,
                        const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                        const std::string& aMessage, bool aMandatory, bool aImmediate);
    void PublishMessage(const std::string& aChannel, const std::string& aExchange,
                        const std::string& aRoutingKey, const std::string& aMessage, bool aMandatory,
                        bool aImmediate);
    void PublishMessage(const std::string& aChannel, const std::string& aExchange,
                        const std::string& aRoutingKey, TStream& aMessage, bool aMandatory, bool aImmediate);
    void GetMessage(const std::string& aChannel, const std::string& aQueue, bool aNoAck);
    // True for Basic.GetOk (the message follows through OnAMQPBasicGetOk), false for Basic.GetEmpty. No-ack
    // false.
    bool GetMessageEx(const std::string& aChannel, const std::string& aQueue, int32_t aTimeout);
    void AckMessage(const std::string& aChannel, uint64_t aDeliveryTag, bool aMultiple);
    void RejectMessage(const std::string& aChannel, uint64_t aDeliveryTag, bool aRequeue);
    void Recover(const std::string& aChannel, bool aRequeue);
    bool RecoverEx(const std::string& aChannel, bool aRequeue, int32_t aTimeout);
    void RecoverAsync(const std::string& aChannel, bool aRequeue);

    // --- transactions ---
    void SelectTransaction(const std::string& aChannel);
    bool SelectTransactionEx(const std::string& aChannel, int32_t aTimeout);
    void CommitTransaction(const std::string& aChannel);
    bool CommitTransactionEx(const std::string& aChannel, int32_t aTimeout);
    void RollbackTransaction(const std::string& aChannel);
    bool RollbackTransactionEx(const std::string& aChannel, int32_t aTimeout);

    // --- events (raised on the channel's worker; connection events on channel 0's) ---
    TkezAMQPAuthenticationEvent OnAMQPAuthentication;
    TkezAMQPConsumerTagEvent OnAMQPBasicCancelConsume;
    TkezAMQPChallengeEvent OnAMQPChallenge;
    TkezAMQPConnectEvent OnAMQPConnect;
    TkezAMQPConsumerTagEvent OnAMQPBasicConsume;
    TkezAMQPBasicDeliverEvent OnAMQPBasicDeliver;
    TkezAMQPChannelEvent OnAMQPBasicGetEmpty;
    TkezAMQPBasicGetOkEvent OnAMQPBasicGetOk;
    TkezAMQPExchangeEvent OnAMQPExchangeDeclare;
    TkezAMQPExchangeEvent OnAMQPExchangeDelete;
    TkezAMQPBasicQoSEvent OnAMQPBasicQoS;
    TkezAMQPBasicReturnEvent OnAMQPBasicReturn;
    TkezAMQPQueueBindEvent OnAMQPQueueBind;
    TkezAMQPQueueDeclareEvent OnAMQPQueueDeclare;
    TkezAMQPQueueCountEvent OnAMQPQueueDelete;
    TkezAMQPQueueCountEvent OnAMQPQueuePurge;
    TkezAMQPQueueBindEvent OnAMQPQueueUnBind;
    TkezAMQPChannelEvent OnAMQPBasicRecoverOk;
    TkezAMQPTransactionEvent OnAMQPTransactionOk;

protected:
    TkezAMQP_Client();

    void DoReadFrameMethod(TkezAMQPFrame& aFrame, TkezAMQPFramePayloadType_Method& aMethod) override;
    void DoReadFrameContentHeader(TkezAMQPFrame& aFrame,
                                  TkezAMQPFramePayloadType_ContentHeader& aHeader) override;
    void DoReadFrameContentBody(TkezAMQPFrame& aFrame, TkezAMQPFramePayloadType_ContentBody& aBody) override;

    // The handshake, on channel 0's worker.
    virtual void DoConnectionStart(TkezAMQPFramePayload_Method_ConnectionStart& aStart);
    virtual void DoConnectionSecure(TkezAMQPFramePayload_Method_ConnectionSecure& aSecure);
    virtual void DoConnectionTune(TkezAMQPFramePayload_Method_ConnectionTune& aTune);
    virtual void DoConnectionOpenOk(TkezAMQPFramePayload_Method_ConnectionOpenOk& aOpenOk);
    // Replies, on their channel's worker.
    virtual void DoChannelOpenOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelOpenOk& aPayload);
    virtual void DoExchangeDeclareOk(TkezAMQPFrame& aFrame,
                                     TkezAMQPFramePayload_Method_ExchangeDeclareOk& aPayload);
    virtual void DoExchangeDeleteOk(TkezAMQPFrame& aFrame,
                                    TkezAMQPFramePayload_Method_ExchangeDeleteOk& aPayload);
    virtual void DoQueueDeclareOk(TkezAMQPFrame& aFrame,
                                  TkezAMQPFramePayload_Method_QueueDeclareOk& aPayload);
    virtual void DoQueueBindOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_QueueBindOk& aPayload);
    virtual void DoQueueUnBindOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_QueueUnBindOk& aPayload);
    virtual void DoQueuePurgeOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_QueuePurgeOk& aPayload);
    virtual void DoQueueDeleteOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_QueueDeleteOk& aPayload);
    virtual void DoBasicQoSOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicQoSOk& aPayload);
    virtual void DoBasicConsumeOk(TkezAMQPFrame& aFrame,
                                  TkezAMQPFramePayload_Method_BasicConsumeOk& aPayload);
    virtual void DoBasicCancelOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicCancelOk& aPayload);
    virtual void DoBasicReturn(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicReturn& aPayload);
    virtual void DoBasicDeliver(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicDeliver& aPayload);
    virtual void DoBasicGetOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicGetOk& aPayload);
    virtual void DoBasicGetEmpty(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicGetEmpty& aPayload);
    virtual void DoBasicRecoverOk(TkezAMQPFrame& aFrame,
                                  TkezAMQPFramePayload_Method_BasicRecoverOk& aPayload);
    virtual void DoTxSelectOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_TxSelectOk& aPayload);
    virtual void DoTxCommitOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_TxCommitOk& aPayload);
    virtual void DoTxRollbackOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_TxRollbackOk& aPayload);
    // A message whose body is complete.
    virtual void DoMessageComplete(TkezAMQPChannelThreadItem& aEntry);

private:
    // Writes Publish, content header and body frames as one block.
    void PublishBody(const std::string& aChannel, const std::string& aExchange,
                     const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader, TBytesView aBody,
                     bool aMandatory, bool aImmediate);
    // Starts a message on its channel from a Deliver, GetOk or Return.
    void StartMessage(TkezAMQPFrame& aFrame, const TkezAMQPFramePayload_Method_Basic& aPayload);
    // The entry of a reply's channel number, or null.
    TEntryPtr ReplyEntry(const TkezAMQPFrame& aFrame);
    // Sets the wait set, runs the plain operation and waits.
    template <typename Operation>
    bool Synchronous(const std::string& aChannel, TkezAMQPMethods aWaitSet, TkezAMQPMethods aFailSet,
                     int32_t aTimeout, Operation&& aOperation) {
        const TEntryPtr entry = DoGetChannel(aChannel);
        SetWaitRequest(*entry, aWaitSet);
        aOperation();
        return WaitForRequest(*entry, aTimeout, aFailSet);
    }
};

} // namespace kez
