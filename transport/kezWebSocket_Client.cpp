#include "kezWebSocket_Client.h"

#include "kezBase_Format.h"

#include <chrono>
#include <ctime>

namespace kez {

namespace {

// Sets or clears a client's Active on a thread of its own (Start and Stop). It frees itself when done.
class TClientThread : public TkezVoxThread {
public:
    explicit TClientThread(std::function<void()> aBody)
        : TkezVoxThread(false, "Client"), FBody(std::move(aBody)) {}
    ~TClientThread() override { StopAndJoin(); }

protected:
    void Run() override { FBody(); }

private:
    std::function<void()> FBody;
};

// The local time as "yyyymmddhhnnsszzz".
std::string LocalTimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    return text;
}

// Whole seconds between two times, without sign, fractions dropped.
int64_t SecondsBetween(TkezDateTime a, TkezDateTime b) {
    const auto difference = a > b ? a - b : b - a;
    return std::chrono::duration_cast<std::chrono::seconds>(difference).count();
}

} // namespace

TkezWSClient::TkezWSClient() {
    WatchDog().SetInterval(10);
    SetFreeConnectionOnDestroy(NotifyEvents() == neNoSync);
}

TkezWSClient::~TkezWSClient() { ShutdownClient(); }

void TkezWSClient::ShutdownClient() {
    BeginDestroy();
    // Protocol components forget this client first, so that none starts a call into it from here on.
    NotifyRemoval();
    {
        std::lock_guard guard(FConnectionLock);
        if (FTCPClient) FTCPClient->AbortConnect();
    }
    // From here no callback gets in; the ones inside (a read thread delivering, a thread connecting) finish.
    FGate->Close(10000);
    StopAllTimers();
    FreeTransportObjects();
    std::lock_guard guard(FConnectionLock);
    FWSConnection.reset();
    FDelayedConnection.reset();
}

// --- properties ---

TkezWSSpecifications& TkezWSClient::Specifications() {
    FSpecifications.Drafts().SetHixie76(false);
    return FSpecifications;
}

void TkezWSClient::SetNotifyEvents(TwsNotifyEvent aValue) {
    TkezWSComponent::SetNotifyEvents(aValue);
    SetFreeConnectionOnDestroy(aValue == neNoSync);
}

TkezWSConnectionPtr TkezWSClient::Connection() const {
    std::lock_guard guard(FConnectionLock);
    return FWSConnection;
}

void TkezWSClient::SetConnection(TkezWSConnectionPtr aConnection) {
    {
        std::lock_guard guard(FConnectionLock);
        FWSConnection = std::move(aConnection);
    }
    FConnectionChanged.notify_all();
}

bool TkezWSClient::Active() const {
    if (IsLoading()) return FStoredActive;
    return Connection() != nullptr;
}

std::string TkezWSClient::Protocol() const {
    std::string joined;
    const auto add = [&](const std::string& aGuid, std::string_view aName) {
        if (!joined.empty()) joined += ",";
        if (!aGuid.empty()) joined += aGuid + ".";
        joined += aName;
    };
    for (TkezWSProtocolObject* component : ProtocolObjects()) {
        const std::string guid = component->Guid();
        const std::string protocol = component->Protocol();
        size_t start = 0;
        for (;;) {
            const size_t comma = protocol.find(',', start);
            add(guid, std::string_view(protocol).substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    return joined;
}

void TkezWSClient::SetURL(const std::string& aURL) {
    std::string rest = aURL;
    std::string scheme;
    if (const size_t at = rest.find("://"); at != std::string::npos) {
        scheme = LowerCase(rest.substr(0, at));
        rest = rest.substr(at + 3);
    }
    std::string query;
    if (const size_t at = rest.find('?'); at != std::string::npos) {
        query = rest.substr(at + 1);
        rest = rest.substr(0, at);
    }
    std::string path;
    if (const size_t at = rest.find('/'); at != std::string::npos) {
        path = rest.substr(at);
        rest = rest.substr(0, at);
    }
    std::string host = rest;
    std::string port;
    if (!rest.empty() && rest[0] == '[') { // [IPv6]:port
        const size_t close = rest.find(']');
        host = rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        if (close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':')
            port = rest.substr(close + 2);
    } else if (const size_t colon = rest.rfind(':'); colon != std::string::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    SetHost(host);
    const bool secure = scheme == "wss" || scheme == "tcps";
    SetTLS(secure);
    int number = 0;
    try {
        number = port.empty() ? 0 : std::stoi(port);
    } catch (...) {
        number = 0;
    }
    SetPort(number != 0 ? number : secure ? 443 : 80);
    Specifications().SetRFC6455(secure ? scheme != "tcps" : scheme != "tcp");
    Options().SetParameters(query.empty() ? path : path + "?" + query);
}

// --- activation ---

void TkezWSClient::SetActive(bool aValue) {
    if (IsDestroying()) return;
    if (IsLoading()) {
        FStoredActive = aValue;
        return;
    }
    std::lock_guard guard(FCS);
    if (aValue)
        Activate();
    else
        Deactivate();
}

void TkezWSClient::Loaded() {
    if (FStoredActive != Active()) SetActive(FStoredActive);
}

std::shared_ptr<TkezWSCustomClient> TkezWSClient::TCPClient() {
    std::lock_guard guard(FConnectionLock);
    if (FTCPClient) return FTCPClient;
    auto tcp = std::make_shared<TkezWSCustomClient>();
    TkezWSCustomClient* self = tcp.get();
    // Callbacks of an earlier activation's TCP client (a read thread still winding down) are ignored.
    const auto current = [this, self] { return TCPClientIs(self); };
    tcp->OnConnected = [gate = FGate, this, current](TObject*) {
        if (const auto entry = gate->Enter(); entry && current()) DoTCPConnected();
    };
    tcp->OnStatus = [gate = FGate, this, current](TObject*, TkezStatus aStatus) {
        if (const auto entry = gate->Enter(); entry && current()) DoTCPStatus(aStatus);
    };
    tcp->OnThread = [gate = FGate, this, current](TObject*) {
        if (const auto entry = gate->Enter(); entry && current()) DoTCPReadThreadCycle();
    };
    tcp->OnRead = [gate = FGate, this, current](TObject*) {
        if (const auto entry = gate->Enter(); entry && current()) DoTCPRead();
    };
    tcp->OnReadException = [gate = FGate, this, current](TObject*, const std::exception& E) {
        if (const auto entry = gate->Enter(); entry && current()) DoTCPReadException(E);
    };
    FTCPClient = tcp;
    return tcp;
}

bool TkezWSClient::TCPClientIs(const TkezWSCustomClient* aClient) const {
    std::lock_guard guard(FConnectionLock);
    return FTCPClient.get() == aClient;
}

void TkezWSClient::FreeTransportObjects() {
    FreeHeartBeatTimers();
    std::shared_ptr<TkezWSCustomClient> tcp;
    {
        std::lock_guard guard(FConnectionLock);
        tcp = std::move(FTCPClient);
    }
    if (tcp) {
        tcp->StopReadThread(5000);
        tcp->Disconnect(false);
    }
    FTLSHandler.reset();
    FHttpProxy.reset();
    FSocksInfo.reset();
    FPlainIOHandler.reset();
}

void TkezWSClient::Activate() {
    try {
        if (TCPClient()->Connected()) return;
        FreeTransportObjects();
        OnBeforeConnect.Fire(this);
        const std::shared_ptr<TkezWSCustomClient> tcp = TCPClient();
        PrepareTLSHandler();
        if (Specifications().RFC6455())
            throw EkezSocketLayerError(
                "Only raw TCP mode is supported by this client: set Specifications.RFC6455 to false.");
        tcp->SetHost(Host());
        tcp->SetPort(static_cast<uint16_t>(Port()));
        tcp->SetBoundIP(BoundIP());
        tcp->SetBoundPort(BoundPort());
        tcp->SetBoundPortMax(BoundPortMax());
        tcp->SetBoundPortMin(BoundPortMin());
        tcp->SetUseNagle(UseNagle());
        tcp->SetIPVersion(IPVersion());
        tcp->SetConnectTimeout(ConnectTimeout());
        const bool shortReads =
            !Specifications().RFC6455() && ReadTimeout() == -1 && TLSOptions().Version() == tls1_3;
        tcp->SetReadTimeout(shortReads ? 100 : ReadTimeout());
        tcp->SetLingerState(LingerState());
        if (Proxy().Enabled()) InstallProxy();
        SetWatchDogEnabled(WatchDog().Enabled());
        FConnecting.store(true);
        tcp->Connect();
    } catch (const std::exception& e) {
        if (IsDestroying()) return;
        FConnecting.store(false);
        FConnectionChanged.notify_all();
        DoException(Connection(), e.what(), &e);
        if (WatchDogEnabled()) StartWatchDog();
    }
}

void TkezWSClient::DoTCPConnected() {
    FConnecting.store(false);
    if (IsDestroying()) return;
    const std::shared_ptr<TkezWSCustomClient> tcp = TCPClient();
    std::shared_ptr<TkezWSConnectionClient> connection;
    try {
        if (WriteTimeout() > 0) tcp->IOHandler()->SetSendTimeout(WriteTimeout());
        if (TCPKeepAlive().Enabled())
            tcp->IOHandler()->SetKeepAlive(true, TCPKeepAlive().Time(), TCPKeepAlive().Interval());
        connection = std::make_shared<TkezWSConnectionClient>();
        connection->SetSpecification(spRFC6455);
        TkezWSSpecifications& specifications = Specifications();
        connection->SetTransport(specifications.RFC8441()   ? trpRFC8441
                                 : specifications.RFC6455() ? trpRFC6455
                                                            : trpTCP);
        connection->SetMasked(true);
        connection->SetProtocol(Protocol());
        connection->SetHost(tcp->Host());
        connection->SetPort(tcp->Port());
        connection->SetOptions(Options());
        connection->SetValidateUTF8(Options().ValidateUTF8());
        connection->SetCleanDisconnect(Options().CleanDisconnect());
        connection->SetRaiseDisconnectExceptions(Options().RaiseDisconnectExceptions());
        connection->SetFragmentedMessages(Options().FragmentedMessages());
        connection->SetQueueOptions(QueueOptions());
        std::weak_ptr<TkezWSConnection> weak = connection;
        const auto wire = [gate = FGate, this,
                           weak](void (TkezWSClient::*aHandler)(const TkezWSConnectionPtr&)) {
            return [gate, this, weak, aHandler](TObject*) {
                const auto entry = gate->Enter();
                if (!entry) return;
                if (const TkezWSConnectionPtr live = weak.lock()) (this->*aHandler)(live);
            };
        };
        connection->OnBinary = wire(&TkezWSClient::DoConnectionBinary);
        connection->OnMessage = wire(&TkezWSClient::DoConnectionMessage);
        connection->OnEnabled = wire(&TkezWSClient::DoConnectionEnabled);
        connection->OnBeforeDisconnect = wire(&TkezWSClient::DoBeforeDisconnect);
        SetConnection(connection);
        connection->DoInitialize(tcp);
        StartHeartBeat();
    } catch (const std::exception& e) {
        DoError(connection, e.what());
    }
    FConnectionChanged.notify_all();
}

void TkezWSClient::DoConnectionEnabled(const TkezWSConnectionPtr& aConnection) {
    if (!IsDestroying()) DoNotifyConnect(aConnection);
    FConnectionChanged.notify_all();
}

// --- deactivation and disconnects ---

void TkezWSClient::Deactivate() {
    SetWatchDogEnabled(false);
    const TkezWSConnectionPtr connection = Connection();
    if (!connection || FDisconnecting.load()) {
        StopWatchDog();
        return;
    }
    try {
        if (Options().CleanDisconnect()) connection->Close();
        StopTimersAndReadThread();
        // The socket layer reports the status Disconnected, which announces the disconnect before this
        // returns.
        if (const auto tcp = TCPClient()) {
            tcp->IOHandler()->ClearInputBuffer();
            tcp->Disconnect(false);
        }
    } catch (const std::exception& e) {
        DoException(Connection(), e.what(), &e);
    }
}

void TkezWSClient::StopTimersAndReadThread() {
    StopHeartBeatTimeout();
    StopHeartBeat();
    StopReadThread();
}

void TkezWSClient::StopReadThread() {
    if (IsDestroying()) return;
    if (const auto connection = Connection()) connection->SetMustDisconnect(true);
    std::shared_ptr<TkezWSCustomClient> tcp;
    {
        std::lock_guard guard(FConnectionLock);
        tcp = FTCPClient;
    }
    // Never joined from itself, nor while it is inside a callback that may be waiting for this thread: it
    // then ends on its own.
    if (tcp) tcp->StopReadThread(5000);
}

void TkezWSClient::DoBeforeDisconnect(const TkezWSConnectionPtr& /*aConnection*/) {
    if (!IsDestroying()) StopTimersAndReadThread();
}

void TkezWSClient::DoTCPStatus(TkezStatus aStatus) {
    if (aStatus == hsDisconnected && !IsDestroying()) DoTCPDisconnected();
}

void TkezWSClient::DoTCPDisconnected() {
    try {
        std::shared_ptr<TkezWSCustomClient> tcp;
        {
            std::lock_guard guard(FConnectionLock);
            tcp = FTCPClient;
        }
        if (tcp && tcp->Connected()) tcp->Disconnect(false);
        DoNotifyDisconnect(Connection());
    } catch (const std::exception& e) {
        DoError(Connection(), e.what());
    }
}

void TkezWSClient::DoNotifyDisconnect(const TkezWSConnectionPtr& aConnection) {
    if (!aConnection) return;
    {
        // Only the current connection is announced, and only once: a second announcement finds it gone.
        std::lock_guard guard(FConnectionLock);
        if (FWSConnection != aConnection) return;
        FWSConnection.reset();
    }
    FConnectionChanged.notify_all();
    FDisconnecting.store(true);
    try {
        TkezWSComponent::DoNotifyDisconnect(aConnection);
    } catch (...) {
        FDisconnecting.store(false);
        throw;
    }
    FDisconnecting.store(false);
}

void TkezWSClient::DoConnectEvent(const TkezWSConnectionPtr& aConnection) {
    StopWatchDog();
    SetWatchDogAttempts(0);
    TkezWSComponent::DoConnectEvent(aConnection);
}

void TkezWSClient::DoDisconnectEvent(const TkezWSConnectionPtr& aConnection, int aCode) {
    if (IsDestroying()) return;
    StopHeartBeatTimeout();
    StopHeartBeat();
    OnDisconnect.Fire(aConnection, aCode);
    if (WatchDogEnabled()) StartWatchDog();
}

void TkezWSClient::FreeConnection(const TkezWSConnectionPtr& aConnection) {
    if (!aConnection) return;
    if (!FreeConnectionOnDestroy()) return TkezWSComponent::FreeConnection(aConnection);
    HoldDelayedConnection(aConnection);
}

void TkezWSClient::HoldDelayedConnection(const TkezWSConnectionPtr& aConnection) {
    aConnection->SetFreed();
    TkezWSConnectionPtr previous; // released after the lock
    std::lock_guard guard(FConnectionLock);
    previous = std::exchange(FDelayedConnection, aConnection);
}

// --- reading ---

void TkezWSClient::DoTCPRead() {
    if (IsDestroying()) return;
    const TkezWSConnectionPtr connection = Connection();
    if (!connection || connection->Disconnected()) return;
    FReadingThread.store(true);
    try {
        connection->DoReadData();
    } catch (const std::exception& e) {
        DoException(connection, e.what(), &e);
    }
    FReadingThread.store(false);
}

void TkezWSClient::DoConnectionBinary(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying()) return;
    try {
        DoNotifyBinary(aConnection);
    } catch (const std::exception& e) {
        DoError(aConnection, e.what());
    }
}

void TkezWSClient::DoConnectionMessage(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying()) return;
    try {
        DoNotifyMessage(aConnection);
    } catch (const std::exception& e) {
        DoError(aConnection, e.what());
    }
}

void TkezWSClient::DoTCPReadException(const std::exception& E) {
    if (IsDestroying()) return;
    const bool silent = dynamic_cast<const EkezSilentException*>(&E) != nullptr;
    if (!silent || Options().RaiseDisconnectExceptions()) DoException(Connection(), E.what(), &E);
    const TkezWSConnectionPtr connection = Connection();
    if (!connection) return;
    if (const auto tcp = TCPClient()) {
        const std::shared_ptr<TkezIOHandlerSocket> handler = tcp->IOHandler();
        handler->ClearInputBuffer();
        // A TLS session that failed is not read again.
        if (TLS() && handler->Opened() && dynamic_cast<TkezSSLIOHandlerSocketOpenSSL*>(handler.get()))
            handler->Close();
    }
    if (dynamic_cast<const EkezClosedSocket*>(&E) == nullptr) DoNotifyDisconnect(connection);
}

// --- waiting, starting, stopping ---

void TkezWSClient::WaitConnectionChange(const std::function<bool()>& aDone, int aTimeoutMs) {
    const auto deadline = TkezClock::now() + std::chrono::milliseconds(aTimeoutMs);
    std::unique_lock lock(FConnectionLock);
    while (TkezClock::now() < deadline) {
        lock.unlock();
        if (aDone()) return;
        lock.lock();
        // Looked at again at least every 10 ms: some of what aDone reads changes without a notification.
        FConnectionChanged.wait_for(lock, std::chrono::milliseconds(10));
    }
}

bool TkezWSClient::Connect(int aTimeout) {
    SetActive(true);
    if (aTimeout <= 0 || (!FConnecting.load() && !Connection())) return false;
    bool result = false;
    WaitConnectionChange(
        [&] {
            const TkezWSConnectionPtr connection = Connection();
            if (connection && connection->Enabled()) return result = true;
            return !FConnecting.load() && !connection;
        },
        aTimeout);
    return result;
}

bool TkezWSClient::Disconnect(int aTimeout) {
    SetActive(false);
    if (aTimeout <= 0) return false;
    bool result = false;
    WaitConnectionChange([&] { return result = !Connection(); }, aTimeout);
    return result;
}

bool TkezWSClient::Connected() { return TCPClient()->Connected(); }

void TkezWSClient::StartClientThread(bool aActive) {
    if (IsDestroying()) return;
    auto thread = std::make_shared<TClientThread>([gate = FGate, this, aActive] {
        const auto entry = gate->Enter();
        if (!entry) return;
        std::lock_guard guard(FCS);
        SetActive(aActive);
    });
    thread->Start();
    thread->SetFreeOnTerminate(true);
}

void TkezWSClient::Start() {
    if (IsDestroying()) return;
    FThreadStart.store(true);
    StartClientThread(true);
}

void TkezWSClient::Stop() { StartClientThread(false); }

// --- writing and pinging ---

template <typename TWrite>
void TkezWSClient::WriteThrough(const TWrite& aWrite) {
    const TkezWSConnectionPtr connection = Connection();
    if (!connection) return;
    try {
        aWrite(*connection);
    } catch (const std::exception& e) {
        DoError(connection, e.what());
    }
}

void TkezWSClient::WriteData(const std::string& aText, int64_t aSize, TwsStreaming aStreaming) {
    WriteThrough([&](TkezWSConnection& aConnection) { aConnection.WriteData(aText, aSize, aStreaming); });
}

void TkezWSClient::WriteData(TStream& aStream, int64_t aSize, TwsStreaming aStreaming) {
    WriteThrough([&](TkezWSConnection& aConnection) { aConnection.WriteData(aStream, aSize, aStreaming); });
}

void TkezWSClient::WriteData(TBytesView aBytes) {
    WriteThrough([&](TkezWSConnection& aConnection) { aConnection.WriteData(aBytes); });
}

void TkezWSClient::WriteData(TBytesPieces aPieces) {
    WriteThrough([&](TkezWSConnection& aConnection) { aConnection.WriteData(aPieces); });
}

std::string TkezWSClient::WriteAndWaitData(const std::string& aText, int aTimeout) {
    const TkezWSConnectionPtr connection = Connection();
    if (!connection) return {};
    try {
        connection->SetMsgReceived({});
        connection->WriteData(aText);
        if (aTimeout <= 0) return {};
        connection->WaitForChange([&] { return !connection->MsgReceived().empty(); }, aTimeout);
        return connection->MsgReceived();
    } catch (const std::exception& e) {
        DoError(connection, e.what());
        return {};
    }
}

void TkezWSClient::DoPing(const std::string& aText) {
    const TkezWSConnectionPtr connection = Connection();
    if (!connection) return;
    connection->Ping(aText.empty() ? LocalTimeStamp() : aText);
}

void TkezWSClient::Ping(const std::string& aText) {
    const TkezWSConnectionPtr connection = Connection();
    if (!connection) return;
    try {
        DoPing(aText);
    } catch (const std::exception& e) {
        DoError(connection, e.what());
    }
}

bool TkezWSClient::Ping(int aTimeout, const std::string& aText) {
    const TkezWSConnectionPtr connection = Connection();
    if (!connection) return false;
    try {
        const std::string text = aText.empty() ? LocalTimeStamp() : aText;
        connection->Ping(text);
        if (aTimeout <= 0) return false;
        // Raw TCP mode records no pong, so this waits out its time.
        return connection->WaitForChange([&] { return connection->Pong() == text; }, aTimeout);
    } catch (const std::exception& e) {
        DoError(connection, e.what());
        return false;
    }
}

// --- protocol components ---

void TkezWSClient::RegisterProtocol(TkezWSProtocolObject* aObject) { DoRegisterProtocol(aObject); }
void TkezWSClient::UnRegisterProtocol(TkezWSProtocolObject* aObject) { DoUnRegisterProtocol(aObject); }

// --- heartbeat, time-out and watchdog ---

void TkezWSClient::DoHeartBeatTimer() {
    if (IsDestroying()) return;
    const TkezWSConnectionPtr connection = Connection();
    if (!connection || connection->Disconnected()) return;
    try {
        bool handled = false;
        OnBeforeHeartBeat.Fire(this, connection, handled);
        if (handled) return;
        if (!DoProtocolHeartBeat()) DoPing({});
        StartHeartBeatTimeout();
    } catch (const std::exception& e) {
        DoException(connection, e.what(), &e);
    }
}

void TkezWSClient::DoHeartBeatTimeoutTimer() {
    if (IsDestroying()) return;
    const TkezWSConnectionPtr connection = Connection();
    if (!connection) return;
    const int timeout = HeartBeat().Timeout();
    const int interval = HeartBeat().Interval();
    const auto now = std::chrono::system_clock::now();
    // The last ping was answered in time.
    if (SecondsBetween(connection->LastPing(), connection->LastPong()) < timeout) {
        connection->SetFirstPing({});
        return;
    }
    bool exceeded = false;
    if (interval >= timeout && SecondsBetween(connection->LastPing(), now) >= timeout) exceeded = true;
    if (!exceeded && timeout < interval) return;
    if (!exceeded && SecondsBetween(connection->FirstPing(), now) >= timeout) exceeded = true;
    if (!exceeded) return;
    StopHeartBeatTimeout();
    DoException(connection, "HeartBeat Timeout exceeded.", nullptr);
}

void TkezWSClient::DoWatchDogTimer() {
    if (IsDestroying() || FConnecting.load()) return;
    const int attempts = WatchDog().Attempts();
    if (attempts > 0 && WatchDogAttempts() >= attempts) return;
    bool handled = false;
    OnBeforeWatchDog.Fire(this, handled);
    if (!handled) {
        if (NotifyEvents() == neNoSync || FThreadStart.load()) {
            if (!Connection()) Start();
        } else if (!Active()) {
            MainThreadPost([gate = FGate, this] {
                const auto entry = gate->Enter();
                if (!entry) return;
                try {
                    SetActive(true);
                } catch (const std::exception& e) {
                    DoException(Connection(), e.what(), &e);
                }
            });
        }
    }
    if (attempts >= 1) {
        const int counted = WatchDogAttempts() + 1;
        SetWatchDogAttempts(counted);
        if (counted >= attempts) StopWatchDog();
    }
}

} // namespace kez
