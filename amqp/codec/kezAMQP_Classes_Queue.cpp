#include "kezAMQP_Classes_Queue.h"

namespace kez {

void TkezAMQPFramePayload_Method_ExchangeDeclare::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FExchange, aOut);
    WriteShortString(FExchangeType, aOut);
    WriteFlags(aOut, {FPassive, FDurable, FAutoDelete, FInternal, FNoWait});
    WriteFieldTableJSON(FArguments, aOut);
}

void TkezAMQPFramePayload_Method_ExchangeDelete::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FExchange, aOut);
    WriteFlags(aOut, {FIfUnused, FNoWait});
}

void TkezAMQPFramePayload_Method_QueueDeclare::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FQueue, aOut);
    WriteFlags(aOut, {FPassive, FDurable, FExclusive, FAutoDelete, FNoWait});
    WriteFieldTableJSON(FArguments, aOut);
}

void TkezAMQPFramePayload_Method_QueueDeclareOk::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Queue::DoRead(aBytes);
    FQueue = ReadShortString(aBytes, FOffset);
    FMessageCount = static_cast<int32_t>(ReadLong(aBytes, FOffset));
    FConsumerCount = static_cast<int32_t>(ReadLong(aBytes, FOffset));
}

void TkezAMQPFramePayload_Method_QueueBind::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FQueue, aOut);
    WriteShortString(FExchange, aOut);
    WriteShortString(FRoutingKey, aOut);
    WriteFlags(aOut, {FNoWait});
    WriteFieldTableJSON(FArguments, aOut);
}

void TkezAMQPFramePayload_Method_QueueUnBind::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FQueue, aOut);
    WriteShortString(FExchange, aOut);
    WriteShortString(FRoutingKey, aOut);
    WriteFieldTableJSON(FArguments, aOut);
}

void TkezAMQPFramePayload_Method_QueuePurge::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FQueue, aOut);
    WriteFlags(aOut, {FNoWait});
}

void TkezAMQPFramePayload_Method_QueueDelete::DoWrite(TBytes& aOut) {
    WriteShort(FReserved1, aOut);
    WriteShortString(FQueue, aOut);
    WriteFlags(aOut, {FIfUnused, FIfEmpty, FNoWait});
}

} // namespace kez
