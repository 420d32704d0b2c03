// Every event signature of the AMQP engine, in one place. Sender is always the engine (or, inside the channel
// table, the object that raises). Objects passed by reference belong to the raiser and live only during the
// call; a handler copies what it keeps.
#pragma once

#include "kezAMQP_Classes.h"
#include "kezBase_Classes.h"

#include <exception>
#include <string>

namespace kez {

using TkezAMQPMethods = TkezSet<TkezAMQPMethod>;

using TkezAMQPThreadExceptionEvent = TkezEvent<void(TObject* Sender, const std::exception& E)>;
using TkezAMQPExceptionEvent = TkezEvent<void(TObject* Sender, const std::exception& E)>;
using TkezAMQPBeforeReadFrameEvent =
    TkezEvent<void(TObject* Sender, const TkezAMQPFrame& aFrame, bool& Handled)>;
using TkezAMQPWriteBytesEvent = TkezEvent<void(TObject* Sender, const TBytes& aBytes)>;
using TkezAMQPWritePiecesEvent = TkezEvent<void(TObject* Sender, TBytesPieces aPieces)>;
using TkezAMQPHeartBeatEvent = TkezEvent<void(TObject* Sender)>;
using TkezAMQPDisconnectEvent =
    TkezEvent<void(TObject* Sender, const TkezAMQPFramePayload_Method_ConnectionClose& aClose, bool aAck)>;
using TkezAMQPConnectEvent = TkezEvent<void(TObject* Sender)>;
using TkezAMQPAuthenticationEvent =
    TkezEvent<void(TObject* Sender, TkezAMQPAuthentications aMechanisms, TkezAMQPAuthentication& Mechanism,
                   std::string& User, std::string& Password)>;
using TkezAMQPChallengeEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChallenge, std::string& Challenge)>;

// Channel.OpenOk, Basic.GetEmpty and Basic.RecoverOk: the channel's name alone.
using TkezAMQPChannelEvent = TkezEvent<void(TObject* Sender, const std::string& aChannel)>;
using TkezAMQPChannelCloseEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChannel,
                   const TkezAMQPFramePayload_Method_ChannelClose& aChannelClose, bool aAck)>;
using TkezAMQPChannelFlowEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChannel, bool aFlow, bool aAck)>;

using TkezAMQPExchangeEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChannel, const std::string& aExchange)>;
using TkezAMQPQueueDeclareEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChannel, const std::string& aQueue,
                   int32_t aMessageCount, int32_t aConsumerCount)>;
// Queue.BindOk and Queue.UnBindOk.
using TkezAMQPQueueBindEvent = TkezEvent<void(TObject* Sender, const std::string& aChannel,
                                              const std::string& aQueue, const std::string& aExchange)>;
// Queue.PurgeOk and Queue.DeleteOk.
using TkezAMQPQueueCountEvent = TkezEvent<void(TObject* Sender, const std::string& aChannel,
                                               const std::string& aQueue, int32_t aMessageCount)>;
using TkezAMQPBasicQoSEvent = TkezEvent<void(TObject* Sender, const std::string& aChannel,
                                             const TkezAMQPFramePayload_Method_BasicQoS& aQoS)>;
// Basic.ConsumeOk and Basic.CancelOk.
using TkezAMQPConsumerTagEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChannel, const std::string& aConsumerTag)>;
// A complete message. The content is the channel's own: its body may be read (which moves its stream), and it
// stays valid only during the call.
using TkezAMQPBasicDeliverEvent = TkezEvent<void(TObject* Sender, const std::string& aChannel,
                                                 const TkezAMQPFramePayload_Method_BasicDeliver& aDeliver,
                                                 TkezAMQPMessageContent& aContent)>;
using TkezAMQPBasicGetOkEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChannel,
                   const TkezAMQPFramePayload_Method_BasicGetOk& aGetOk, TkezAMQPMessageContent& aContent)>;
using TkezAMQPBasicReturnEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChannel,
                   const TkezAMQPFramePayload_Method_BasicReturn& aReturn, TkezAMQPMessageContent& aContent)>;
using TkezAMQPTransactionEvent =
    TkezEvent<void(TObject* Sender, const std::string& aChannel, TkezAMQPTransaction aTransaction)>;

} // namespace kez
