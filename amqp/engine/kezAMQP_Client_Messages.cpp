// Publishing a message as one block of frames, and assembling received messages from their frames.
#include "kezAMQP_Client.h"

#include <algorithm>

namespace kez {

// --- publishing ---

void TkezAMQP_Client::PublishMessage(const std::string& aChannel, const std::string& aExchange,
                                     const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                                     TStream& aMessage, bool aMandatory, bool aImmediate) {
    aMessage.SetPosition(0);
    const TEntryPtr entry = DoGetChannel(aChannel);
    const uint16_t channel = entry->Number();
    const int64_t size = aMessage.Size();
    // Every body frame but the last fills the negotiated frame size exactly, its 8 octets of framing
    // included.
    const int64_t chunk = std::max<int64_t>(int64_t{MaxFrameSizeInForce()} - AMQPFrameOverhead, 1);

    TBytes block;
    block.reserve(static_cast<size_t>(size + (size / chunk + 3) * AMQPFrameOverhead + 512));

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

    // The body is read from the caller's stream chunk by chunk, straight into the block.
    TkezAMQPFrame body;
    body.Header().SetType(amqpFrameBody);
    body.Header().SetChannel(channel);
    body.Payload_ContentBody().SetData(&aMessage);
    for (int64_t offset = 0; offset < size; offset += chunk) {
        aMessage.SetPosition(offset);
        body.Payload_ContentBody().SetDataSize(std::min(chunk, size - offset));
        body.WriteTo(block);
    }
    DoWriteBytes(block);
}

void TkezAMQP_Client::PublishMessage(const std::string& aChannel, const std::string& aExchange,
                                     const std::string& aRoutingKey, const TkezAMQPBasicProperties* aHeader,
                                     const std::string& aMessage, bool aMandatory, bool aImmediate) {
    TMemoryStream stream(TBytes(aMessage.begin(), aMessage.end()));
    PublishMessage(aChannel, aExchange, aRoutingKey, aHeader, stream, aMandatory, aImmediate);
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
        message.SetPayload(&aPayload);
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
    message.SetHeader(&aHeader);
    if (aHeader.BodySize() == 0) DoMessageComplete(*entry);
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
