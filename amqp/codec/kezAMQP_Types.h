// The enumerations of the AMQP 0-9-1 wire format as this client names them. Wire values are mapped by the
// conversion routines of kezAMQP_Helpers.h, never by the ordinals below.
#pragma once

#include "kezBase_Classes.h"

#include <cstdint>

namespace kez {

enum TkezAMQPFrameType : uint8_t {
    amqpFrameNone,
    amqpFrameMethod,
    amqpFrameHeader,
    amqpFrameBody,
    amqpFrameHeartBeat,
};

enum TkezAMQPClass : uint8_t {
    amqpClassNone,
    amqpClassConnection,
    amqpClassChannel,
    amqpClassExchange,
    amqpClassQueue,
    amqpClassBasic,
    amqpClassTx,
};

// Each class has a "none" value followed by its methods. The queue class is declared in the order below,
// which is not its wire order (UnBind has wire id 50).
enum TkezAMQPMethod : uint8_t {
    amqpMethodNone,
    amqpConnNone,
    amqpConnStart,
    amqpConnStartOk,
    amqpConnSecure,
    amqpConnSecureOk,
    amqpConnTune,
    amqpConnTuneOk,
    amqpConnOpen,
    amqpConnOpenOk,
    amqpConnClose,
    amqpConnCloseOk,
    amqpChannNone,
    amqpChannOpen,
    amqpChannOpenOk,
    amqpChannFlow,
    amqpChannFlowOk,
    amqpChannClose,
    amqpChannCloseOk,
    amqpExchNone,
    amqpExchDeclare,
    amqpExchDeclareOk,
    amqpExchDelete,
    amqpExchDeleteOk,
    amqpQueueNone,
    amqpQueueDeclare,
    amqpQueueDeclareOk,
    amqpQueueBind,
    amqpQueueBindOk,
    amqpQueueUnBind,
    amqpQueueUnBindOk,
    amqpQueuePurge,
    amqpQueuePurgeOk,
    amqpQueueDelete,
    amqpQueueDeleteOk,
    amqpBasicNone,
    amqpBasicQos,
    amqpBasicQosOk,
    amqpBasicConsume,
    amqpBasicConsumeOk,
    amqpBasicCancel,
    amqpBasicCancelOk,
    amqpBasicPublish,
    amqpBasicReturn,
    amqpBasicDeliver,
    amqpBasicGet,
    amqpBasicGetOk,
    amqpBasicGetEmpty,
    amqpBasicAck,
    amqpBasicReject,
    amqpBasicRecoverAsync,
    amqpBasicRecover,
    amqpBasicRecoverOk,
    amqpTxNone,
    amqpTxSelect,
    amqpTxSelectOk,
    amqpTxCommit,
    amqpTxCommitOk,
    amqpTxRollback,
    amqpTxRollbackOk,
};
inline constexpr int AMQPMethodCount = amqpTxRollbackOk + 1;

enum TkezAMQPAuthentication : uint8_t {
    amqpAuthNone,
    amqpAuthAnnonymous,
    amqpAuthPlain,
    amqpAuthAMQPlain,
    amqpAuthExternal,
};
using TkezAMQPAuthentications = TkezSet<TkezAMQPAuthentication>;

// The ordinal is the octet of the delivery-mode property. A received octet above 2 is kept as it came (the
// underlying type holds every octet) so that it is written back unchanged.
enum TkezAMQPMessageDeliveryMode : uint8_t {
    amqpMDMNone,
    amqpMDMNonPersistent,
    amqpMDMPersistent,
};

enum TkezAMQPTransaction : uint8_t {
    amqpTransactionSelect,
    amqpTransactionCommit,
    amqpTransactionRollback,
};

} // namespace kez
