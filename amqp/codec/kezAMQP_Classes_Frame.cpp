#include "kezAMQP_Classes_Frame.h"

#include "kezAMQP_Classes_Connection.h"
#include "kezAMQP_Classes_Queue.h"
#include "kezAMQP_WireBuffer.h"

#include <algorithm>

namespace kez {

// --- the method payload kind and its argument factory ---

std::unique_ptr<TkezAMQPFramePayload_Method> CreateReceivedMethodArguments(TkezAMQPMethod aMethod) {
    switch (aMethod) {
    case amqpConnStart: return std::make_unique<TkezAMQPFramePayload_Method_ConnectionStart>();
    case amqpConnSecure: return std::make_unique<TkezAMQPFramePayload_Method_ConnectionSecure>();
    case amqpConnTune: return std::make_unique<TkezAMQPFramePayload_Method_ConnectionTune>();
    case amqpConnOpenOk: return std::make_unique<TkezAMQPFramePayload_Method_ConnectionOpenOk>();
    case amqpConnClose: return std::make_unique<TkezAMQPFramePayload_Method_ConnectionClose>();
    case amqpConnCloseOk: return std::make_unique<TkezAMQPFramePayload_Method_ConnectionCloseOk>();
    case amqpChannOpenOk: return std::make_unique<TkezAMQPFramePayload_Method_ChannelOpenOk>();
    case amqpChannFlow: return std::make_unique<TkezAMQPFramePayload_Method_ChannelFlow>();
    case amqpChannFlowOk: return std::make_unique<TkezAMQPFramePayload_Method_ChannelFlowOk>();
    case amqpChannClose: return std::make_unique<TkezAMQPFramePayload_Method_ChannelClose>();
    case amqpChannCloseOk: return std::make_unique<TkezAMQPFramePayload_Method_ChannelCloseOk>();
    case amqpExchDeclareOk: return std::make_unique<TkezAMQPFramePayload_Method_ExchangeDeclareOk>();
    case amqpExchDeleteOk: return std::make_unique<TkezAMQPFramePayload_Method_ExchangeDeleteOk>();
    case amqpQueueDeclareOk: return std::make_unique<TkezAMQPFramePayload_Method_QueueDeclareOk>();
    case amqpQueueBindOk: return std::make_unique<TkezAMQPFramePayload_Method_QueueBindOk>();
    case amqpQueueUnBindOk: return std::make_unique<TkezAMQPFramePayload_Method_QueueUnBindOk>();
    case amqpQueuePurgeOk: return std::make_unique<TkezAMQPFramePayload_Method_QueuePurgeOk>();
    case amqpQueueDeleteOk: return std::make_unique<TkezAMQPFramePayload_Method_QueueDeleteOk>();
    case amqpBasicQosOk: return std::make_unique<TkezAMQPFramePayload_Method_BasicQoSOk>();
    case amqpBasicConsumeOk: return std::make_unique<TkezAMQPFramePayload_Method_BasicConsumeOk>();
    case amqpBasicCancelOk: return std::make_unique<TkezAMQPFramePayload_Method_BasicCancelOk>();
    case amqpBasicReturn: return std::make_unique<TkezAMQPFramePayload_Method_BasicReturn>();
    case amqpBasicDeliver: return std::make_unique<TkezAMQPFramePayload_Method_BasicDeliver>();
    case amqpBasicGetOk: return std::make_unique<TkezAMQPFramePayload_Method_BasicGetOk>();
    case amqpBasicGetEmpty: return std::make_unique<TkezAMQPFramePayload_Method_BasicGetEmpty>();
    case amqpBasicRecoverOk: return std::make_unique<TkezAMQPFramePayload_Method_BasicRecoverOk>();
    case amqpTxSelectOk: return std::make_unique<TkezAMQPFramePayload_Method_TxSelectOk>();
    case amqpTxCommitOk: return std::make_unique<TkezAMQPFramePayload_Method_TxCommitOk>();
    case amqpTxRollbackOk: return std::make_unique<TkezAMQPFramePayload_Method_TxRollbackOk>();
    default: return nullptr;
    }
}

void TkezAMQPFramePayloadType_Method::SetPayload(std::unique_ptr<TkezAMQPFramePayload_Method> aPayload) {
    FPayload = std::move(aPayload);
    if (FPayload) {
        FClassId = FPayload->ClassId();
        FMethodId = FPayload->MethodId();
    }
}

void TkezAMQPFramePayloadType_Method::DoRead(TBytesView aBytes) {
    int32_t pos = 0;
    FClassId = GetAMQPClass(ReadShort(aBytes, pos));
    const uint16_t methodId = ReadShort(aBytes, pos);
    if (FClassId != amqpClassNone) FMethodId = GetAMQPMethod(FClassId, methodId);
    // A method this client does not receive (Basic.Ack or Basic.Cancel from the broker, an unknown class)
    // keeps its ids and gets no argument object; the dispatcher ignores it.
    FPayload = CreateReceivedMethodArguments(FClassId == amqpClassNone ? amqpMethodNone : FMethodId);
    if (FPayload) FPayload->Read(aBytes);
}

void TkezAMQPFramePayloadType_Method::DoWrite(TBytes& aOut) {
    WriteShort(GetAMQPClassId(FClassId), aOut);
    if (FClassId != amqpClassNone) WriteShort(GetAMQPMethodId(FMethodId), aOut);
    if (FPayload) FPayload->WriteTo(aOut);
}

// --- header and raw payload ---

void TkezAMQPHeader::Read(TBytesView aBytes, int32_t aOffset) {
    int32_t pos = aOffset;
    FType = GetAMQPFrameType(ReadOctet(aBytes, pos));
    FChannel = ReadShort(aBytes, pos);
    FSize = static_cast<int32_t>(ReadLong(aBytes, pos));
}

void TkezAMQPHeader::Clear() noexcept {
    FType = amqpFrameNone;
    FChannel = 0;
    FSize = 0;
}

void TkezAMQPPayload::Read(TBytesView aBytes, int32_t aSize, int32_t aOffset) {
    if (aSize <= 0) return;
    int32_t pos = aOffset;
    const uint8_t* p = wire::Take(aBytes, pos, static_cast<size_t>(aSize));
    FPayload.assign(p, p + aSize);
}

// --- the frame ---

template <typename T>
T& TkezAMQPFrame::Kind(std::unique_ptr<T>& aKind) {
    if (!aKind) {
        aKind = std::make_unique<T>();
        aKind->OnReadFramePayload = [this](TObject*) { DoReadFrame(); };
    }
    return *aKind;
}

TkezAMQPFramePayloadType_Method& TkezAMQPFrame::Payload_Method() { return Kind(FPayload_Method); }
TkezAMQPFramePayloadType_ContentHeader& TkezAMQPFrame::Payload_ContentHeader() {
    return Kind(FPayload_ContentHeader);
}
TkezAMQPFramePayloadType_ContentBody& TkezAMQPFrame::Payload_ContentBody() {
    return Kind(FPayload_ContentBody);
}
TkezAMQPFramePayloadType_HeartBeat& TkezAMQPFrame::Payload_HeartBeat() { return Kind(FPayload_HeartBeat); }

void TkezAMQPFrame::SetPayload_Method(std::unique_ptr<TkezAMQPFramePayloadType_Method> aValue) noexcept {
    FPayload_Method = std::move(aValue);
}
void TkezAMQPFrame::SetPayload_ContentHeader(
    std::unique_ptr<TkezAMQPFramePayloadType_ContentHeader> aValue) noexcept {
    FPayload_ContentHeader = std::move(aValue);
}
std::unique_ptr<TkezAMQPFramePayloadType_ContentHeader>
TkezAMQPFrame::ReleasePayload_ContentHeader() noexcept {
    if (FPayload_ContentHeader) FPayload_ContentHeader->OnReadFramePayload = nullptr;
    return std::move(FPayload_ContentHeader);
}
void TkezAMQPFrame::SetPayload_ContentBody(
    std::unique_ptr<TkezAMQPFramePayloadType_ContentBody> aValue) noexcept {
    FPayload_ContentBody = std::move(aValue);
}
void TkezAMQPFrame::SetPayload_HeartBeat(
    std::unique_ptr<TkezAMQPFramePayloadType_HeartBeat> aValue) noexcept {
    FPayload_HeartBeat = std::move(aValue);
}

void TkezAMQPFrame::DoCheckFrame(TBytesView aBytes, int32_t aOffset) {
    const TkezAMQPFrameType type = FHeader.Type();
    if (type == amqpFrameNone) RaiseAMQPException(-1);
    if (FHeader.Channel() == 0 && (type == amqpFrameHeader || type == amqpFrameBody)) RaiseAMQPException(504);
    if (FHeader.Channel() != 0 && type == amqpFrameHeartBeat) RaiseAMQPException(501);
    if (FHeader.Size() < 0 || FHeader.Size() > FMaxSize) RaiseAMQPException(501);
    const int64_t endAt = int64_t{aOffset} + AMQPFrameHeaderSize + FHeader.Size();
    if (endAt < static_cast<int64_t>(aBytes.size()) && aBytes[static_cast<size_t>(endAt)] != AMQPFrameEnd)
        RaiseAMQPException(501);
}

int32_t TkezAMQPFrame::Read(TBytesView aBytes, int32_t aOffset) {
    if (aOffset < 0 || static_cast<size_t>(aOffset) > aBytes.size()) RaiseAMQPException(501);
    const size_t available = aBytes.size() - static_cast<size_t>(aOffset);
    if (available < static_cast<size_t>(AMQPFrameHeaderSize)) return 0;
    FHeader.Read(aBytes, aOffset);
    DoCheckFrame(aBytes, aOffset);
    const int32_t size = FHeader.Size();
    if (available < AMQPFrameOverhead || available - AMQPFrameOverhead < static_cast<size_t>(size)) return 0;
    FPayload.Read(aBytes, size, aOffset + AMQPFrameHeaderSize);
    return size + AMQPFrameOverhead;
}

void TkezAMQPFrame::BeginRead(TBytesView aHeader) {
    if (aHeader.size() < static_cast<size_t>(AMQPFrameHeaderSize)) RaiseAMQPException(501);
    aHeader = aHeader.first(AMQPFrameHeaderSize);
    FHeader.Read(aHeader, 0);
    DoCheckFrame(aHeader, 0);
    // Room for the whole payload at once, but not on a header's word alone for a huge one: it grows with
    // the octets that really come.
    constexpr size_t MaxReservedPayload = 1024 * 1024;
    FPayload.Start(std::min(static_cast<size_t>(FHeader.Size()), MaxReservedPayload));
}

bool TkezAMQPFrame::ContinueRead(TBytesView aBytes, size_t& aTaken) {
    const size_t lacking = static_cast<size_t>(FHeader.Size()) - FPayload.Payload().size();
    aTaken = std::min(lacking, aBytes.size());
    FPayload.Append(aBytes.first(aTaken));
    if (aTaken == aBytes.size()) return false;
    if (aBytes[aTaken] != AMQPFrameEnd) RaiseAMQPException(501);
    ++aTaken;
    return true;
}

void TkezAMQPFrame::DoReadPayload() {
    switch (FHeader.Type()) {
    case amqpFrameMethod: Payload_Method().Read(FPayload.Payload()); break;
    case amqpFrameHeader: Payload_ContentHeader().Read(FPayload.Payload()); break;
    // A large body keeps the frame's octets: moving them spares a copy of every large body.
    case amqpFrameBody:
        if (FPayload.Payload().size() <= AMQPFrameKeptPayload)
            Payload_ContentBody().Read(TBytesView(FPayload.Payload()));
        else
            Payload_ContentBody().Read(FPayload.Release());
        break;
    case amqpFrameHeartBeat: Payload_HeartBeat().Read(FPayload.Payload()); break;
    case amqpFrameNone: break;
    }
}

void TkezAMQPFrame::WriteTo(TBytes& aOut) {
    const size_t start = aOut.size();
    aOut.resize(start + AMQPFrameHeaderSize);
    try {
        switch (FHeader.Type()) {
        case amqpFrameMethod: Payload_Method().WriteTo(aOut); break;
        case amqpFrameHeader: Payload_ContentHeader().WriteTo(aOut); break;
        case amqpFrameBody: Payload_ContentBody().WriteTo(aOut); break;
        case amqpFrameHeartBeat:
        case amqpFrameNone: break;
        }
    } catch (...) {
        aOut.resize(start);
        throw;
    }
    uint8_t* header = aOut.data() + start;
    header[0] = GetAMQPFrameTypeId(FHeader.Type());
    wire::StoreBE(header + 1, FHeader.Channel());
    wire::StoreBE(header + 3, static_cast<uint32_t>(aOut.size() - start - AMQPFrameHeaderSize));
    aOut.push_back(AMQPFrameEnd);
}

TBytes TkezAMQPFrame::Write() {
    TBytes out;
    WriteTo(out);
    return out;
}

void TkezAMQPFrame::Clear() noexcept {
    FHeader.Clear();
    FPayload.Clear();
    FPayload_Method.reset();
    FPayload_ContentHeader.reset();
    FPayload_ContentBody.reset();
    FPayload_HeartBeat.reset();
}

} // namespace kez
