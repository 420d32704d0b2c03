// Arguments of the Connection (10) and Channel (20) methods.
#pragma once

#include "kezAMQP_Classes_Arguments.h"
#include "kezBase_StringList.h"

#include <memory>

namespace kez {

// Connection.Start (received): the broker's version, properties, mechanisms and locales.
class TkezAMQPFramePayload_Method_ConnectionStart : public TkezAMQPFramePayload_Method_Connection {
public:
    TkezAMQPFramePayload_Method_ConnectionStart() { FMethod = amqpConnStart; }
    KEZ_PROPERTY(uint8_t, VersionMajor)
    KEZ_PROPERTY(uint8_t, VersionMinor)
    KEZ_PROPERTY(std::string, Mechanisms)
    KEZ_PROPERTY(std::string, Locales)
public:
    TkezStringList& ServerProperties();

protected:
    void DoRead(TBytesView aBytes) override;

private:
    std::unique_ptr<TkezStringList> FServerProperties;
};

// Connection.StartOk (sent): client properties, the chosen mechanism with its response, and the locale.
class TkezAMQPFramePayload_Method_ConnectionStartOk : public TkezAMQPFramePayload_Method_Connection {
public:
    TkezAMQPFramePayload_Method_ConnectionStartOk() { FMethod = amqpConnStartOk; }
    KEZ_PROPERTY(std::string, Mechanism)
    KEZ_PROPERTY(std::string, User)
    KEZ_PROPERTY(std::string, Password)
    KEZ_PROPERTY(std::string, Locale, "en_US")
public:
    // Filled with the client's default properties on first use.
    TkezStringList& ClientProperties();
    // Follows Mechanism on every access, so the response always matches the mechanism written.
    TkezAMQPAuthentication MechanismType() const { return GetAMQPAuthentication(Mechanism()); }

protected:
    void DoWrite(TBytes& aOut) override;

private:
    std::unique_ptr<TkezStringList> FClientProperties;
};

class TkezAMQPFramePayload_Method_ConnectionSecure : public TkezAMQPFramePayload_Method_Connection {
public:
    TkezAMQPFramePayload_Method_ConnectionSecure() { FMethod = amqpConnSecure; }
    KEZ_PROPERTY(std::string, Challenge)
protected:
    void DoRead(TBytesView aBytes) override;
};

class TkezAMQPFramePayload_Method_ConnectionSecureOk : public TkezAMQPFramePayload_Method_Connection {
public:
    TkezAMQPFramePayload_Method_ConnectionSecureOk() { FMethod = amqpConnSecureOk; }
    // Holds the response to the challenge.
    KEZ_PROPERTY(std::string, Challenge)
protected:
    void DoWrite(TBytes& aOut) override;
};

// Connection.Tune (received) and Connection.TuneOk (sent) share their layout.
template <TkezAMQPMethod Method>
class TkezAMQPTuneArguments : public TkezAMQPFramePayload_Method_Connection {
public:
    TkezAMQPTuneArguments() { FMethod = Method; }
    KEZ_PROPERTY(uint16_t, ChannelMax)
    KEZ_PROPERTY(uint32_t, FrameMax)
    // Seconds.
    KEZ_PROPERTY(uint16_t, HeartBeat)
protected:
    void DoRead(TBytesView aBytes) override {
        TkezAMQPFramePayload_Method_Connection::DoRead(aBytes);
        FChannelMax = ReadShort(aBytes, FOffset);
        FFrameMax = ReadLong(aBytes, FOffset);
        FHeartBeat = ReadShort(aBytes, FOffset);
    }
    void DoWrite(TBytes& aOut) override {
        WriteShort(FChannelMax, aOut);
        WriteLong(FFrameMax, aOut);
        WriteShort(FHeartBeat, aOut);
    }
};

class TkezAMQPFramePayload_Method_ConnectionTune : public TkezAMQPTuneArguments<amqpConnTune> {};
class TkezAMQPFramePayload_Method_ConnectionTuneOk : public TkezAMQPTuneArguments<amqpConnTuneOk> {};

class TkezAMQPFramePayload_Method_ConnectionOpen : public TkezAMQPFramePayload_Method_Connection {
public:
    TkezAMQPFramePayload_Method_ConnectionOpen() { FMethod = amqpConnOpen; }
    KEZ_PROPERTY(std::string, VirtualHost, "/")
    KEZ_PROPERTY(std::string, Reserved1)
    KEZ_PROPERTY(bool, Reserved2)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_ConnectionOpenOk : public TkezAMQPFramePayload_Method_Connection {
public:
    TkezAMQPFramePayload_Method_ConnectionOpenOk() { FMethod = amqpConnOpenOk; }
    KEZ_PROPERTY(std::string, Reserved1)
protected:
    void DoRead(TBytesView aBytes) override;
};

// The reply fields of Connection.Close and Channel.Close; both directions.
template <typename ClassBase, TkezAMQPMethod Method>
class TkezAMQPCloseArguments : public ClassBase {
public:
    TkezAMQPCloseArguments() { this->FMethod = Method; }
    KEZ_PROPERTY(uint16_t, ReplyCode)
    KEZ_PROPERTY(std::string, ReplyText)
    KEZ_PROPERTY(TkezAMQPClass, FailClassId, amqpClassNone)
    KEZ_PROPERTY(TkezAMQPMethod, FailMethodId, amqpMethodNone)
protected:
    void DoRead(TBytesView aBytes) override {
        ClassBase::DoRead(aBytes);
        int32_t& pos = this->FOffset;
        FReplyCode = ReadShort(aBytes, pos);
        FReplyText = ReadShortString(aBytes, pos);
        FFailClassId = GetAMQPClass(ReadShort(aBytes, pos));
        FFailMethodId = GetAMQPMethod(FFailClassId, ReadShort(aBytes, pos));
    }
    void DoWrite(TBytes& aOut) override {
        WriteShort(FReplyCode, aOut);
        WriteShortString(FReplyText, aOut);
        WriteShort(GetAMQPClassId(FFailClassId), aOut);
        WriteShort(GetAMQPMethodId(FFailMethodId), aOut);
    }
};

class TkezAMQPFramePayload_Method_ConnectionClose
    : public TkezAMQPCloseArguments<TkezAMQPFramePayload_Method_Connection, amqpConnClose> {};

class TkezAMQPFramePayload_Method_ConnectionCloseOk : public TkezAMQPFramePayload_Method_Connection {
public:
    TkezAMQPFramePayload_Method_ConnectionCloseOk() { FMethod = amqpConnCloseOk; }
};

class TkezAMQPFramePayload_Method_ChannelOpen : public TkezAMQPFramePayload_Method_Channel {
public:
    TkezAMQPFramePayload_Method_ChannelOpen() { FMethod = amqpChannOpen; }
    KEZ_PROPERTY(std::string, Reserved1)
protected:
    void DoWrite(TBytes& aOut) override;
};

class TkezAMQPFramePayload_Method_ChannelOpenOk : public TkezAMQPFramePayload_Method_Channel {
public:
    TkezAMQPFramePayload_Method_ChannelOpenOk() { FMethod = amqpChannOpenOk; }
    KEZ_PROPERTY(std::string, Reserved1)
protected:
    void DoRead(TBytesView aBytes) override;
};

// Channel.Flow and Channel.FlowOk; both directions.
template <TkezAMQPMethod Method>
class TkezAMQPFlowArguments : public TkezAMQPFramePayload_Method_Channel {
public:
    TkezAMQPFlowArguments() { FMethod = Method; }
    KEZ_PROPERTY(bool, Active)
protected:
    void DoRead(TBytesView aBytes) override {
        TkezAMQPFramePayload_Method_Channel::DoRead(aBytes);
        FActive = ReadBooleanOctet(aBytes, FOffset);
    }
    void DoWrite(TBytes& aOut) override { WriteBooleanOctet(FActive, aOut); }
};

class TkezAMQPFramePayload_Method_ChannelFlow : public TkezAMQPFlowArguments<amqpChannFlow> {};
class TkezAMQPFramePayload_Method_ChannelFlowOk : public TkezAMQPFlowArguments<amqpChannFlowOk> {};

class TkezAMQPFramePayload_Method_ChannelClose
    : public TkezAMQPCloseArguments<TkezAMQPFramePayload_Method_Channel, amqpChannClose> {};

class TkezAMQPFramePayload_Method_ChannelCloseOk : public TkezAMQPFramePayload_Method_Channel {
public:
    TkezAMQPFramePayload_Method_ChannelCloseOk() { FMethod = amqpChannCloseOk; }
};

} // namespace kez
