// One AMQP frame: its header, its raw payload and the payload kind parsed from it. A received frame is cut
// and checked by Read on the receiving thread and parsed later by DoReadPayload on its channel's worker; a
// sent frame is filled through its header and payload kind and serialised by Write.
#pragma once

#include "kezAMQP_Classes_Content.h"
#include "kezAMQP_Classes_PayloadType.h"

#include <cstdint>
#include <memory>

namespace kez {

inline constexpr uint8_t AMQPFrameEnd = 0xCE;
// Type octet, channel and size.
inline constexpr int32_t AMQPFrameHeaderSize = 7;
// Header and frame-end octet: what a frame occupies besides its payload.
inline constexpr int32_t AMQPFrameOverhead = 8;
// A received body up to this size is copied out of its frame, which keeps its buffer for reuse; a larger one
// hands its octets over.
inline constexpr size_t AMQPFrameKeptPayload = 4096;

class TkezAMQPHeader : public TObject {
public:
    // The frame type. (Named Type: a leading underscore and a capital are reserved in C++.)
    KEZ_PROPERTY(TkezAMQPFrameType, Type, amqpFrameNone)
    KEZ_PROPERTY(uint16_t, Channel)
    // The payload size as announced; negative when its top bit is set.
    KEZ_PROPERTY(int32_t, Size)
public:
    // Reads the seven header octets at aOffset.
    void Read(TBytesView aBytes, int32_t aOffset);
    void Clear() noexcept;
};

class TkezAMQPPayload : public TObject {
public:
    const TBytes& Payload() const noexcept { return FPayload; }
    // Copies aSize octets at aOffset; a size of 0 or below leaves the payload unchanged.
    void Read(TBytesView aBytes, int32_t aSize, int32_t aOffset);
    void Clear() noexcept { FPayload.clear(); }
    // Gathers a payload that arrives in pieces: Start empties it and makes room for aSize octets.
    void Start(size_t aSize) {
        FPayload.clear();
        FPayload.reserve(aSize);
    }
    void Append(TBytesView aOctets) { FPayload.insert(FPayload.end(), aOctets.begin(), aOctets.end()); }
    // Hands the octets over, leaving the payload empty.
    TBytes Release() noexcept { return std::move(FPayload); }

private:
    TBytes FPayload;
};

class TkezAMQPFrame : public TObject {
public:
    TkezAMQPFrame() = default;
    TkezAMQPFrame(const TkezAMQPFrame&) = delete;
    TkezAMQPFrame& operator=(const TkezAMQPFrame&) = delete;

    // The payload kinds; each getter creates its object on first use and wires its OnReadFramePayload to this
    // frame. The setters take ownership.
    TkezAMQPFramePayloadType_Method& Payload_Method();
    TkezAMQPFramePayloadType_ContentHeader& Payload_ContentHeader();
    TkezAMQPFramePayloadType_ContentBody& Payload_ContentBody();
    TkezAMQPFramePayloadType_HeartBeat& Payload_HeartBeat();
    void SetPayload_Method(std::unique_ptr<TkezAMQPFramePayloadType_Method> aValue) noexcept;
    void SetPayload_ContentHeader(std::unique_ptr<TkezAMQPFramePayloadType_ContentHeader> aValue) noexcept;
    // Hands the content header over, unhooked from this frame; null when the frame has none.
    std::unique_ptr<TkezAMQPFramePayloadType_ContentHeader> ReleasePayload_ContentHeader() noexcept;
    void SetPayload_ContentBody(std::unique_ptr<TkezAMQPFramePayloadType_ContentBody> aValue) noexcept;
    void SetPayload_HeartBeat(std::unique_ptr<TkezAMQPFramePayloadType_HeartBeat> aValue) noexcept;

    TkezAMQPHeader& Header() noexcept { return FHeader; }
    const TkezAMQPHeader& Header() const noexcept { return FHeader; }
    // The raw payload of a received frame. A body frame hands its octets to Payload_ContentBody when parsed.
    TkezAMQPPayload& Payload() noexcept { return FPayload; }
    const TkezAMQPPayload& Payload() const noexcept { return FPayload; }

    // The largest payload size the check accepts.
    int32_t MaxSize() const noexcept { return FMaxSize; }
    void SetMaxSize(int32_t aValue) noexcept { FMaxSize = aValue; }

    // Fired with this frame as Sender once DoReadPayload has parsed the payload.
    TNotifyEvent OnReadFrame;

    // Cuts one frame at aOffset: returns the octets it occupies (payload size + 8), or 0 while the array does
    // not yet hold all of it. The header is checked as soon as its seven octets are there, so an oversized
    // frame is refused before anything waits for its payload. Raises TkezAMQPException on a failed check.
    int32_t Read(TBytesView aBytes, int32_t aOffset);
    // Reads a frame that arrives in pieces (one cut by the end of a received block). BeginRead takes the
    // seven header octets and checks them as Read does; ContinueRead then takes from the front of aBytes what
    // the frame still lacks, sets aTaken to the octets it took and returns true once the frame-end octet has
    // come (raising 501 when it is not the frame end). The payload gathers in the frame's own buffer: the
    // octets are copied once, never set aside first.
    void BeginRead(TBytesView aHeader);
    bool ContinueRead(TBytesView aBytes, size_t& aTaken);
    // Parses the raw payload into the kind of the frame type; fires OnReadFrame through the payload kind.
    virtual void DoReadPayload();

    // The complete frame; the size field is always the real payload length, whatever Header.Size holds.
    TBytes Write();
    // Appends the complete frame to aOut.
    void WriteTo(TBytes& aOut);

    void Clear() noexcept;

protected:
    virtual void DoReadFrame() { OnReadFrame.Fire(this); }
    // The header checks, in order: known type (-1), no content on channel 0 (504), heartbeats only on channel
    // 0 (501), size within 0..MaxSize (501); then, when the array holds it, the frame-end octet (501).
    virtual void DoCheckFrame(TBytesView aBytes, int32_t aOffset);

private:
    template <typename T>
    T& Kind(std::unique_ptr<T>& aKind);

    TkezAMQPHeader FHeader;
    TkezAMQPPayload FPayload;
    std::unique_ptr<TkezAMQPFramePayloadType_Method> FPayload_Method;
    std::unique_ptr<TkezAMQPFramePayloadType_ContentHeader> FPayload_ContentHeader;
    std::unique_ptr<TkezAMQPFramePayloadType_ContentBody> FPayload_ContentBody;
    std::unique_ptr<TkezAMQPFramePayloadType_HeartBeat> FPayload_HeartBeat;
    int32_t FMaxSize = INT32_MAX;
};

} // namespace kez
