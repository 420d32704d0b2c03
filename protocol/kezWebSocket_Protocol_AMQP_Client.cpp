#include "kezWebSocket_Protocol_AMQP_Client.h"

#include <random>

namespace kez {

namespace {

struct TSharedMessage : TkezWSAMQPMessage {};

std::string NewMessageId() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string id;
    for (int part = 0; part < 2; ++part) {
        uint64_t value = random();
        for (int i = 0; i < 16; ++i, value >>= 4)
            id.push_back(Digits[value & 15]);
    }
    return id;
}

int64_t Now() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

int64_t WholeSecondsBetween(int64_t a, int64_t b) {
    const auto difference = std::chrono::steady_clock::duration(a > b ? a - b : b - a);
    return std::chrono::duration_cast<std::chrono::seconds>(difference).count();
}

} // namespace

std::shared_ptr<TkezWSAMQPMessage> TkezWSAMQPMessage::Create() { return std::make_shared<TSharedMessage>(); }

TkezWSProtocol_AMQP_Client_Base::TkezWSProtocol_AMQP_Client_Base() : FWSMessageId(NewMessageId()) {
    SetProtocol("amqp");
    SetMsgType(msgBinary);
}

TkezWSProtocol_AMQP_Client_Base::~TkezWSProtocol_AMQP_Client_Base() { ShutdownProtocol(); }

// --- options ---

TkezWSAMQP_Options TkezWSProtocol_AMQP_Client_Base::AMQPOptions() const {
    std::lock_guard guard(FLock);
    return FAMQPOptions;
}
void TkezWSProtocol_AMQP_Client_Base::SetAMQPOptions(const TkezWSAMQP_Options& aValue) {
    std::lock_guard guard(FLock);
    FAMQPOptions.Assign(aValue);
}
TkezWSAMQPHeartBeat_Options TkezWSProtocol_AMQP_Client_Base::HeartBeat() const {
    std::lock_guard guard(FLock);
    return FHeartBeat;
}
void TkezWSProtocol_AMQP_Client_Base::SetHeartBeat(const TkezWSAMQPHeartBeat_Options& aValue) {
    std::lock_guard guard(FLock);
    FHeartBeat.Assign(aValue);
}
TkezWSAMQPAuthentication_Options TkezWSProtocol_AMQP_Client_Base::Authentication() const {
    std::lock_guard guard(FLock);
    return FAuthentication;
}
void TkezWSProtocol_AMQP_Client_Base::SetAuthentication(const TkezWSAMQPAuthentication_Options& aValue) {
    std::lock_guard guard(FLock);
    FAuthentication.Assign(aValue);
}

TkezAMQPChannelThreads& TkezWSProtocol_AMQP_Client_Base::Channels() { return GetWSMessage()->Channels(); }

// --- engines ---

TkezWSConnectionPtr TkezWSProtocol_AMQP_Client_Base::CurrentConnection() const {
    std::lock_guard guard(FLock);
    return FWSConnection;
}

std::shared_ptr<TkezWSAMQPMessage> TkezWSProtocol_AMQP_Client_Base::GetWSMessage() {
    if (const TkezWSConnectionPtr connection = CurrentConnection()) {
        if (auto engine = GetConnectionWSMessage(connection)) return engine;
    }
    std::shared_ptr<TkezWSAMQPMessage> engine;
    {
        std::lock_guard guard(FLock);
        if (FWSMessage) return FWSMessage;
        engine = TkezWSAMQPMessage::Create();
        FWSMessage = engine;
    }
    InitializeWSMessage(*engine);
    return engine;
}

std::shared_ptr<TkezWSAMQPMessage>
TkezWSProtocol_AMQP_Client_Base::GetConnectionWSMessage(const TkezWSConnectionPtr& aConnection,
                                                        bool aCreate) {
    if (!aConnection) return nullptr;
    // Under the connection's protocol-data lock, so that two threads never make two engines for it.
    auto& data = aConnection->ProtocolData();
    std::vector<std::shared_ptr<TkezQueueItemBase>>& items = data.LockList();
    std::shared_ptr<TkezWSAMQPMessage> engine;
    try {
        if (auto item = GetProtocolItem(aConnection, FWSMessageId))
            engine = std::static_pointer_cast<TkezWSAMQPMessage>(item->WSMessage);
        else if (aCreate) {
            engine = TkezWSAMQPMessage::Create();
            InitializeWSMessage(*engine);
            auto item = std::make_shared<TkezQueueItemProtocolMessage>();
            item->WSMessage = engine;
            SetProtocolItem(aConnection, FWSMessageId, std::move(item));
        }
    } catch (...) {
        data.UnlockList();
        throw;
    }
    (void)items;
    data.UnlockList();
    return engine;
}

void TkezWSProtocol_AMQP_Client_Base::InitializeWSMessage(TkezWSAMQPMessage& aEngine) {
    // Each engine event enters this component through its gate: a component that is going is not called.
#define KEZ_REPLAY(Event)                                                                                    \
    aEngine.Event = [gate = FGate, this](TObject*, auto&&... aArgs) {                                        \
        if (const auto entry = gate->Enter()) Raise(Event, aArgs...);                                        \
    };
    KEZ_REPLAY(OnAMQPAuthentication)
    KEZ_REPLAY(OnAMQPChallenge)
    KEZ_REPLAY(OnAMQPHeartBeat)
    KEZ_REPLAY(OnAMQPChannelOpen)
    KEZ_REPLAY(OnAMQPChannelClose)
    KEZ_REPLAY(OnAMQPChannelFlow)
    KEZ_REPLAY(OnAMQPExchangeDeclare)
    KEZ_REPLAY(OnAMQPExchangeDelete)
    KEZ_REPLAY(OnAMQPQueueDeclare)
    KEZ_REPLAY(OnAMQPQueueBind)
    KEZ_REPLAY(OnAMQPQueueUnBind)
    KEZ_REPLAY(OnAMQPQueuePurge)
    KEZ_REPLAY(OnAMQPQueueDelete)
    KEZ_REPLAY(OnAMQPBasicQoS)
    KEZ_REPLAY(OnAMQPBasicConsume)
    KEZ_REPLAY(OnAMQPBasicCancelConsume)
    KEZ_REPLAY(OnAMQPBasicReturn)
    KEZ_REPLAY(OnAMQPBasicDeliver)
    KEZ_REPLAY(OnAMQPBasicGetOk)
    KEZ_REPLAY(OnAMQPBasicGetEmpty)
    KEZ_REPLAY(OnAMQPBasicRecoverOk)
    KEZ_REPLAY(OnAMQPTransactionOk)
#undef KEZ_REPLAY
    aEngine.OnAMQPConnect = [gate = FGate, this](TObject*) {
        if (const auto entry = gate->Enter()) OnAMQPConnectEvent();
    };
    aEngine.OnAMQPDisconnect =
        [gate = FGate, this](TObject*, const TkezAMQPFramePayload_Method_ConnectionClose& aClose, bool aAck) {
            if (const auto entry = gate->Enter()) OnAMQPDisconnectEvent(aClose, aAck);
        };
    aEngine.OnAMQPException = [gate = FGate, this](TObject*, const std::exception& E) {
        if (const auto entry = gate->Enter()) OnAMQPExceptionEvent(E);
    };
    aEngine.OnAMQPWriteBytes = [gate = FGate, this](TObject*, const TBytes& aBytes) {
        if (const auto entry = gate->Enter()) DoSendBytes(aBytes);
    };
    aEngine.OnAMQPWritePieces = [gate = FGate, this](TObject*, TBytesPieces aPieces) {
        if (const auto entry = gate->Enter()) DoSendPieces(aPieces);
    };

    const TkezWSAMQPHeartBeat_Options heartBeat = HeartBeat();
    TkezAMQPHeartBeat engineHeartBeat;
    engineHeartBeat.SetEnabled(heartBeat.Enabled());
    engineHeartBeat.SetInterval(heartBeat.Interval());
    aEngine.SetHeartBeat(engineHeartBeat);
    const TkezWSAMQP_Options options = AMQPOptions();
    TkezAMQPOptions engineOptions;
    engineOptions.SetVirtualHost(options.VirtualHost());
    engineOptions.SetLocale(options.Locale());
    engineOptions.SetMaxChannels(options.MaxChannels());
    engineOptions.SetMaxFrameSize(options.MaxFrameSize());
    aEngine.SetAMQPOptions(engineOptions);
}

// --- the connection's life ---

void TkezWSProtocol_AMQP_Client_Base::DoConnectEvent(const TkezWSConnectionPtr& aConnection) {
    TkezWSProtocol_Client_Base::DoConnectEvent(aConnection);
    {
        std::lock_guard guard(FLock);
        FWSConnection = aConnection;
    }
    FFirstPing = 0;
    FLastPing = 0;
    FLastFrame = 0;
    DoAMQPConnect(aConnection);
}

void TkezWSProtocol_AMQP_Client_Base::DoAMQPConnect(const TkezWSConnectionPtr& aConnection) {
    if (const auto engine = GetConnectionWSMessage(aConnection)) engine->Connect();
}

void TkezWSProtocol_AMQP_Client_Base::DoNotifyBinary(const TkezWSConnectionPtr& aConnection) {
    // Received AMQP data goes to the engine on the reading thread, whatever NotifyEvents holds; the generic
    // binary event of the base is never raised by this component, so no copy of the block is queued for it.
    FLastFrame = Now();
    if (!aConnection) return;
    if (const auto engine = GetConnectionWSMessage(aConnection))
        engine->Read(TBytesView(aConnection->MsgBinaryReceived().Bytes()));
}

void TkezWSProtocol_AMQP_Client_Base::DoNotifyDisconnect(const TkezWSConnectionPtr& aConnection) {
    if (const auto engine = GetConnectionWSMessage(aConnection, false)) {
        // A broker that refuses (an unknown virtual host) sends its Connection.Close and closes the socket at
        // once: both may come in one read. The close already received is handled first, so that its reason
        // is reported before the socket's close. Bounded: a worker held up elsewhere does not hold this up.
        if (const auto connection = engine->Channels().GetChannel(uint16_t{0}))
            connection->WaitDrained(TkezClock::now() + std::chrono::seconds(1));
        // The engine is marked down on the thread that saw the close, so that no wait outlives it.
        engine->Disconnect();
    }
    TkezWSProtocol_Client_Base::DoNotifyDisconnect(aConnection);
}

void TkezWSProtocol_AMQP_Client_Base::DoDisconnectEvent(const TkezWSConnectionPtr& aConnection, int aCode) {
    if (const auto engine = GetConnectionWSMessage(aConnection, false)) engine->Clear();
    DoAMQPDisconnect(aCode);
    TkezWSProtocol_Client_Base::DoDisconnectEvent(aConnection, aCode);
    std::lock_guard guard(FLock);
    if (FWSConnection == aConnection) FWSConnection.reset();
}

void TkezWSProtocol_AMQP_Client_Base::DoAMQPDisconnect(int aCode) {
    if (!OnAMQPDisconnect) return;
    TkezAMQPFramePayload_Method_ConnectionClose close;
    close.SetReplyCode(static_cast<uint16_t>(aCode));
    Raise(OnAMQPDisconnect, close, false);
}

// --- the engine's own events ---

void TkezWSProtocol_AMQP_Client_Base::DoSendBytes(const TBytes& aBytes) {
    // No stream around the block: the client writes the octets as they are.
    WithClient([&](TkezWSClient& aClient) { aClient.WriteData(TBytesView(aBytes)); });
}

void TkezWSProtocol_AMQP_Client_Base::DoSendPieces(TBytesPieces aPieces) {
    WithClient([&](TkezWSClient& aClient) { aClient.WriteData(aPieces); });
}

void TkezWSProtocol_AMQP_Client_Base::OnAMQPConnectEvent() {
    const auto engine = GetWSMessage();
    WithClient([&](TkezWSClient& aClient) {
        // The negotiated interval rules the client's heartbeat from now on.
        const uint16_t negotiated = engine->AMQPNegotiatedValues().HeartBeat();
        TkezWSHeartBeat_Options heartBeat = aClient.HeartBeat();
        heartBeat.SetEnabled(negotiated > 0);
        heartBeat.SetInterval(negotiated);
        heartBeat.SetTimeout(0);
        aClient.SetHeartBeat(heartBeat);
        if (engine->HeartBeat().Enabled())
            aClient.StartHeartBeat();
        else
            aClient.StopHeartBeat();
    });
    Raise(OnAMQPConnect);
}

void TkezWSProtocol_AMQP_Client_Base::OnAMQPDisconnectEvent(
    const TkezAMQPFramePayload_Method_ConnectionClose& aClose, bool aAck) {
    // The AMQP reason first, then the socket close it causes: the application reads why before it reads
    // that the line went down.
    Raise(OnAMQPDisconnect, aClose, aAck);
    WithClient([](TkezWSClient& aClient) {
        if (aClient.Active()) aClient.SetActive(false);
    });
}

void TkezWSProtocol_AMQP_Client_Base::OnAMQPExceptionEvent(const std::exception& E) {
    DoAMQPException(E);
    WithClient([](TkezWSClient& aClient) {
        if (aClient.Active()) aClient.SetActive(false);
    });
}

void TkezWSProtocol_AMQP_Client_Base::DoAMQPException(const std::exception& E) {
    if (!OnAMQPException) return;
    try {
        OnAMQPException(this, E);
    } catch (...) {
        // Nothing is left to report a failing exception handler to.
    }
}

// --- heartbeat ---

bool TkezWSProtocol_AMQP_Client_Base::DoHeartBeat() {
    const TkezWSAMQPHeartBeat_Options options = HeartBeat();
    if (!options.Enabled()) return false;
    const int64_t timeout = options.Timeout();
    const int64_t interval = options.Interval();
    if (timeout > 0) {
        const int64_t lastFrame = FLastFrame, lastPing = FLastPing, now = Now();
        if (lastFrame >= lastPing || WholeSecondsBetween(lastPing, lastFrame) < timeout) {
            FFirstPing = 0; // the broker spoke since the last heartbeat
        } else if ((interval >= timeout && WholeSecondsBetween(lastPing, now) >= timeout) ||
                   (timeout >= interval && WholeSecondsBetween(FFirstPing, now) >= timeout)) {
            throw std::runtime_error("HeartBeat Timeout exceeded.");
        }
    }
    GetWSMessage()->Ping();
    const int64_t now = Now();
    if (FFirstPing == 0) FFirstPing = now;
    FLastPing = now;
    return true;
}

// --- operations ---

void TkezWSProtocol_AMQP_Client_Base::Close() { GetWSMessage()->Close(0, {}, amqpClassNone, amqpMethodNone); }
void TkezWSProtocol_AMQP_Client_Base::Close(uint16_t aReplyCode, const std::string& aReplyText,
                                            TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId) {
    GetWSMessage()->Close(aReplyCode, aReplyText, aFailClassId, aFailMethodId);
}
bool TkezWSProtocol_AMQP_Client_Base::CloseEx(uint16_t aReplyCode, const std::string& aReplyText,
                                              TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId) {
    return GetWSMessage()->CloseEx(aReplyCode, aReplyText, aFailClassId, aFailMethodId, 10000);
}

#define KEZ_FORWARD(Result, Name, Parameters, Arguments)                                                     \
    Result TkezWSProtocol_AMQP_Client_Base::Name Parameters { return GetWSMessage()->Name Arguments; }

using TText = const std::string&;
KEZ_FORWARD(void, OpenChannel, (TText aChannel), (aChannel))
KEZ_FORWARD(bool, OpenChannelEx, (TText aChannel, int32_t aTimeout), (aChannel, aTimeout))
KEZ_FORWARD(void, CloseChannel,
            (TText aChannel, uint16_t aCode, TText aText, TkezAMQPClass aClass, TkezAMQPMethod aMethod),
            (aChannel, aCode, aText, aClass, aMethod))
KEZ_FORWARD(bool, CloseChannelEx,
            (TText aChannel, uint16_t aCode, TText aText, TkezAMQPClass aClass, TkezAMQPMethod aMethod,
             int32_t aTimeout),
            (aChannel, aCode, aText, aClass, aMethod, aTimeout))
KEZ_FORWARD(void, EnableChannel, (TText aChannel), (aChannel))
KEZ_FORWARD(bool, EnableChannelEx, (TText aChannel, int32_t aTimeout), (aChannel, aTimeout))
KEZ_FORWARD(void, DisableChannel, (TText aChannel), (aChannel))
KEZ_FORWARD(bool, DisableChannelEx, (TText aChannel, int32_t aTimeout), (aChannel, aTimeout))
KEZ_FORWARD(void, DeclareExchange,
            (TText c, TText x, TText t, bool aPassive, bool aDurable, bool aAutoDelete, bool aInternal,
             bool aNoWait, TText aArguments),
            (c, x, t, aPassive, aDurable, aAutoDelete, aInternal, aNoWait, aArguments))
KEZ_FORWARD(bool, DeclareExchangeEx,
            (TText c, TText x, TText t, bool aPassive, bool aDurable, bool aAutoDelete, bool aInternal,
             bool aNoWait, int32_t aTimeout, TText aArguments),
            (c, x, t, aPassive, aDurable, aAutoDelete, aInternal, aNoWait, aTimeout, aArguments))
KEZ_FORWARD(void, DeleteExchange, (TText c, TText x, bool aIfUnused, bool aNoWait),
            (c, x, aIfUnused, aNoWait))
KEZ_FORWARD(bool, DeleteExchangeEx, (TText c, TText x, bool aIfUnused, bool aNoWait, int32_t aTimeout),
            (c, x, aIfUnused, aNoWait, aTimeout))
KEZ_FORWARD(void, DeclareQueue,
            (TText c, TText q, bool aPassive, bool aDurable, bool aExclusive, bool aAutoDelete, bool aNoWait,
             TText aArguments),
            (c, q, aPassive, aDurable, aExclusive, aAutoDelete, aNoWait, aArguments))
KEZ_FORWARD(bool, DeclareQueueEx,
            (TText c, TText q, bool aPassive, bool aDurable, bool aExclusive, bool aAutoDelete, bool aNoWait,
             int32_t aTimeout, TText aArguments),
            (c, q, aPassive, aDurable, aExclusive, aAutoDelete, aNoWait, aTimeout, aArguments))
KEZ_FORWARD(void, BindQueue, (TText c, TText q, TText x, TText k, bool aNoWait, TText aArguments),
            (c, q, x, k, aNoWait, aArguments))
KEZ_FORWARD(bool, BindQueueEx,
            (TText c, TText q, TText x, TText k, bool aNoWait, int32_t aTimeout, TText aArguments),
            (c, q, x, k, aNoWait, aTimeout, aArguments))
KEZ_FORWARD(void, UnBindQueue, (TText c, TText q, TText x, TText k, TText aArguments),
            (c, q, x, k, aArguments))
KEZ_FORWARD(bool, UnBindQueueEx, (TText c, TText q, TText x, TText k, int32_t aTimeout, TText aArguments),
            (c, q, x, k, aTimeout, aArguments))
KEZ_FORWARD(void, PurgeQueue, (TText c, TText q, bool aNoWait), (c, q, aNoWait))
KEZ_FORWARD(bool, PurgeQueueEx, (TText c, TText q, bool aNoWait, int32_t aTimeout), (c, q, aNoWait, aTimeout))
KEZ_FORWARD(void, DeleteQueue, (TText c, TText q, bool aIfUnused, bool aIfEmpty, bool aNoWait),
            (c, q, aIfUnused, aIfEmpty, aNoWait))
KEZ_FORWARD(bool, DeleteQueueEx,
            (TText c, TText q, bool aIfUnused, bool aIfEmpty, bool aNoWait, int32_t aTimeout),
            (c, q, aIfUnused, aIfEmpty, aNoWait, aTimeout))
KEZ_FORWARD(void, SetQoS, (TText c, uint32_t aSize, uint16_t aCount, bool aGlobal),
            (c, aSize, aCount, aGlobal))
KEZ_FORWARD(bool, SetQoSEx, (TText c, uint32_t aSize, uint16_t aCount, bool aGlobal, int32_t aTimeout),
            (c, aSize, aCount, aGlobal, aTimeout))
KEZ_FORWARD(void, Consume,
            (TText c, TText q, TText aTag, bool aNoLocal, bool aNoAck, bool aExclusive, bool aNoWait,
             TText aArguments),
            (c, q, aTag, aNoLocal, aNoAck, aExclusive, aNoWait, aArguments))
KEZ_FORWARD(bool, ConsumeEx,
            (TText c, TText q, TText aTag, bool aNoLocal, bool aNoAck, bool aExclusive, int32_t aTimeout,
             TText aArguments),
            (c, q, aTag, aNoLocal, aNoAck, aExclusive, aTimeout, aArguments))
KEZ_FORWARD(void, CancelConsume, (TText c, TText aTag, bool aNoWait), (c, aTag, aNoWait))
KEZ_FORWARD(bool, CancelConsumeEx, (TText c, TText aTag, int32_t aTimeout), (c, aTag, aTimeout))
KEZ_FORWARD(void, PublishMessage,
            (TText c, TText x, TText k, const TkezAMQPBasicProperties* aHeader, TStream& aMessage,
             bool aMandatory, bool aImmediate),
            (c, x, k, aHeader, aMessage, aMandatory, aImmediate))
KEZ_FORWARD(void, PublishMessage,
            (TText c, TText x, TText k, const TkezAMQPBasicProperties* aHeader, TText aMessage,
             bool aMandatory, bool aImmediate),
            (c, x, k, aHeader, aMessage, aMandatory, aImmediate))
KEZ_FORWARD(void, PublishMessage,
            (TText c, TText x, TText k, TText aMessage, bool aMandatory, bool aImmediate),
            (c, x, k, aMessage, aMandatory, aImmediate))
KEZ_FORWARD(void, PublishMessage,
            (TText c, TText x, TText k, TStream& aMessage, bool aMandatory, bool aImmediate),
            (c, x, k, aMessage, aMandatory, aImmediate))
KEZ_FORWARD(void, GetMessage, (TText c, TText q, bool aNoAck), (c, q, aNoAck))
KEZ_FORWARD(bool, GetMessageEx, (TText c, TText q, int32_t aTimeout), (c, q, aTimeout))
KEZ_FORWARD(void, AckMessage, (TText c, uint64_t aTag, bool aMultiple), (c, aTag, aMultiple))
KEZ_FORWARD(void, RejectMessage, (TText c, uint64_t aTag, bool aRequeue), (c, aTag, aRequeue))
KEZ_FORWARD(void, Recover, (TText c, bool aRequeue), (c, aRequeue))
KEZ_FORWARD(bool, RecoverEx, (TText c, bool aRequeue, int32_t aTimeout), (c, aRequeue, aTimeout))
KEZ_FORWARD(void, RecoverAsync, (TText c, bool aRequeue), (c, aRequeue))
KEZ_FORWARD(void, SelectTransaction, (TText c), (c))
KEZ_FORWARD(bool, SelectTransactionEx, (TText c, int32_t aTimeout), (c, aTimeout))
KEZ_FORWARD(void, CommitTransaction, (TText c), (c))
KEZ_FORWARD(bool, CommitTransactionEx, (TText c, int32_t aTimeout), (c, aTimeout))
KEZ_FORWARD(void, RollbackTransaction, (TText c), (c))
KEZ_FORWARD(bool, RollbackTransactionEx, (TText c, int32_t aTimeout), (c, aTimeout))
#undef KEZ_FORWARD

} // namespace kez
