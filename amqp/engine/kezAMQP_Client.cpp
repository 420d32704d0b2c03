// The client engine: creation, the connection handshake and the dispatch of received methods.
#include "kezAMQP_Client.h"

#include <algorithm>
#include <cctype>

namespace kez {

namespace {
struct TSharedClient : TkezAMQP_Client {};

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}
} // namespace

TkezAMQP_Client::TkezAMQP_Client() = default;

// The workers may be handling frames that raise this class's events, so they stop before its members go.
TkezAMQP_Client::~TkezAMQP_Client() { ShutdownChannels(); }

std::shared_ptr<TkezAMQP_Client> TkezAMQP_Client::Create() { return std::make_shared<TSharedClient>(); }

void TkezAMQP_Client::Connect() {
    FConnected.store(true, std::memory_order_release);
    DoWriteBytes(TBytes{'A', 'M', 'Q', 'P', 0, 0, 9, 1});
}

void TkezAMQP_Client::Disconnect() {
    FConnected.store(false, std::memory_order_release);
    for (const TEntryPtr& entry : Channels().Items())
        entry->WaitRequest().Wake();
}

// --- handshake ---

void TkezAMQP_Client::DoConnectionStart(TkezAMQPFramePayload_Method_ConnectionStart& aStart) {
    if (aStart.VersionMajor() > 0 || aStart.VersionMinor() > 9) throw TkezAMQPException(-1, "");

    // AMQPLAIN wins over PLAIN; any other offer leaves anonymous.
    TkezAMQPAuthentication mechanism = amqpAuthAnnonymous;
    TkezAMQPAuthentications offered;
    if (!aStart.Mechanisms().empty()) {
        offered = GetAMQPAuthentications(aStart.Mechanisms());
        if (offered.Contains(amqpAuthAMQPlain))
            mechanism = amqpAuthAMQPlain;
        else if (offered.Contains(amqpAuthPlain))
            mechanism = amqpAuthPlain;
    }
    std::string user;
    std::string password;
    if (mechanism != amqpAuthAnnonymous) OnAMQPAuthentication.Fire(this, offered, mechanism, user, password);

    std::string locale = "en_US";
    const std::string& wanted = AMQPOptions().Locale();
    const std::string_view locales = aStart.Locales();
    for (size_t start = locales.find_first_not_of(' '); start != std::string_view::npos;) {
        const size_t end = locales.find(' ', start);
        if (SameTextIgnoringCase(locales.substr(start, end - start), wanted)) {
            locale = wanted;
            break;
        }
        start = end == std::string_view::npos ? end : locales.find_first_not_of(' ', end);
    }
    AMQPNegotiatedValues().SetLocale(locale);

    WriteMethod<TkezAMQPFramePayload_Method_ConnectionStartOk>(0, [&](auto& aStartOk) {
        aStartOk.SetMechanism(GetAMQPAuthenticationName(mechanism));
        aStartOk.SetUser(user);
        aStartOk.SetPassword(password);
        aStartOk.SetLocale(locale);
    });
}

void TkezAMQP_Client::DoConnectionSecure(TkezAMQPFramePayload_Method_ConnectionSecure& aSecure) {
    std::string response;
    OnAMQPChallenge.Fire(this, aSecure.Challenge(), response);
    WriteMethod<TkezAMQPFramePayload_Method_ConnectionSecureOk>(
        0, [&](auto& aSecureOk) { aSecureOk.SetChallenge(response); });
}

void TkezAMQP_Client::DoConnectionTune(TkezAMQPFramePayload_Method_ConnectionTune& aTune) {
    uint16_t heartBeat = 0;
    if (HeartBeat().Enabled()) {
        const int32_t interval = std::max(HeartBeat().Interval(), 0);
        heartBeat = interval < aTune.HeartBeat() ? static_cast<uint16_t>(interval) : aTune.HeartBeat();
    }
    // A broker's 0 means "no limit" for channels and frame size: ours applies then. (For the heartbeat, 0 is
    // "none", and so it stays.)
    const uint16_t maxChannels = aTune.ChannelMax() == 0
                                     ? AMQPOptions().MaxChannels()
                                     : std::min(AMQPOptions().MaxChannels(), aTune.ChannelMax());
    const uint32_t maxFrameSize = aTune.FrameMax() == 0
                                      ? AMQPOptions().MaxFrameSize()
                                      : std::min(AMQPOptions().MaxFrameSize(), aTune.FrameMax());
    TkezAMQPNegotiatedValues& values = AMQPNegotiatedValues();
    values.SetHeartBeat(heartBeat);
    values.SetMaxChannels(maxChannels);
    values.SetMaxFrameSize(maxFrameSize);

    WriteMethod<TkezAMQPFramePayload_Method_ConnectionTuneOk>(0, [&](auto& aTuneOk) {
        aTuneOk.SetChannelMax(maxChannels);
        aTuneOk.SetFrameMax(maxFrameSize);
        aTuneOk.SetHeartBeat(heartBeat);
    });
    WriteMethod<TkezAMQPFramePayload_Method_ConnectionOpen>(
        0, [&](auto& aOpen) { aOpen.SetVirtualHost(AMQPOptions().VirtualHost()); });
}

void TkezAMQP_Client::DoConnectionOpenOk(TkezAMQPFramePayload_Method_ConnectionOpenOk& /*aOpenOk*/) {
    OnAMQPConnect.Fire(this);
}

// --- dispatch ---

TkezAMQP::TEntryPtr TkezAMQP_Client::ReplyEntry(const TkezAMQPFrame& aFrame) {
    // Replies are handled on their channel's worker, and a worker serves one entry all its life: the entry it
    // found before is the answer again, without the table's lock, until the channel ends.
    thread_local std::weak_ptr<TkezAMQPChannelThreadItem> cached;
    thread_local const TkezAMQPChannelThreads* cachedTable = nullptr;
    const uint16_t number = aFrame.Header().Channel();
    if (cachedTable == &Channels())
        if (TEntryPtr entry = cached.lock(); entry && entry->Number() == number && !entry->Ended())
            return entry;
    TEntryPtr entry = Channels().GetChannel(number);
    cached = entry;
    cachedTable = &Channels();
    return entry;
}

void TkezAMQP_Client::DoReadFrameMethod(TkezAMQPFrame& aFrame, TkezAMQPFramePayloadType_Method& aMethod) {
    TkezAMQP::DoReadFrameMethod(aFrame, aMethod);
    TkezAMQPFramePayload_Method* arguments = aMethod.Payload();
    if (!arguments) return;
    // Each received method has its own class, so the casts below follow from the method id.
    switch (aMethod.MethodId()) {
#define KEZ_DISPATCH(Method, Handler, Class)                                                                 \
    case Method:                                                                                             \
        Handler(static_cast<Class&>(*arguments));                                                            \
        break;
#define KEZ_DISPATCH_FRAME(Method, Handler, Class)                                                           \
    case Method: Handler(aFrame, static_cast<Class&>(*arguments)); break;
        KEZ_DISPATCH(amqpConnStart, DoConnectionStart, TkezAMQPFramePayload_Method_ConnectionStart)
        KEZ_DISPATCH(amqpConnSecure, DoConnectionSecure, TkezAMQPFramePayload_Method_ConnectionSecure)
        KEZ_DISPATCH(amqpConnTune, DoConnectionTune, TkezAMQPFramePayload_Method_ConnectionTune)
        KEZ_DISPATCH(amqpConnOpenOk, DoConnectionOpenOk, TkezAMQPFramePayload_Method_ConnectionOpenOk)
        KEZ_DISPATCH_FRAME(amqpChannOpenOk, DoChannelOpenOk, TkezAMQPFramePayload_Method_ChannelOpenOk)
        KEZ_DISPATCH_FRAME(amqpExchDeclareOk, DoExchangeDeclareOk,
                           TkezAMQPFramePayload_Method_ExchangeDeclareOk)
        KEZ_DISPATCH_FRAME(amqpExchDeleteOk, DoExchangeDeleteOk, TkezAMQPFramePayload_Method_ExchangeDeleteOk)
        KEZ_DISPATCH_FRAME(amqpQueueDeclareOk, DoQueueDeclareOk, TkezAMQPFramePayload_Method_QueueDeclareOk)
        KEZ_DISPATCH_FRAME(amqpQueueBindOk, DoQueueBindOk, TkezAMQPFramePayload_Method_QueueBindOk)
        KEZ_DISPATCH_FRAME(amqpQueueUnBindOk, DoQueueUnBindOk, TkezAMQPFramePayload_Method_QueueUnBindOk)
        KEZ_DISPATCH_FRAME(amqpQueuePurgeOk, DoQueuePurgeOk, TkezAMQPFramePayload_Method_QueuePurgeOk)
        KEZ_DISPATCH_FRAME(amqpQueueDeleteOk, DoQueueDeleteOk, TkezAMQPFramePayload_Method_QueueDeleteOk)
        KEZ_DISPATCH_FRAME(amqpBasicQosOk, DoBasicQoSOk, TkezAMQPFramePayload_Method_BasicQoSOk)
        KEZ_DISPATCH_FRAME(amqpBasicConsumeOk, DoBasicConsumeOk, TkezAMQPFramePayload_Method_BasicConsumeOk)
        KEZ_DISPATCH_FRAME(amqpBasicCancelOk, DoBasicCancelOk, TkezAMQPFramePayload_Method_BasicCancelOk)
        KEZ_DISPATCH_FRAME(amqpBasicReturn, DoBasicReturn, TkezAMQPFramePayload_Method_BasicReturn)
        KEZ_DISPATCH_FRAME(amqpBasicDeliver, DoBasicDeliver, TkezAMQPFramePayload_Method_BasicDeliver)
        KEZ_DISPATCH_FRAME(amqpBasicGetOk, DoBasicGetOk, TkezAMQPFramePayload_Method_BasicGetOk)
        KEZ_DISPATCH_FRAME(amqpBasicGetEmpty, DoBasicGetEmpty, TkezAMQPFramePayload_Method_BasicGetEmpty)
        KEZ_DISPATCH_FRAME(amqpBasicRecoverOk, DoBasicRecoverOk, TkezAMQPFramePayload_Method_BasicRecoverOk)
        KEZ_DISPATCH_FRAME(amqpTxSelectOk, DoTxSelectOk, TkezAMQPFramePayload_Method_TxSelectOk)
        KEZ_DISPATCH_FRAME(amqpTxCommitOk, DoTxCommitOk, TkezAMQPFramePayload_Method_TxCommitOk)
        KEZ_DISPATCH_FRAME(amqpTxRollbackOk, DoTxRollbackOk, TkezAMQPFramePayload_Method_TxRollbackOk)
#undef KEZ_DISPATCH
#undef KEZ_DISPATCH_FRAME
    default: break;
    }
}

} // namespace kez
