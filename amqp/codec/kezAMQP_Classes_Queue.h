// Arguments of the Exchange (40) and Queue (50) methods. Arguments tables are JSON object text (see
// WriteFieldTableJSON); an empty text writes the empty table.
#pragma once

#include "kezAMQP_Classes_Arguments.h"

namespace kez {

class TkezAMQPFramePayload_Method_ExchangeDeclare : public TkezAMQPFramePayload_Method_Exchange {
public:
    TkezAMQPFramePayload_Method_ExchangeDeclare() { FMethod = amqpExchDeclare; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Exchange)
    KEZ_PROPERTY(std::string, ExchangeType)
    KEZ_PROPERTY(bool, Passive)
    KEZ_PROPERTY(bool, Durable)
    KEZ_PROPERTY(bool, AutoDelete)
    KEZ_PROPERTY(bool, Internal)
    KEZ_PROPERTY(bool, NoWait)
    KEZ_PROPERTY(std::string, Arguments)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_ExchangeDeclareOk : public TkezAMQPFramePayload_Method_Exchange {
public:
    TkezAMQPFramePayload_Method_ExchangeDeclareOk() { FMethod = amqpExchDeclareOk; }
};

class TkezAMQPFramePayload_Method_ExchangeDelete : public TkezAMQPFramePayload_Method_Exchange {
public:
    TkezAMQPFramePayload_Method_ExchangeDelete() { FMethod = amqpExchDelete; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Exchange)
    KEZ_PROPERTY(bool, IfUnused)
    KEZ_PROPERTY(bool, NoWait)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_ExchangeDeleteOk : public TkezAMQPFramePayload_Method_Exchange {
public:
    TkezAMQPFramePayload_Method_ExchangeDeleteOk() { FMethod = amqpExchDeleteOk; }
};

class TkezAMQPFramePayload_Method_QueueDeclare : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPFramePayload_Method_QueueDeclare() { FMethod = amqpQueueDeclare; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Queue)
    KEZ_PROPERTY(bool, Passive)
    KEZ_PROPERTY(bool, Durable)
    KEZ_PROPERTY(bool, Exclusive)
    KEZ_PROPERTY(bool, AutoDelete)
    KEZ_PROPERTY(bool, NoWait)
    KEZ_PROPERTY(std::string, Arguments)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_QueueDeclareOk : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPFramePayload_Method_QueueDeclareOk() { FMethod = amqpQueueDeclareOk; }
    KEZ_PROPERTY(std::string, Queue)
    KEZ_PROPERTY(int32_t, MessageCount)
    KEZ_PROPERTY(int32_t, ConsumerCount)
protected:
    void DoRead(TBytesView aBytes) override;
};

class TkezAMQPFramePayload_Method_QueueBind : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPFramePayload_Method_QueueBind() { FMethod = amqpQueueBind; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Queue)
    KEZ_PROPERTY(std::string, Exchange)
    KEZ_PROPERTY(std::string, RoutingKey)
    KEZ_PROPERTY(bool, NoWait)
    KEZ_PROPERTY(std::string, Arguments)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_QueueBindOk : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPFramePayload_Method_QueueBindOk() { FMethod = amqpQueueBindOk; }
};

// Queue.UnBind has no no-wait flag, so its arguments end with the routing key and the table.
class TkezAMQPFramePayload_Method_QueueUnBind : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPFramePayload_Method_QueueUnBind() { FMethod = amqpQueueUnBind; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Queue)
    KEZ_PROPERTY(std::string, Exchange)
    KEZ_PROPERTY(std::string, RoutingKey)
    KEZ_PROPERTY(std::string, Arguments)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_QueueUnBindOk : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPFramePayload_Method_QueueUnBindOk() { FMethod = amqpQueueUnBindOk; }
};

class TkezAMQPFramePayload_Method_QueuePurge : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPFramePayload_Method_QueuePurge() { FMethod = amqpQueuePurge; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Queue)
    KEZ_PROPERTY(bool, NoWait)
protected:
    void DoWrite(TBytes& aOut) override;
};

// Queue.PurgeOk and Queue.DeleteOk carry the number of messages removed.
template <TkezAMQPMethod Method>
class TkezAMQPMessageCountArguments : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPMessageCountArguments() { FMethod = Method; }
    KEZ_PROPERTY(int32_t, MessageCount)
protected:
    void DoRead(TBytesView aBytes) override {
        TkezAMQPFramePayload_Method_Queue::DoRead(aBytes);
        FMessageCount = static_cast<int32_t>(ReadLong(aBytes, FOffset));
    }
};

class TkezAMQPFramePayload_Method_QueuePurgeOk : public TkezAMQPMessageCountArguments<amqpQueuePurgeOk> {};

class TkezAMQPFramePayload_Method_QueueDelete : public TkezAMQPFramePayload_Method_Queue {
public:
    TkezAMQPFramePayload_Method_QueueDelete() { FMethod = amqpQueueDelete; }
    KEZ_PROPERTY(uint16_t, Reserved1)
    KEZ_PROPERTY(std::string, Queue)
    KEZ_PROPERTY(bool, IfUnused)
    KEZ_PROPERTY(bool, IfEmpty)
    KEZ_PROPERTY(bool, NoWait)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_QueueDeleteOk : public TkezAMQPMessageCountArguments<amqpQueueDeleteOk> {};

} // namespace kez
