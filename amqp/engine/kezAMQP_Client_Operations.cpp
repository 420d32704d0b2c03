// Channel, exchange, queue, consumer, acknowledgement and transaction operations, and the events of their
// replies.
#include "kezAMQP_Client.h"

#include "kezBase_Format.h"

namespace kez {

// --- channels ---

void TkezAMQP_Client::OpenChannel(const std::string& aChannel) {
    const uint16_t number = Channels().AddChannel(aChannel);
    if (number == 0) throw std::runtime_error(Format("Channel: %s already exists.", {aChannel}));
    WriteMethod<TkezAMQPFramePayload_Method_ChannelOpen>(number, [](auto&) {});
}

bool TkezAMQP_Client::OpenChannelEx(const std::string& aChannel, int32_t aTimeout) {
    // A new entry already waits for Channel.OpenOk, so a reply that beats the wait still counts.
    OpenChannel(aChannel);
    return WaitForRequest(aChannel, aTimeout, {});
}

void TkezAMQP_Client::DoChannelOpenOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelOpenOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame)) {
        entry->SetMethodId(amqpChannOpenOk);
        OnAMQPChannelOpen.Fire(this, entry->Channel());
    }
}

// --- exchanges ---

// Request names are noted before the request goes out: the reply that reports them may come back before the
// writing thread has returned.

void TkezAMQP_Client::DeclareExchange(const std::string& aChannel, const std::string& aExchange,
                                      const std::string& aExchangeType, bool aPassive, bool aDurable,
                                      bool aAutoDelete, bool aInternal, bool aNoWait,
                                      const std::string& aArguments) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    if (!aNoWait) entry->EditRequest([&](auto& aRequest) { aRequest.ExchangeDeclare = aExchange; });
    WriteMethod<TkezAMQPFramePayload_Method_ExchangeDeclare>(entry->Number(), [&](auto& a) {
        a.SetExchange(aExchange);
        a.SetExchangeType(aExchangeType);
        a.SetPassive(aPassive);
        a.SetDurable(aDurable);
        a.SetAutoDelete(aAutoDelete);
        a.SetInternal(aInternal);
        a.SetNoWait(aNoWait);
        a.SetArguments(aArguments);
    });
}

bool TkezAMQP_Client::DeclareExchangeEx(const std::string& aChannel, const std::string& aExchange,
                                        const std::string& aExchangeType, bool aPassive, bool aDurable,
                                        bool aAutoDelete, bool aInternal, bool aNoWait, int32_t aTimeout,
                                        const std::string& aArguments) {
    return Synchronous(aChannel, {amqpExchDeclareOk}, {}, aTimeout, [&] {
        DeclareExchange(aChannel, aExchange, aExchangeType, aPassive, aDurable, aAutoDelete, aInternal,
                        aNoWait, aArguments);
    });
}

void TkezAMQP_Client::DeleteExchange(const std::string& aChannel, const std::string& aExchange,
                                     bool aIfUnused, bool aNoWait) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    if (!aNoWait) entry->EditRequest([&](auto& aRequest) { aRequest.ExchangeDelete = aExchange; });
    WriteMethod<TkezAMQPFramePayload_Method_ExchangeDelete>(entry->Number(), [&](auto& a) {
        a.SetExchange(aExchange);
        a.SetIfUnused(aIfUnused);
        a.SetNoWait(aNoWait);
    });
}

bool TkezAMQP_Client::DeleteExchangeEx(const std::string& aChannel, const std::string& aExchange,
                                       bool aIfUnused, bool aNoWait, int32_t aTimeout) {
    return Synchronous(aChannel, {amqpExchDeleteOk}, {}, aTimeout,
                       [&] { DeleteExchange(aChannel, aExchange, aIfUnused, aNoWait); });
}

void TkezAMQP_Client::DoExchangeDeclareOk(TkezAMQPFrame& aFrame,
                                          TkezAMQPFramePayload_Method_ExchangeDeclareOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame); entry && OnAMQPExchangeDeclare)
        OnAMQPExchangeDeclare(this, entry->Channel(), entry->Request().ExchangeDeclare);
}

void TkezAMQP_Client::DoExchangeDeleteOk(TkezAMQPFrame& aFrame,
                                         TkezAMQPFramePayload_Method_ExchangeDeleteOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame); entry && OnAMQPExchangeDelete)
        OnAMQPExchangeDelete(this, entry->Channel(), entry->Request().ExchangeDelete);
}

// --- queues ---

void TkezAMQP_Client::DeclareQueue(const std::string& aChannel, const std::string& aQueue, bool aPassive,
                                   bool aDurable, bool aExclusive, bool aAutoDelete, bool aNoWait,
                                   const std::string& aArguments) {
    WriteMethod<TkezAMQPFramePayload_Method_QueueDeclare>(DoGetChannel(aChannel)->Number(), [&](auto& a) {
        a.SetQueue(aQueue);
        a.SetPassive(aPassive);
        a.SetDurable(aDurable);
        a.SetExclusive(aExclusive);
        a.SetAutoDelete(aAutoDelete);
        a.SetNoWait(aNoWait);
        a.SetArguments(aArguments);
    });
}

bool TkezAMQP_Client::DeclareQueueEx(const std::string& aChannel, const std::string& aQueue, bool aPassive,
                                     bool aDurable, bool aExclusive, bool aAutoDelete, bool aNoWait,
                                     int32_t aTimeout, const std::string& aArguments) {
    return Synchronous(aChannel, {amqpQueueDeclareOk}, {}, aTimeout, [&] {
        DeclareQueue(aChannel, aQueue, aPassive, aDurable, aExclusive, aAutoDelete, aNoWait, aArguments);
    });
}

void TkezAMQP_Client::BindQueue(const std::string& aChannel, const std::string& aQueue,
                                const std::string& aExchange, const std::string& aRoutingKey, bool aNoWait,
                                const std::string& aArguments) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    if (!aNoWait)
        entry->EditRequest([&](auto& aRequest) {
            aRequest.QueueBindQueue = aQueue;
            aRequest.QueueBindExchange = aExchange;
        });
    WriteMethod<TkezAMQPFramePayload_Method_QueueBind>(entry->Number(), [&](auto& a) {
        a.SetQueue(aQueue);
        a.SetExchange(aExchange);
        a.SetRoutingKey(aRoutingKey);
        a.SetNoWait(aNoWait);
        a.SetArguments(aArguments);
    });
}

bool TkezAMQP_Client::BindQueueEx(const std::string& aChannel, const std::string& aQueue,
                                  const std::string& aExchange, const std::string& aRoutingKey, bool aNoWait,
                                  int32_t aTimeout, const std::string& aArguments) {
    return Synchronous(aChannel, {amqpQueueBindOk}, {}, aTimeout,
                       [&] { BindQueue(aChannel, aQueue, aExchange, aRoutingKey, aNoWait, aArguments); });
}

void TkezAMQP_Client::UnBindQueue(const std::string& aChannel, const std::string& aQueue,
                                  const std::string& aExchange, const std::string& aRoutingKey,
                                  const std::string& aArguments) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    entry->EditRequest([&](auto& aRequest) {
        aRequest.QueueUnBindQueue = aQueue;
        aRequest.QueueUnBindExchange = aExchange;
    });
    WriteMethod<TkezAMQPFramePayload_Method_QueueUnBind>(entry->Number(), [&](auto& a) {
        a.SetQueue(aQueue);
        a.SetExchange(aExchange);
        a.SetRoutingKey(aRoutingKey);
        a.SetArguments(aArguments);
    });
}

bool TkezAMQP_Client::UnBindQueueEx(const std::string& aChannel, const std::string& aQueue,
                                    const std::string& aExchange, const std::string& aRoutingKey,
                                    int32_t aTimeout, const std::string& aArguments) {
    return Synchronous(aChannel, {amqpQueueUnBindOk}, {}, aTimeout,
                       [&] { UnBindQueue(aChannel, aQueue, aExchange, aRoutingKey, aArguments); });
}

void TkezAMQP_Client::PurgeQueue(const std::string& aChannel, const std::string& aQueue, bool aNoWait) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    if (!aNoWait) entry->EditRequest([&](auto& aRequest) { aRequest.QueuePurge = aQueue; });
    WriteMethod<TkezAMQPFramePayload_Method_QueuePurge>(entry->Number(), [&](auto& a) {
        a.SetQueue(aQueue);
        a.SetNoWait(aNoWait);
    });
}

bool TkezAMQP_Client::PurgeQueueEx(const std::string& aChannel, const std::string& aQueue, bool aNoWait,
                                   int32_t aTimeout) {
    return Synchronous(aChannel, {amqpQueuePurgeOk}, {}, aTimeout,
                       [&] { PurgeQueue(aChannel, aQueue, aNoWait); });
}

void TkezAMQP_Client::DeleteQueue(const std::string& aChannel, const std::string& aQueue, bool aIfUnused,
                                  bool aIfEmpty, bool aNoWait) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    if (!aNoWait) entry->EditRequest([&](auto& aRequest) { aRequest.QueueDelete = aQueue; });
    WriteMethod<TkezAMQPFramePayload_Method_QueueDelete>(entry->Number(), [&](auto& a) {
        a.SetQueue(aQueue);
        a.SetIfUnused(aIfUnused);
        a.SetIfEmpty(aIfEmpty);
        a.SetNoWait(aNoWait);
    });
}

bool TkezAMQP_Client::DeleteQueueEx(const std::string& aChannel, const std::string& aQueue, bool aIfUnused,
                                    bool aIfEmpty, bool aNoWait, int32_t aTimeout) {
    return Synchronous(aChannel, {amqpQueueDeleteOk}, {}, aTimeout,
                       [&] { DeleteQueue(aChannel, aQueue, aIfUnused, aIfEmpty, aNoWait); });
}

void TkezAMQP_Client::DoQueueDeclareOk(TkezAMQPFrame& aFrame,
                                       TkezAMQPFramePayload_Method_QueueDeclareOk& aPayload) {
    if (const TEntryPtr entry = ReplyEntry(aFrame))
        OnAMQPQueueDeclare.Fire(this, entry->Channel(), aPayload.Queue(), aPayload.MessageCount(),
                                aPayload.ConsumerCount());
}

void TkezAMQP_Client::DoQueueBindOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_QueueBindOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame); entry && OnAMQPQueueBind) {
        const TkezAMQPChannelThreadRequest request = entry->Request();
        OnAMQPQueueBind(this, entry->Channel(), request.QueueBindQueue, request.QueueBindExchange);
    }
}

void TkezAMQP_Client::DoQueueUnBindOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_QueueUnBindOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame); entry && OnAMQPQueueUnBind) {
        const TkezAMQPChannelThreadRequest request = entry->Request();
        OnAMQPQueueUnBind(this, entry->Channel(), request.QueueUnBindQueue, request.QueueUnBindExchange);
    }
}

void TkezAMQP_Client::DoQueuePurgeOk(TkezAMQPFrame& aFrame,
                                     TkezAMQPFramePayload_Method_QueuePurgeOk& aPayload) {
    if (const TEntryPtr entry = ReplyEntry(aFrame); entry && OnAMQPQueuePurge)
        OnAMQPQueuePurge(this, entry->Channel(), entry->Request().QueuePurge, aPayload.MessageCount());
}

void TkezAMQP_Client::DoQueueDeleteOk(TkezAMQPFrame& aFrame,
                                      TkezAMQPFramePayload_Method_QueueDeleteOk& aPayload) {
    if (const TEntryPtr entry = ReplyEntry(aFrame); entry && OnAMQPQueueDelete)
        OnAMQPQueueDelete(this, entry->Channel(), entry->Request().QueueDelete, aPayload.MessageCount());
}

// --- QoS and consumers ---

void TkezAMQP_Client::SetQoS(const std::string& aChannel, uint32_t aPrefetchSize, uint16_t aPrefetchCount,
                             bool aGlobal) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    auto qos = std::make_unique<TkezAMQPFramePayload_Method_BasicQoS>();
    qos->SetPrefetchSize(aPrefetchSize);
    qos->SetPrefetchCount(aPrefetchCount);
    qos->SetGlobal(aGlobal);
    entry->SetQoS(*qos);
    WriteMethod(entry->Number(), std::move(qos));
}

bool TkezAMQP_Client::SetQoSEx(const std::string& aChannel, uint32_t aPrefetchSize, uint16_t aPrefetchCount,
                               bool aGlobal, int32_t aTimeout) {
    return Synchronous(aChannel, {amqpBasicQosOk}, {}, aTimeout,
                       [&] { SetQoS(aChannel, aPrefetchSize, aPrefetchCount, aGlobal); });
}

void TkezAMQP_Client::DoBasicQoSOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicQoSOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame); entry && OnAMQPBasicQoS)
        OnAMQPBasicQoS(this, entry->Channel(), entry->QoS());
}

void TkezAMQP_Client::Consume(const std::string& aChannel, const std::string& aQueue,
                              const std::string& aConsumerTag, bool aNoLocal, bool aNoAck, bool aExclusive,
                              bool aNoWait, const std::string& aArguments) {
    WriteMethod<TkezAMQPFramePayload_Method_BasicConsume>(DoGetChannel(aChannel)->Number(), [&](auto& a) {
        a.SetQueue(aQueue);
        a.SetConsumerTag(aConsumerTag);
        a.SetNoLocal(aNoLocal);
        a.SetNoAck(aNoAck);
        a.SetExclusive(aExclusive);
        a.SetNoWait(aNoWait);
        a.SetArguments(aArguments);
    });
}

bool TkezAMQP_Client::ConsumeEx(const std::string& aChannel, const std::string& aQueue,
                                const std::string& aConsumerTag, bool aNoLocal, bool aNoAck, bool aExclusive,
                                int32_t aTimeout, const std::string& aArguments) {
    return Synchronous(aChannel, {amqpBasicConsumeOk}, {}, aTimeout, [&] {
        Consume(aChannel, aQueue, aConsumerTag, aNoLocal, aNoAck, aExclusive, false, aArguments);
    });
}

void TkezAMQP_Client::CancelConsume(const std::string& aChannel, const std::string& aConsumerTag,
                                    bool aNoWait) {
    WriteMethod<TkezAMQPFramePayload_Method_BasicCancel>(DoGetChannel(aChannel)->Number(), [&](auto& a) {
        a.SetConsumerTag(aConsumerTag);
        a.SetNoWait(aNoWait);
    });
}

bool TkezAMQP_Client::CancelConsumeEx(const std::string& aChannel, const std::string& aConsumerTag,
                                      int32_t aTimeout) {
    return Synchronous(aChannel, {amqpBasicCancelOk}, {}, aTimeout,
                       [&] { CancelConsume(aChannel, aConsumerTag, false); });
}

void TkezAMQP_Client::DoBasicConsumeOk(TkezAMQPFrame& aFrame,
                                       TkezAMQPFramePayload_Method_BasicConsumeOk& aPayload) {
    if (const TEntryPtr entry = ReplyEntry(aFrame))
        OnAMQPBasicConsume.Fire(this, entry->Channel(), aPayload.ConsumerTag());
}

void TkezAMQP_Client::DoBasicCancelOk(TkezAMQPFrame& aFrame,
                                      TkezAMQPFramePayload_Method_BasicCancelOk& aPayload) {
    if (const TEntryPtr entry = ReplyEntry(aFrame))
        OnAMQPBasicCancelConsume.Fire(this, entry->Channel(), aPayload.ConsumerTag());
}

// --- fetching, acknowledging, recovering ---

void TkezAMQP_Client::GetMessage(const std::string& aChannel, const std::string& aQueue, bool aNoAck) {
    WriteMethod<TkezAMQPFramePayload_Method_BasicGet>(DoGetChannel(aChannel)->Number(), [&](auto& a) {
        a.SetQueue(aQueue);
        a.SetNoAck(aNoAck);
    });
}

bool TkezAMQP_Client::GetMessageEx(const std::string& aChannel, const std::string& aQueue, int32_t aTimeout) {
    return Synchronous(aChannel, {amqpBasicGetOk, amqpBasicGetEmpty}, {amqpBasicGetEmpty}, aTimeout,
                       [&] { GetMessage(aChannel, aQueue, false); });
}

void TkezAMQP_Client::AckMessage(const std::string& aChannel, uint64_t aDeliveryTag, bool aMultiple) {
    WriteMethod<TkezAMQPFramePayload_Method_BasicAck>(DoGetChannel(aChannel)->Number(), [&](auto& a) {
        a.SetDeliveryTag(aDeliveryTag);
        a.SetMultiple(aMultiple);
    });
}

void TkezAMQP_Client::RejectMessage(const std::string& aChannel, uint64_t aDeliveryTag, bool aRequeue) {
    WriteMethod<TkezAMQPFramePayload_Method_BasicReject>(DoGetChannel(aChannel)->Number(), [&](auto& a) {
        a.SetDeliveryTag(aDeliveryTag);
        a.SetRequeue(aRequeue);
    });
}

void TkezAMQP_Client::Recover(const std::string& aChannel, bool aRequeue) {
    WriteMethod<TkezAMQPFramePayload_Method_BasicRecover>(DoGetChannel(aChannel)->Number(),
                                                          [&](auto& a) { a.SetRequeue(aRequeue); });
}

bool TkezAMQP_Client::RecoverEx(const std::string& aChannel, bool aRequeue, int32_t aTimeout) {
    return Synchronous(aChannel, {amqpBasicRecoverOk}, {}, aTimeout, [&] { Recover(aChannel, aRequeue); });
}

void TkezAMQP_Client::RecoverAsync(const std::string& aChannel, bool aRequeue) {
    WriteMethod<TkezAMQPFramePayload_Method_BasicRecoverAsync>(DoGetChannel(aChannel)->Number(),
                                                               [&](auto& a) { a.SetRequeue(aRequeue); });
}

void TkezAMQP_Client::DoBasicGetEmpty(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicGetEmpty&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame)) OnAMQPBasicGetEmpty.Fire(this, entry->Channel());
}

void TkezAMQP_Client::DoBasicRecoverOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicRecoverOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame)) OnAMQPBasicRecoverOk.Fire(this, entry->Channel());
}

// --- transactions ---

void TkezAMQP_Client::SelectTransaction(const std::string& aChannel) {
    WriteMethod<TkezAMQPFramePayload_Method_TxSelect>(DoGetChannel(aChannel)->Number(), [](auto&) {});
}

bool TkezAMQP_Client::SelectTransactionEx(const std::string& aChannel, int32_t aTimeout) {
    return Synchronous(aChannel, {amqpTxSelectOk}, {}, aTimeout, [&] { SelectTransaction(aChannel); });
}

void TkezAMQP_Client::CommitTransaction(const std::string& aChannel) {
    WriteMethod<TkezAMQPFramePayload_Method_TxCommit>(DoGetChannel(aChannel)->Number(), [](auto&) {});
}

bool TkezAMQP_Client::CommitTransactionEx(const std::string& aChannel, int32_t aTimeout) {
    return Synchronous(aChannel, {amqpTxCommitOk}, {}, aTimeout, [&] { CommitTransaction(aChannel); });
}

void TkezAMQP_Client::RollbackTransaction(const std::string& aChannel) {
    WriteMethod<TkezAMQPFramePayload_Method_TxRollback>(DoGetChannel(aChannel)->Number(), [](auto&) {});
}

bool TkezAMQP_Client::RollbackTransactionEx(const std::string& aChannel, int32_t aTimeout) {
    return Synchronous(aChannel, {amqpTxRollbackOk}, {}, aTimeout, [&] { RollbackTransaction(aChannel); });
}

void TkezAMQP_Client::DoTxSelectOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_TxSelectOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame))
        OnAMQPTransactionOk.Fire(this, entry->Channel(), amqpTransactionSelect);
}

void TkezAMQP_Client::DoTxCommitOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_TxCommitOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame))
        OnAMQPTransactionOk.Fire(this, entry->Channel(), amqpTransactionCommit);
}

void TkezAMQP_Client::DoTxRollbackOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_TxRollbackOk&) {
    if (const TEntryPtr entry = ReplyEntry(aFrame))
        OnAMQPTransactionOk.Fire(this, entry->Channel(), amqpTransactionRollback);
}

} // namespace kez
