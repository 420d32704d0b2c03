// Publishing a message as one block of frames, and assembling received messages from their frames.
#include "kezAMQP_Client.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kez {

// --- publishing ---

namespace {

// Publish blocks are built in a buffer that each publishing thread keeps, so that a stream of large messages
// does not allocate and fault in a fresh block for every one. Beyond this size it is given back after use.
constexpr size_t KeptPublishBlock = 4 * 1024 * 1024 + 64 * 1024;
// Bodies from this size on are sent in pieces where the writer takes them.
constexpr size_t GatheredBodySize = 64 * 1024;

// The thread's buffer, or a fresh one when a write handler publishes again from inside a publish.
class TPublishBlock {
public:
    TPublishBlock() : FBlock(FInUse ? FOwn : FKept) { FNested = std::exchange(FInUse, true); }
    ~TPublishBlock() {
        FInUse = FNested;
        FBlock.clear();
        if (FBlock.capacity() > KeptPublishBlock) TBytes().swap(FBlock);
    }
    TBytes& operator*() noexcept { return FBlock; }

private:
    static thread_local TBytes FKept;
    static thread_local bool FInUse;
    TBytes FOwn;
    TBytes& FBlock;
    bool FNested = false;
};
thread_local TBytes TPublishBlock::FKept;
thread_local bool TPublishBlock::FInUse = false;

} // namespace

void TkezAMQP_Client::PublishBody(const std::string& aChannel, const std::string& aExchange,
                                  const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                                  TBytesView aBody, bool aMandatory, bool aImmediate) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    const uint16_t channel = entry->Number();
    const size_t size = aBody.size();
    // Every body frame but the last fills the negotiated frame size exactly, its 8 octets of framing
    // included.
    const size_t chunk =
        static_cast<size_t>(std::max<int64_t>(int64_t{MaxFrameSizeInForce()} - AMQPFrameOverhead, 1));
    // A large body is sent from the caller's octets where the writer takes pieces: copying it into the
    // block first would cost as much as the send, and hold the line idle meanwhile.
    const bool gather = size >= GatheredBodySize && OnAMQPWritePieces;

    TPublishBlock kept;
    TBytes& block = *kept;
    const size_t frames = size / chunk + 1;
    block.reserve((gather ? 0 : size) + (frames + 2) * static_cast<size_t>(AMQPFrameOverhead) + 512);

    TkezAMQPFrame method;
    method.Header().SetType(amqpFrameMethod);
    method.Header().SetChannel(channel);
    auto publish = std::make_unique<TkezAMQPFramePayload_Method_BasicPublish>();
    publish->SetExchange(aExchange);
    publish->SetRoutingKey(aRoutingKey);
    publish->SetMandatory(aMandatory);
    publish->SetImmediate(aImmediate);
    method.Payload_Method().SetPayload(std::move(publish));
    method.WriteTo(block);

    TkezAMQPFrame header;
    header.Header().SetType(amqpFrameHeader);
    header.Header().SetChannel(channel);
    TkezAMQPFramePayloadType_ContentHeader& content = header.Payload_ContentHeader();
    content.SetClassId(amqpClassBasic);
    content.SetWeight(0);
    content.SetBodySize(static_cast<uint64_t>(size));
    content.SetHeader(aHeader);
    header.WriteTo(block);

    const auto slice = [&](size_t aOffset) {
        return aBody.subspan(aOffset, std::min(chunk, size - aOffset));
    };
    const auto writeBodyHeader = [&](size_t aCount) {
        block.push_back(amqpFrameBody);
        WriteShort(channel, block);
        WriteLong(static_cast<uint32_t>(aCount), block);
    };
    if (!gather) {
        // Body frames straight from the caller's octets: one copy, into the block.
        for (size_t offset = 0; offset < size; offset += chunk) {
            const TBytesView body = slice(offset);
            writeBodyHeader(body.size());
            block.insert(block.end(), body.begin(), body.end());
            block.push_back(AMQPFrameEnd);
        }
        DoWriteBytes(block);
        return;
    }

    // The framing goes into the block (the end octet of one body frame and the header of the next lie side
    // by side there), the body slices stay where they are; the pieces alternate between the two.
    const size_t lead = block.size();
    for (size_t offset = 0; offset < size; offset += chunk) {
        if (offset > 0) block.push_back(AMQPFrameEnd);
        writeBodyHeader(slice(offset).size());
    }
    block.push_back(AMQPFrameEnd);
    std::vector<TBytesView> pieces;
    pieces.reserve(2 * frames + 1);
    const TBytesView framing(block);
    constexpr auto headerSize = static_cast<size_t>(AMQPFrameHeaderSize);
    pieces.push_back(framing.first(lead + headerSize));
    size_t at = lead + headerSize;
    for (size_t offset = 0; offset < size; offset += chunk) {
        pieces.push_back(slice(offset));
        const size_t step = offset + chunk < size ? 1 + headerSize : 1;
        pieces.push_back(framing.subspan(at, step));
        at += step;
    }
    DoWritePieces(pieces);
}

void TkezAMQP_Client::PublishMessage(const std::string& aChannel, const std::string& aExchange,
                                     const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                                     TStream& aMessage, bool aMandatory, bool aImmediate) {
    // A memory stream is published from its own octets; any other is read whole first.
    if (auto* memory = dynamic_cast<TMemoryStream*>(&aMessage)) {
        PublishBody(aChannel, aExchange, aRoutingKey, aHeader,
                    TBytesView(memory->Memory(), static_cast<size_t>(memory->Size())), aMandatory,
                    aImmediate);
        return;
    }
    aMessage.SetPosition(0);
    TBytes body(static_cast<size_t>(std::max<int64_t>(aMessage.Size(), 0)));
    body.resize(static_cast<size_t>(
        std::max<int64_t>(aMessage.Read(body.data(), static_cast<int64_t>(body.size())), 0)));
    PublishBody(aChannel, aExchange, aRoutingKey, aHeader, body, aMandatory, aImmediate);
}

void TkezAMQP_Client::PublishMessage(const std::string& aChannel, const std::string& aExchange,
                                     const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                                     const std::string& aMessage, bool aMandatory, bool aImmediate) {
    PublishBody(aChannel, aExchange, aRoutingKey, aHeader,
                TBytesView(reinterpret_cast<const uint8_t*>(aMessage.data()), aMessage.size()), aMandatory,
                aImmediate);
}

void TkezAMQP_Client::PublishMessage(const std::string& aChannel, const std::string& aExchange,
                                     const std::string& aRoutingKey, const std::string& aMessage,
                                     bool aMandatory, bool aImmediate) {
    PublishMessage(aChannel, aExchange, aRoutingKey, nullptr, aMessage, aMandatory, aImmediate);
}

void TkezAMQP_Client::PublishMessage(const std::string& aChannel, const std::string& aExchange,
                                     const std::string& aRoutingKey, TStream& aMessage, bool aMandatory,
                                     bool aImmediate) {
    PublishMessage(aChannel, aExchange, aRoutingKey, nullptr, aMessage, aMandatory, aImmediate);
}

// --- receiving ---

void TkezAMQP_Client::StartMessage(TkezAMQPFrame& aFrame, const TkezAMQPFramePayload_Method_Basic& aPayload) {
    if (const TEntryPtr entry = ReplyEntry(aFrame)) {
        TkezAMQPMessageContent& message = entry->MessageContent();
        message.Clear();
        // The frame is done with once handled: its argument object becomes the message's, without a copy.
        TkezAMQPFramePayloadType_Method& method = aFrame.Payload_Method();
        if (method.Payload() == &aPayload) {
            std::unique_ptr<TkezAMQPFramePayload_Method> owned = method.ReleasePayload();
            message.AdoptPayload(std::unique_ptr<TkezAMQPFramePayload_Method_Basic>(
                static_cast<TkezAMQPFramePayload_Method_Basic*>(owned.release())));
        } else {
            message.SetPayload(&aPayload);
        }
    }
}

void TkezAMQP_Client::DoBasicDeliver(TkezAMQPFrame& aFrame,
                                     TkezAMQPFramePayload_Method_BasicDeliver& aPayload) {
    StartMessage(aFrame, aPayload);
}

void TkezAMQP_Client::DoBasicGetOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_BasicGetOk& aPayload) {
    StartMessage(aFrame, aPayload);
}

void TkezAMQP_Client::DoBasicReturn(TkezAMQPFrame& aFrame,
                                    TkezAMQPFramePayload_Method_BasicReturn& aPayload) {
    StartMessage(aFrame, aPayload);
}

void TkezAMQP_Client::DoReadFrameContentHeader(TkezAMQPFrame& aFrame,
                                               TkezAMQPFramePayloadType_ContentHeader& aHeader) {
    const TEntryPtr entry = ReplyEntry(aFrame);
    if (!entry) return;
    TkezAMQPMessageContent& message = entry->MessageContent();
    if (!message.Payload()) RaiseAMQPException(505);
    const uint64_t bodySize = aHeader.BodySize();
    // As with the arguments: the frame's header becomes the message's.
    if (&aFrame.Payload_ContentHeader() == &aHeader)
        message.AdoptHeader(aFrame.ReleasePayload_ContentHeader());
    else
        message.SetHeader(&aHeader);
    if (bodySize == 0) DoMessageComplete(*entry);
}

void TkezAMQP_Client::DoReadFrameContentBody(TkezAMQPFrame& aFrame,
                                             TkezAMQPFramePayloadType_ContentBody& aBody) {
    const TEntryPtr entry = ReplyEntry(aFrame);
    if (!entry) return;
    TkezAMQPMessageContent& message = entry->MessageContent();
    if (!message.Payload()) RaiseAMQPException(505);
    message.TakeBody(aBody);
    const int64_t received = message.Body().DataSize();
    if (received >= 0 && static_cast<uint64_t>(received) == message.Header().BodySize()) {
        message.Body().Data().SetPosition(0);
        DoMessageComplete(*entry);
    }
}

void TkezAMQP_Client::DoMessageComplete(TkezAMQPChannelThreadItem& aEntry) {
    TkezAMQPMessageContent& message = aEntry.MessageContent();
    TkezAMQPFramePayload_Method_Basic* payload = message.Payload();
    if (!payload) return;
    switch (payload->MethodId()) {
    case amqpBasicReturn:
        OnAMQPBasicReturn.Fire(this, aEntry.Channel(),
                               static_cast<TkezAMQPFramePayload_Method_BasicReturn&>(*payload), message);
        break;
    case amqpBasicDeliver:
        OnAMQPBasicDeliver.Fire(this, aEntry.Channel(),
                                static_cast<TkezAMQPFramePayload_Method_BasicDeliver&>(*payload), message);
        break;
    case amqpBasicGetOk:
        OnAMQPBasicGetOk.Fire(this, aEntry.Channel(),
                              static_cast<TkezAMQPFramePayload_Method_BasicGetOk&>(*payload), message);
        break;
    default: break;
    }
}

} // namespace kez
