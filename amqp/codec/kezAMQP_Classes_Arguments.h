// Method argument objects: the base classes. Each concrete class (one per AMQP method this client sends or
// receives) keeps its properties, writes its arguments in wire order and reads them back from position 4 of a
// method payload, just past the class id and the method id.
#pragma once

#include "kezAMQP_Helpers.h"
#include "kezBase_Classes.h"

namespace kez {

class TkezAMQPFramePayload_Base : public TObject {
public:
    void Read(TBytesView aBytes) { DoRead(aBytes); }
    // The arguments alone, without the class and method ids.
    TBytes Write() {
        TBytes out;
        DoWrite(out);
        return out;
    }
    void WriteTo(TBytes& aOut) { DoWrite(aOut); }

    TkezAMQPClass ClassId() const noexcept { return FClass; }
    TkezAMQPMethod MethodId() const noexcept { return FMethod; }

protected:
    virtual void DoRead(TBytesView /*aBytes*/) {}
    virtual void DoWrite(TBytes& /*aOut*/) {}

    TkezAMQPClass FClass = amqpClassNone;
    TkezAMQPMethod FMethod = amqpMethodNone;
    int32_t FOffset = 0;
};

class TkezAMQPFramePayload_Method : public TkezAMQPFramePayload_Base {
protected:
    void DoRead(TBytesView /*aBytes*/) override { FOffset = 4; }
};

#define KEZ_AMQP_CLASS_ARGUMENTS(Name, Class)                                                                \
    class Name : public TkezAMQPFramePayload_Method {                                                        \
    protected:                                                                                               \
        Name() { FClass = Class; }                                                                           \
    };
KEZ_AMQP_CLASS_ARGUMENTS(TkezAMQPFramePayload_Method_Connection, amqpClassConnection)
KEZ_AMQP_CLASS_ARGUMENTS(TkezAMQPFramePayload_Method_Channel, amqpClassChannel)
KEZ_AMQP_CLASS_ARGUMENTS(TkezAMQPFramePayload_Method_Exchange, amqpClassExchange)
KEZ_AMQP_CLASS_ARGUMENTS(TkezAMQPFramePayload_Method_Queue, amqpClassQueue)
KEZ_AMQP_CLASS_ARGUMENTS(TkezAMQPFramePayload_Method_Basic, amqpClassBasic)
KEZ_AMQP_CLASS_ARGUMENTS(TkezAMQPFramePayload_Method_Tx, amqpClassTx)
#undef KEZ_AMQP_CLASS_ARGUMENTS

// Appends one octet holding the booleans as bits, the first at bit 0.
inline void WriteFlags(TBytes& aOut, std::initializer_list<bool> aFlags) {
    const size_t at = aOut.size();
    aOut.push_back(0);
    int bit = 0;
    for (bool flag : aFlags) {
        if (flag) SetFlagBit(aOut, at, bit);
        ++bit;
    }
}

} // namespace kez
