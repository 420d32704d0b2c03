// Content: the basic properties, the content header and body payloads, and the message assembled from a
// Deliver, GetOk or Return method, its header and its body frames.
#pragma once

#include "kezAMQP_Classes_Basic.h"
#include "kezAMQP_Classes_PayloadType.h"
#include "kezBase_Streams.h"

#include <memory>

namespace kez {

// The fourteen properties of class Basic. Each is written when present (non-empty text, non-zero number,
// delivery mode other than amqpMDMNone), in descending order of its flag bit.
class TkezAMQPBasicProperties : public TObject {
public:
    KEZ_PROPERTY(std::string, ContentType, "text/plain")
    KEZ_PROPERTY(std::string, ContentEncoding, "utf-8")
    // JSON object text when written; table text (close to JSON) when read.
    KEZ_PROPERTY(std::string, Headers)
    KEZ_PROPERTY(TkezAMQPMessageDeliveryMode, DeliveryMode, amqpMDMPersistent)
    KEZ_PROPERTY(uint8_t, Priority, 1)
    KEZ_PROPERTY(std::string, CorrelationId)
    KEZ_PROPERTY(std::string, ReplyTo)
    KEZ_PROPERTY(std::string, Expiration)
    KEZ_PROPERTY(std::string, MessageId)
    KEZ_PROPERTY(uint64_t, TimeStamp)
    // The AMQP "type" property.
    KEZ_PROPERTY(std::string, Type)
    KEZ_PROPERTY(std::string, UserId)
    KEZ_PROPERTY(std::string, AppId)
    KEZ_PROPERTY(std::string, Reserved)
public:
    void Assign(const TkezAMQPBasicProperties& aSource) { *this = aSource; }
    // Reads the flags and the values present from aOffset; absent properties keep their values.
    void Read(TBytesView aBytes, int32_t aOffset);
    // The position just past the properties after Read.
    int32_t Position() const noexcept { return FPosition; }
    TBytes Write();
    void WriteTo(TBytes& aOut);

private:
    int32_t FPosition = 0;
};

class TkezAMQPFramePayloadType_ContentHeader : public TkezAMQPFramePayloadType {
public:
    KEZ_PROPERTY(TkezAMQPClass, ClassId, amqpClassBasic)
    KEZ_PROPERTY(uint16_t, Weight)
    KEZ_PROPERTY(uint64_t, BodySize)
public:
    TkezAMQPBasicProperties& Header() noexcept { return FHeader; }
    const TkezAMQPBasicProperties& Header() const noexcept { return FHeader; }
    // Copies the values; null does nothing.
    void SetHeader(const TkezAMQPBasicProperties* aHeader) {
        if (aHeader) FHeader.Assign(*aHeader);
    }

protected:
    // Raises 501 for a class other than Basic or a non-zero weight.
    void DoRead(TBytesView aBytes) override;
    void DoWrite(TBytes& aOut) override;

private:
    TkezAMQPBasicProperties FHeader;
};

class TkezAMQPFramePayloadType_ContentBody : public TkezAMQPFramePayloadType {
public:
    // The body stream; created (and owned) on first use.
    TStream& Data();
    bool HasData() const noexcept { return FData != nullptr; }
    // Uses aStream without owning it; it must outlive this object or be replaced first.
    void SetData(TStream* aStream);
    int64_t DataSize() const noexcept { return FDataSize; }
    void SetDataSize(int64_t aSize) noexcept { FDataSize = aSize; }
    // The whole body as text (UTF-8 as it came); leaves the stream at position 0.
    std::string AsString();
    // Hands over the stream this body owns and leaves the body empty; null, changing nothing, when it owns
    // none.
    std::unique_ptr<TStream> ReleaseData();
    // Takes aStream over as the owned data stream.
    void AdoptData(std::unique_ptr<TStream> aStream, int64_t aDataSize);

protected:
    void DoRead(TBytesView aBytes) override;
    void DoReadOwned(TBytes&& aBytes) override;
    // DataSize octets from the stream's current position; zeros where the stream ends first.
    void DoWrite(TBytes& aOut) override;

private:
    std::unique_ptr<TStream> FOwnedData;
    TStream* FData = nullptr;
    int64_t FDataSize = 0;
};

class TkezAMQPMessageContent : public TObject {
public:
    TkezAMQPMessageContent() = default;
    TkezAMQPMessageContent(const TkezAMQPMessageContent&) = delete;
    TkezAMQPMessageContent& operator=(const TkezAMQPMessageContent&) = delete;

    // A copy of the Deliver, GetOk or Return arguments, or null.
    TkezAMQPFramePayload_Method_Basic* Payload() const noexcept { return FPayload.get(); }
    // Copies a Deliver, GetOk or Return; any other method raises 505 and leaves Payload empty. Null does
    // nothing.
    void SetPayload(const TkezAMQPFramePayload_Method_Basic* aPayload);
    // As SetPayload, taking the object itself over instead of a copy.
    void AdoptPayload(std::unique_ptr<TkezAMQPFramePayload_Method_Basic> aPayload);

    TkezAMQPFramePayloadType_ContentHeader& Header();
    // Copies class, weight, body size and properties; null does nothing.
    void SetHeader(const TkezAMQPFramePayloadType_ContentHeader* aHeader);
    // As SetHeader, taking the object itself over instead of a copy; null does nothing.
    void AdoptHeader(std::unique_ptr<TkezAMQPFramePayloadType_ContentHeader> aHeader);

    TkezAMQPFramePayloadType_ContentBody& Body();
    // Appends the octets of aBody's stream from its current position and adds its DataSize; null does
    // nothing.
    void SetBody(TkezAMQPFramePayloadType_ContentBody* aBody);
    // As SetBody, but while this body is still empty it takes aBody's own stream over instead of copying it,
    // leaving aBody empty: a message that comes in one body frame is never copied.
    void TakeBody(TkezAMQPFramePayloadType_ContentBody& aBody);

    void Clear() { DoClear(); }

protected:
    virtual void DoClear();

private:
    std::unique_ptr<TkezAMQPFramePayload_Method_Basic> FPayload;
    std::unique_ptr<TkezAMQPFramePayloadType_ContentHeader> FHeader;
    std::unique_ptr<TkezAMQPFramePayloadType_ContentBody> FBody;
};

} // namespace kez
