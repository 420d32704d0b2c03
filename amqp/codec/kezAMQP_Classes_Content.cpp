#include "kezAMQP_Classes_Content.h"

#include "kezAMQP_WireBuffer.h"

#include <algorithm>

namespace kez {

namespace {
constexpr int64_t CopyBlockSize = 1048576;

enum : uint16_t {
    flagContentType = 0x8000,
    flagContentEncoding = 0x4000,
    flagHeaders = 0x2000,
    flagDeliveryMode = 0x1000,
    flagPriority = 0x0800,
    flagCorrelationId = 0x0400,
    flagReplyTo = 0x0200,
    flagExpiration = 0x0100,
    flagMessageId = 0x0080,
    flagTimeStamp = 0x0040,
    flagType = 0x0020,
    flagUserId = 0x0010,
    flagAppId = 0x0008,
    flagReserved = 0x0004,
    // A further flag word follows.
    flagContinuation = 0x0001,
};
} // namespace

// --- basic properties ---

void TkezAMQPBasicProperties::Read(TBytesView aBytes, int32_t aOffset) {
    FPosition = aOffset;
    int32_t& pos = FPosition;
    const uint16_t flags = ReadShort(aBytes, pos);
    // Further flag words name properties this class does not have; their values follow all of ours, so they
    // are stepped over and left unread.
    for (uint16_t more = flags; more & flagContinuation;)
        more = ReadShort(aBytes, pos);

    if (flags & flagContentType) FContentType = ReadShortString(aBytes, pos);
    if (flags & flagContentEncoding) FContentEncoding = ReadShortString(aBytes, pos);
    if (flags & flagHeaders) FHeaders = ReadFieldTableText(aBytes, pos);
    if (flags & flagDeliveryMode)
        FDeliveryMode = static_cast<TkezAMQPMessageDeliveryMode>(ReadOctet(aBytes, pos));
    if (flags & flagPriority) FPriority = ReadOctet(aBytes, pos);
    if (flags & flagCorrelationId) FCorrelationId = ReadShortString(aBytes, pos);
    if (flags & flagReplyTo) FReplyTo = ReadShortString(aBytes, pos);
    if (flags & flagExpiration) FExpiration = ReadShortString(aBytes, pos);
    if (flags & flagMessageId) FMessageId = ReadShortString(aBytes, pos);
    if (flags & flagTimeStamp) FTimeStamp = ReadLongLong(aBytes, pos);
    if (flags & flagType) FType = ReadShortString(aBytes, pos);
    if (flags & flagUserId) FUserId = ReadShortString(aBytes, pos);
    if (flags & flagAppId) FAppId = ReadShortString(aBytes, pos);
    if (flags & flagReserved) FReserved = ReadShortString(aBytes, pos);
}

void TkezAMQPBasicProperties::WriteTo(TBytes& aOut) {
    const size_t start = aOut.size();
    aOut.resize(start + 2);
    uint16_t flags = 0;
    const auto text = [&](const std::string& aValue, uint16_t aFlag) {
        if (aValue.empty()) return;
        WriteShortString(aValue, aOut);
        flags |= aFlag;
    };
    try {
        text(FContentType, flagContentType);
        text(FContentEncoding, flagContentEncoding);
        if (!FHeaders.empty()) {
            WriteFieldTableJSON(FHeaders, aOut);
            flags |= flagHeaders;
        }
        if (FDeliveryMode != amqpMDMNone) {
            WriteOctet(FDeliveryMode, aOut);
            flags |= flagDeliveryMode;
        }
        if (FPriority != 0) {
            WriteOctet(FPriority, aOut);
            flags |= flagPriority;
        }
        text(FCorrelationId, flagCorrelationId);
        text(FReplyTo, flagReplyTo);
        text(FExpiration, flagExpiration);
        text(FMessageId, flagMessageId);
        if (FTimeStamp != 0) {
            WriteLongLong(FTimeStamp, aOut);
            flags |= flagTimeStamp;
        }
        text(FType, flagType);
        text(FUserId, flagUserId);
        text(FAppId, flagAppId);
        text(FReserved, flagReserved);
    } catch (...) {
        aOut.resize(start);
        throw;
    }
    wire::StoreBE(aOut.data() + start, flags);
}

TBytes TkezAMQPBasicProperties::Write() {
    TBytes out;
    WriteTo(out);
    return out;
}

// --- content header ---

void TkezAMQPFramePayloadType_ContentHeader::DoRead(TBytesView aBytes) {
    int32_t pos = 0;
    FClassId = GetAMQPClass(ReadShort(aBytes, pos));
    if (FClassId != amqpClassBasic) RaiseAMQPException(501);
    FWeight = ReadShort(aBytes, pos);
    if (FWeight != 0) RaiseAMQPException(501);
    FBodySize = ReadLongLong(aBytes, pos);
    FHeader.Read(aBytes, pos);
}

void TkezAMQPFramePayloadType_ContentHeader::DoWrite(TBytes& aOut) {
    WriteShort(GetAMQPClassId(FClassId), aOut);
    WriteShort(FWeight, aOut);
    WriteLongLong(FBodySize, aOut);
    FHeader.WriteTo(aOut);
}

// --- content body ---

TStream& TkezAMQPFramePayloadType_ContentBody::Data() {
    if (!FData) {
        FOwnedData = std::make_unique<TMemoryStream>();
        FData = FOwnedData.get();
    }
    return *FData;
}

void TkezAMQPFramePayloadType_ContentBody::SetData(TStream* aStream) {
    if (aStream == FData) return;
    FOwnedData.reset();
    FData = aStream;
}

void TkezAMQPFramePayloadType_ContentBody::DoRead(TBytesView aBytes) {
    TStream& data = Data();
    data.WriteBuffer(aBytes.data(), static_cast<int64_t>(aBytes.size()));
    data.SetPosition(0);
    FDataSize = data.Size();
}

void TkezAMQPFramePayloadType_ContentBody::DoReadOwned(TBytes&& aBytes) {
    if (FData) {
        DoRead(aBytes);
        return;
    }
    FOwnedData = std::make_unique<TMemoryStream>(std::move(aBytes));
    FData = FOwnedData.get();
    FDataSize = FData->Size();
}

void TkezAMQPFramePayloadType_ContentBody::DoWrite(TBytes& aOut) {
    if (!FData || FDataSize <= 0 || FData->Size() == 0) return;
    const size_t start = aOut.size();
    const auto count = static_cast<size_t>(FDataSize);
    if (auto* memory = dynamic_cast<TMemoryStream*>(FData)) {
        // Straight from the stream's memory into the frame: the one copy a sent body needs.
        const int64_t position = memory->Position();
        const int64_t available = std::clamp<int64_t>(memory->Size() - position, 0, FDataSize);
        if (available > 0)
            aOut.insert(aOut.end(), memory->Memory() + position, memory->Memory() + position + available);
        aOut.resize(start + count);
        memory->Seek(available, soCurrent);
        return;
    }
    aOut.resize(start + count);
    FData->Read(aOut.data() + start, FDataSize);
}

std::string TkezAMQPFramePayloadType_ContentBody::AsString() {
    if (!FData) return {};
    TStream& data = *FData;
    data.SetPosition(0);
    std::string text;
    text.resize(static_cast<size_t>(std::max<int64_t>(data.Size(), 0)));
    size_t filled = 0;
    while (filled < text.size()) {
        const int64_t n =
            data.Read(text.data() + filled, std::min<int64_t>(CopyBlockSize, text.size() - filled));
        if (n <= 0) break;
        filled += static_cast<size_t>(n);
    }
    text.resize(filled);
    data.SetPosition(0);
    return text;
}

std::unique_ptr<TStream> TkezAMQPFramePayloadType_ContentBody::ReleaseData() {
    if (!FOwnedData) return nullptr; // a stream it does not own stays where it is
    std::unique_ptr<TStream> owned = std::move(FOwnedData);
    FData = nullptr;
    FDataSize = 0;
    return owned;
}

void TkezAMQPFramePayloadType_ContentBody::AdoptData(std::unique_ptr<TStream> aStream, int64_t aDataSize) {
    FOwnedData = std::move(aStream);
    FData = FOwnedData.get();
    FDataSize = aDataSize;
}

// --- message content ---

void TkezAMQPMessageContent::SetPayload(const TkezAMQPFramePayload_Method_Basic* aPayload) {
    if (!aPayload) return;
    FPayload.reset();
    switch (aPayload->MethodId()) {
    case amqpBasicReturn:
        FPayload = std::make_unique<TkezAMQPFramePayload_Method_BasicReturn>(
            static_cast<const TkezAMQPFramePayload_Method_BasicReturn&>(*aPayload));
        break;
    case amqpBasicDeliver:
        FPayload = std::make_unique<TkezAMQPFramePayload_Method_BasicDeliver>(
            static_cast<const TkezAMQPFramePayload_Method_BasicDeliver&>(*aPayload));
        break;
    case amqpBasicGetOk:
        FPayload = std::make_unique<TkezAMQPFramePayload_Method_BasicGetOk>(
            static_cast<const TkezAMQPFramePayload_Method_BasicGetOk&>(*aPayload));
        break;
    default: RaiseAMQPException(505);
    }
}

void TkezAMQPMessageContent::AdoptPayload(std::unique_ptr<TkezAMQPFramePayload_Method_Basic> aPayload) {
    if (!aPayload) return;
    FPayload.reset();
    switch (aPayload->MethodId()) {
    case amqpBasicReturn:
    case amqpBasicDeliver:
    case amqpBasicGetOk: FPayload = std::move(aPayload); break;
    default: RaiseAMQPException(505);
    }
}

void TkezAMQPMessageContent::AdoptHeader(std::unique_ptr<TkezAMQPFramePayloadType_ContentHeader> aHeader) {
    if (aHeader) FHeader = std::move(aHeader);
}

TkezAMQPFramePayloadType_ContentHeader& TkezAMQPMessageContent::Header() {
    if (!FHeader) FHeader = std::make_unique<TkezAMQPFramePayloadType_ContentHeader>();
    return *FHeader;
}

void TkezAMQPMessageContent::SetHeader(const TkezAMQPFramePayloadType_ContentHeader* aHeader) {
    if (!aHeader) return;
    TkezAMQPFramePayloadType_ContentHeader& own = Header();
    own.SetClassId(aHeader->ClassId());
    own.SetWeight(aHeader->Weight());
    own.SetBodySize(aHeader->BodySize());
    own.Header().Assign(aHeader->Header());
}

TkezAMQPFramePayloadType_ContentBody& TkezAMQPMessageContent::Body() {
    if (!FBody) FBody = std::make_unique<TkezAMQPFramePayloadType_ContentBody>();
    return *FBody;
}

void TkezAMQPMessageContent::SetBody(TkezAMQPFramePayloadType_ContentBody* aBody) {
    if (!aBody) return;
    TkezAMQPFramePayloadType_ContentBody& own = Body();
    own.SetDataSize(own.DataSize() + aBody->DataSize());
    if (!aBody->HasData()) return;
    TStream& from = aBody->Data();
    TStream& to = own.Data();
    to.Seek(0, soEnd);
    if (auto* memory = dynamic_cast<TMemoryStream*>(&from)) {
        const int64_t position = memory->Position();
        if (position < memory->Size()) to.WriteBuffer(memory->Memory() + position, memory->Size() - position);
        memory->Seek(0, soEnd);
        return;
    }
    to.CopyFrom(from, from.Size() - from.Position());
}

void TkezAMQPMessageContent::TakeBody(TkezAMQPFramePayloadType_ContentBody& aBody) {
    const bool empty = !FBody || (!FBody->HasData() && FBody->DataSize() == 0);
    const uint64_t announced = FHeader ? FHeader->BodySize() : 0;
    const bool whole = aBody.HasData() && aBody.Data().Position() == 0;
    if (empty && whole) {
        const int64_t size = aBody.DataSize();
        // A body in one frame keeps that frame's octets; one of several frames keeps each frame's octets as
        // they came, joined without a copy.
        if (static_cast<uint64_t>(size) < announced)
            Body().AdoptData(std::make_unique<TSegmentedStream>(), 0);
        else if (std::unique_ptr<TStream> stream = aBody.ReleaseData()) {
            Body().AdoptData(std::move(stream), size);
            return;
        }
    }
    if (whole && FBody && FBody->HasData()) {
        if (auto* segments = dynamic_cast<TSegmentedStream*>(&FBody->Data())) {
            const int64_t size = aBody.DataSize();
            if (std::unique_ptr<TStream> stream = aBody.ReleaseData()) {
                if (auto* memory = dynamic_cast<TMemoryStream*>(stream.get())) {
                    segments->Append(memory->Release());
                    FBody->SetDataSize(FBody->DataSize() + size);
                    return;
                }
                aBody.AdoptData(std::move(stream), size);
            }
        }
    }
    SetBody(&aBody);
}

void TkezAMQPMessageContent::DoClear() {
    FPayload.reset();
    FHeader.reset();
    FBody.reset();
}

} // namespace kez
