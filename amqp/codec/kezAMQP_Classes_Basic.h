// Arguments of the Basic (60) and Tx (90) methods.
#pragma once

#include "kezAMQP_Classes_Arguments.h"

namespace kez {

class TkezAMQPFramePayload_Method_BasicQoS : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicQoS() { FMethod = amqpBasicQos; }
    KEZ_PROPERTY(uint32_t, PrefetchSize)
    KEZ_PROPERTY(uint16_t, PrefetchCount)
    KEZ_PROPERTY(bool, Global)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_BasicQoSOk : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicQoSOk() { FMethod = amqpBasicQosOk; }
};

class TkezAMQPFramePayload_Method_BasicConsume : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicConsume() { FMethod = amqpBasicConsume; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Queue)
    KEZ_PROPERTY(std::string, ConsumerTag)
    KEZ_PROPERTY(bool, NoLocal)
    KEZ_PROPERTY(bool, NoAck)
    KEZ_PROPERTY(bool, Exclusive)
    KEZ_PROPERTY(bool, NoWait)
    KEZ_PROPERTY(std::string, Arguments)
protected:
    void DoWrite(TBytes& aOut) override;
};

// Basic.ConsumeOk and Basic.CancelOk carry the consumer tag.
template <TkezAMQPMethod Method>
class TkezAMQPConsumerTagArguments : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPConsumerTagArguments() { FMethod = Method; }
    KEZ_PROPERTY(std::string, ConsumerTag)
protected:
    void DoRead(TBytesView aBytes) override {
        TkezAMQPFramePayload_Method_Basic::DoRead(aBytes);
        FConsumerTag = ReadShortString(aBytes, FOffset);
    }
};

class TkezAMQPFramePayload_Method_BasicConsumeOk : public TkezAMQPConsumerTagArguments<amqpBasicConsumeOk> {};

class TkezAMQPFramePayload_Method_BasicCancel : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicCancel() { FMethod = amqpBasicCancel; }
    KEZ_PROPERTY(std::string, ConsumerTag)
    KEZ_PROPERTY(bool, NoWait)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_BasicCancelOk : public TkezAMQPConsumerTagArguments<amqpBasicCancelOk> {};

class TkezAMQPFramePayload_Method_BasicPublish : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicPublish() { FMethod = amqpBasicPublish; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Exchange)
    KEZ_PROPERTY(std::string, RoutingKey)
    KEZ_PROPERTY(bool, Mandatory)
    KEZ_PROPERTY(bool, Immediate)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_BasicReturn : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicReturn() { FMethod = amqpBasicReturn; }
    KEZ_PROPERTY(uint16_t, ReplyCode)
    KEZ_PROPERTY(std::string, ReplyText)
    KEZ_PROPERTY(std::string, Exchange)
    KEZ_PROPERTY(std::string, RoutingKey)
protected:
    void DoRead(TBytesView aBytes) override;
};

class TkezAMQPFramePayload_Method_BasicDeliver : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicDeliver() { FMethod = amqpBasicDeliver; }
    KEZ_PROPERTY(std::string, ConsumerTag)
    KEZ_PROPERTY(uint64_t, DeliveryTag)
    KEZ_PROPERTY(bool, Redelivered)
    KEZ_PROPERTY(std::string, Exchange)
    KEZ_PROPERTY(std::string, RoutingKey)
protected:
    void DoRead(TBytesView aBytes) override;
};

class TkezAMQPFramePayload_Method_BasicGet : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicGet() { FMethod = amqpBasicGet; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Queue)
    KEZ_PROPERTY(bool, NoAck)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_BasicGetOk : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicGetOk() { FMethod = amqpBasicGetOk; }
    KEZ_PROPERTY(uint64_t, DeliveryTag)
    KEZ_PROPERTY(bool, Redelivered)
    KEZ_PROPERTY(std::string, Exchange)
    KEZ_PROPERTY(std::string, RoutingKey)
    KEZ_PROPERTY(int32_t, MessageCount)
protected:
    void DoRead(TBytesView aBytes) override;
};

class TkezAMQPFramePayload_Method_BasicGetEmpty : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicGetEmpty() { FMethod = amqpBasicGetEmpty; }
    // The wire carries a reserved short string that is read and not kept; this stays 0.
    KEZ_PROPERTY(uint16_t, Reserved1)
protected:
    void DoRead(TBytesView aBytes) override;
};

class TkezAMQPFramePayload_Method_BasicAck : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicAck() { FMethod = amqpBasicAck; }
    KEZ_PROPERTY(uint64_t, DeliveryTag)
    KEZ_PROPERTY(bool, Multiple)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_BasicReject : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicReject() { FMethod = amqpBasicReject; }
    KEZ_PROPERTY(uint64_t, DeliveryTag)
    KEZ_PROPERTY(bool, Requeue)
protected:
    void DoWrite(TBytes& aOut) override;
};

// Basic.RecoverAsync and Basic.Recover.
template <TkezAMQPMethod Method>
class TkezAMQPRecoverArguments : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPRecoverArguments() { FMethod = Method; }
    KEZ_PROPERTY(bool, Requeue)
protected:
    void DoWrite(TBytes& aOut) override { WriteBooleanOctet(FRequeue, aOut); }
};

class TkezAMQPFramePayload_Method_BasicRecoverAsync : public TkezAMQPRecoverArguments<amqpBasicRecoverAsync> {
};
class TkezAMQPFramePayload_Method_BasicRecover : public TkezAMQPRecoverArguments<amqpBasicRecover> {};

class TkezAMQPFramePayload_Method_BasicRecoverOk : public TkezAMQPFramePayload_Method_Basic {
public:
    TkezAMQPFramePayload_Method_BasicRecoverOk() { FMethod = amqpBasicRecoverOk; }
};

// The Tx methods carry no arguments.
template <TkezAMQPMethod Method>
class TkezAMQPTxArguments : public TkezAMQPFramePayload_Method_Tx {
public:
    TkezAMQPTxArguments() { FMethod = Method; }
};

class TkezAMQPFramePayload_Method_TxSelect : public TkezAMQPTxArguments<amqpTxSelect> {};
class TkezAMQPFramePayload_Method_TxSelectOk : public TkezAMQPTxArguments<amqpTxSelectOk> {};
class TkezAMQPFramePayload_Method_TxCommit : public TkezAMQPTxArguments<amqpTxCommit> {};
class TkezAMQPFramePayload_Method_TxCommitOk : public TkezAMQPTxArguments<amqpTxCommitOk> {};
class TkezAMQPFramePayload_Method_TxRollback : public TkezAMQPTxArguments<amqpTxRollback> {};
class TkezAMQPFramePayload_Method_TxRollbackOk : public TkezAMQPTxArguments<amqpTxRollbackOk> {};

} // namespace kez
