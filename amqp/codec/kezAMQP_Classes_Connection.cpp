#include "kezAMQP_Classes_Connection.h"

namespace kez {

namespace {
constexpr const char* ClientPlatform =
#if defined(_WIN32)
    "windows";
#elif defined(__APPLE__)
    "macos";
#else
    "linux";
#endif
} // namespace

TkezStringList& TkezAMQPFramePayload_Method_ConnectionStart::ServerProperties() {
    if (!FServerProperties) FServerProperties = std::make_unique<TkezStringList>();
    return *FServerProperties;
}

void TkezAMQPFramePayload_Method_ConnectionStart::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Connection::DoRead(aBytes);
    ServerProperties().Clear();
    FVersionMajor = ReadOctet(aBytes, FOffset);
    FVersionMinor = ReadOctet(aBytes, FOffset);
    ReadFieldTable(aBytes, FOffset, ServerProperties());
    FMechanisms = ReadLongString(aBytes, FOffset);
    FLocales = ReadLongString(aBytes, FOffset);
}

TkezStringList& TkezAMQPFramePayload_Method_ConnectionStartOk::ClientProperties() {
    if (!FClientProperties) {
        FClientProperties = std::make_unique<TkezStringList>();
        FClientProperties->Add("product=Lumbrix");
        FClientProperties->Add("version=2023.5.0");
        FClientProperties->AddPair("platform", ClientPlatform);
        FClientProperties->Add("copyright=Copyright (c) 2023 Lumbrix. All rights reserved.");
        FClientProperties->Add("information=Built with Lumbrix 2023.5.0.");
    }
    return *FClientProperties;
}

void TkezAMQPFramePayload_Method_ConnectionStartOk::DoWrite(TBytes& aOut) {
    WriteFieldTable(ClientProperties(), aOut);
    WriteShortString(FMechanism, aOut);
    switch (MechanismType()) {
    case amqpAuthPlain: {
        // SASL PLAIN with an empty authorisation identity: NUL user NUL password.
        std::string response;
        response.reserve(FUser.size() + FPassword.size() + 2);
        response.push_back('\0');
        response += FUser;
        response.push_back('\0');
        response += FPassword;
        WriteLongString(response, aOut);
        break;
    }
    case amqpAuthAMQPlain: {
        // A field table without its own tag is exactly a long string holding the entries.
        TkezStringList login;
        login.AddPair("LOGIN", FUser);
        login.AddPair("PASSWORD", FPassword);
        WriteFieldTable(login, aOut);
        break;
    }
    default: WriteLong(0, aOut); break;
    }
    WriteShortString(FLocale, aOut);
}

void TkezAMQPFramePayload_Method_ConnectionSecure::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Connection::DoRead(aBytes);
    FChallenge = ReadLongString(aBytes, FOffset);
}

void TkezAMQPFramePayload_Method_ConnectionSecureOk::DoWrite(TBytes& aOut) {
    WriteLongString(FChallenge, aOut);
}

void TkezAMQPFramePayload_Method_ConnectionOpen::DoWrite(TBytes& aOut) {
    WriteShortString(FVirtualHost, aOut);
    WriteShortString(FReserved1, aOut);
    WriteBooleanOctet(FReserved2, aOut);
}

void TkezAMQPFramePayload_Method_ConnectionOpenOk::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Connection::DoRead(aBytes);
    FReserved1 = ReadShortString(aBytes, FOffset);
}

void TkezAMQPFramePayload_Method_ChannelOpen::DoWrite(TBytes& aOut) { WriteShortString(FReserved1, aOut); }

void TkezAMQPFramePayload_Method_ChannelOpenOk::DoRead(TBytesView aBytes) {
    TkezAMQPFramePayload_Method_Channel::DoRead(aBytes);
    // The field is a long string in AMQP 0-9-1 (always empty from RabbitMQ); read as a short string its first
    // length octet, 0, gives the same empty text and the rest is left unread.
    FReserved1 = ReadShortString(aBytes, FOffset);
}

} // namespace kez
