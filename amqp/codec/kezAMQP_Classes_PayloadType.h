// The payload kinds of a frame: method, content header, content body and heartbeat share this base; the
// method kind turns a method payload into its argument object.
#pragma once

#include "kezAMQP_Classes_Arguments.h"

#include <memory>

namespace kez {

class TkezAMQPFramePayloadType : public TObject {
public:
    // Fired after the payload has been parsed, with this object as Sender.
    TNotifyEvent OnReadFramePayload;

    void Read(TBytesView aBytes) {
        DoRead(aBytes);
        OnReadFramePayload.Fire(this);
    }
    // Lets a kind that keeps the octets adopt them instead of copying them.
    void Read(TBytes&& aBytes) {
        DoReadOwned(std::move(aBytes));
        OnReadFramePayload.Fire(this);
    }
    TBytes Write() {
        TBytes out;
        DoWrite(out);
        return out;
    }
    // Appends the payload to aOut, so that a frame is built in place.
    void WriteTo(TBytes& aOut) { DoWrite(aOut); }

protected:
    virtual void DoRead(TBytesView /*aBytes*/) {}
    virtual void DoReadOwned(TBytes&& aBytes) { DoRead(aBytes); }
    virtual void DoWrite(TBytes& /*aOut*/) {}
};

class TkezAMQPFramePayloadType_HeartBeat : public TkezAMQPFramePayloadType {};

class TkezAMQPFramePayloadType_Method : public TkezAMQPFramePayloadType {
public:
    TkezAMQPClass ClassId() const noexcept { return FClassId; }
    TkezAMQPMethod MethodId() const noexcept { return FMethodId; }

    // The argument object, or null for a received method that has no argument class.
    TkezAMQPFramePayload_Method* Payload() const noexcept { return FPayload.get(); }
    // Takes ownership; a non-null object also sets ClassId and MethodId.
    void SetPayload(std::unique_ptr<TkezAMQPFramePayload_Method> aPayload);
    // Hands the argument object over (ClassId and MethodId stay).
    std::unique_ptr<TkezAMQPFramePayload_Method> ReleasePayload() noexcept { return std::move(FPayload); }
    // The argument object as its concrete class, or null when it is of another class.
    template <typename T>
    T* PayloadAs() const noexcept {
        return dynamic_cast<T*>(FPayload.get());
    }

protected:
    // The argument factory: picks the argument class by class id and method id and reads it.
    void DoRead(TBytesView aBytes) override;
    void DoWrite(TBytes& aOut) override;

private:
    TkezAMQPClass FClassId = amqpClassNone;
    TkezAMQPMethod FMethodId = amqpMethodNone;
    std::unique_ptr<TkezAMQPFramePayload_Method> FPayload;
};

// The argument object of a method this client receives, or null for any other method.
std::unique_ptr<TkezAMQPFramePayload_Method> CreateReceivedMethodArguments(TkezAMQPMethod aMethod);

} // namespace kez
