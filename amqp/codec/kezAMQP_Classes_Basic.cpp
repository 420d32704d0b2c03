#include "kezAMQP_Classes_Basic.h"

namespace kez {

void TkezAMQPFramePayload_Method_BasicQoS::DoWrite(TBytes& aOut) {
    WriteLong(FPrefetchSize, aOut);
    WriteShort(FPrefetchCount, aOut);
    WriteFlags(aOut, {FGlobal});
}

void TkezAMQPFramePayload_Method_BasicConsume::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FQueue, aOut);
    WriteShortString(FConsumerTag, aOut);
    WriteFlags(aOut, {FNoLocal, FNoAck, FExclusive, FNoWait});
    WriteFieldTableJSON(FArguments, aOut);
}

void TkezAMQPFramePayload_Method_BasicCancel::DoWrite(TBytes& aOut) {
    WriteShortString(FConsumerTag, aOut);
    WriteFlags(aOut, {FNoWait});
}

void TkezAMQPFramePayload_Method_BasicPublish::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FExchange, aOut);
    WriteShortString(FRoutingKey, aOut);
    WriteFlags(aOut, {FMandatory, FImmediate});
}

void TkezAMQPFramePayload_Method_BasicReturn::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Basic::DoRead(aBytes);
    FReplyCode = ReadShort(aBytes, FOffset);
    FReplyText = ReadShortString(aBytes, FOffset);
    FExchange = ReadShortString(aBytes, FOffset);
    FRoutingKey = ReadShortString(aBytes, FOffset);
}

void TkezAMQPFramePayload_Method_BasicDeliver::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Basic::DoRead(aBytes);
    FConsumerTag = ReadShortString(aBytes, FOffset);
    FDeliveryTag = ReadLongLong(aBytes, FOffset);
    FRedelivered = ReadBooleanOctet(aBytes, FOffset);
    FExchange = ReadShortString(aBytes, FOffset);
    FRoutingKey = ReadShortString(aBytes, FOffset);
}

void TkezAMQPFramePayload_Method_BasicGet::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FQueue, aOut);
    WriteFlags(aOut, {FNoAck});
}

void TkezAMQPFramePayload_Method_BasicGetOk::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Basic::DoRead(aBytes);
    FDeliveryTag = ReadLongLong(aBytes, FOffset);
    FRedelivered = ReadBooleanOctet(aBytes, FOffset);
    FExchange = ReadShortString(aBytes, FOffset);
    FRoutingKey = ReadShortString(aBytes, FOffset);
    FMessageCount = static_cast<int32_t>(ReadLong(aBytes, FOffset));
}

void TkezAMQPFramePayload_Method_BasicGetEmpty::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Basic::DoRead(aBytes);
    ReadShortString(aBytes, FOffset);
}

void TkezAMQPFramePayload_Method_BasicAck::DoWrite(TBytes& aOut) {
    WriteLongLong(FDeliveryTag, aOut);
    WriteBooleanOctet(FMultiple, aOut);
}

void TkezAMQPFramePayload_Method_BasicReject::DoWrite(TBytes& aOut) {
    WriteLongLong(FDeliveryTag, aOut);
    WriteBooleanOctet(FRequeue, aOut);
}

} // namespace kez
