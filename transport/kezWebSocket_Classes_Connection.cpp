#include "kezWebSocket_Classes_Connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>

namespace kez {

namespace {

struct TAddress {
    std::string IP;
    uint16_t Port = 0;
    TkezIPVersion Version = ipv4;
};

TAddress AddressOf(int aSocket, bool aPeer) {
    sockaddr_storage storage{};
    socklen_t size = sizeof storage;
    auto* address = reinterpret_cast<sockaddr*>(&storage);
    if (aSocket < 0 ||
        (aPeer ? ::getpeername(aSocket, address, &size) : ::getsockname(aSocket, address, &size)) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        return {text, ntohs(in6->sin6_port), ipv6};
    }
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&storage);
    ::inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text);
    return {text, ntohs(in4->sin_port), ipv4};
}

std::string NewGuid() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string guid;
    for (int part = 0; part < 2; ++part) {
        uint64_t value = random();
        for (int i = 0; i < 16; ++i, value >>= 4)
            guid.push_back(Digits[value & 15]);
    }
    return guid;
}

bool EndsWith(const TBytes& aBytes, const TBytes& aSuffix) {
    return !aSuffix.empty() && aBytes.size() >= aSuffix.size() &&
           std::equal(aSuffix.begin(), aSuffix.end(),
                      aBytes.end() - static_cast<std::ptrdiff_t>(aSuffix.size()));
}

} // namespace

TkezWSConnection::TkezWSConnection() = default;
TkezWSConnection::~TkezWSConnection() = default;

// --- identity ---

std::string TkezWSConnection::Guid() {
    std::lock_guard guard(FFieldLock);
    if (FGuid.empty()) FGuid = NewGuid();
    return FGuid;
}

std::string TkezWSConnection::IP() const {
    std::lock_guard guard(FFieldLock);
    return FIP;
}
uint16_t TkezWSConnection::PeerPort() const {
    std::lock_guard guard(FFieldLock);
    return FPeerPort;
}
std::string TkezWSConnection::LocalIP() const {
    std::lock_guard guard(FFieldLock);
    return FLocalIP;
}
uint16_t TkezWSConnection::LocalPort() const {
    std::lock_guard guard(FFieldLock);
    return FLocalPort;
}
TkezIPVersion TkezWSConnection::IPVersion() const {
    std::lock_guard guard(FFieldLock);
    return FIPVersion;
}

// --- reported texts ---

#define KEZ_GUARDED_FIELD(Type, Name)                                                                        \
    Type TkezWSConnection::Name() const {                                                                    \
        std::lock_guard guard(FFieldLock);                                                                   \
        return F##Name;                                                                                      \
    }                                                                                                        \
    void TkezWSConnection::Set##Name(Type aValue) {                                                          \
        std::lock_guard guard(FFieldLock);                                                                   \
        F##Name = std::move(aValue);                                                                         \
        ++FChanges;                                                                                          \
        FFieldChanged.notify_all();                                                                          \
    }
KEZ_GUARDED_FIELD(std::string, MsgReceived)
KEZ_GUARDED_FIELD(std::string, MsgError)
KEZ_GUARDED_FIELD(std::string, MsgException)
KEZ_GUARDED_FIELD(std::shared_ptr<std::exception>, RawException)
KEZ_GUARDED_FIELD(TkezDateTime, LastPong)
#undef KEZ_GUARDED_FIELD

TkezDateTime TkezWSConnection::FirstPing() const {
    std::lock_guard guard(FFieldLock);
    return FFirstPing;
}

void TkezWSConnection::SetFirstPing(TkezDateTime aTime) {
    std::lock_guard guard(FFieldLock);
    FFirstPing = aTime;
}

bool TkezWSConnection::WaitForChange(const std::function<bool()>& aCondition, int aTimeoutMs) {
    const auto deadline = TkezClock::now() + std::chrono::milliseconds(std::max(aTimeoutMs, 0));
    std::unique_lock lock(FFieldLock);
    for (;;) {
        const uint64_t seen = FChanges;
        lock.unlock();
        if (aCondition()) return true;
        lock.lock();
        if (!FFieldChanged.wait_until(lock, deadline, [&] { return FChanges != seen; })) {
            lock.unlock();
            return aCondition();
        }
    }
}

TkezDateTime TkezWSConnection::LastPing() const {
    std::lock_guard guard(FFieldLock);
    return FLastPing;
}

std::string TkezWSConnection::Pong() const {
    std::lock_guard guard(FFieldLock);
    return FPong;
}

TkezQueue<TkezQueueItemBase>& TkezWSConnection::ProtocolData() {
    std::lock_guard guard(FFieldLock);
    if (!FProtocolData) FProtocolData = std::make_unique<TkezQueue<TkezQueueItemBase>>();
    return *FProtocolData;
}

// --- binding ---

void TkezWSConnection::Bind(std::shared_ptr<TkezVoxTCPClient> aTCPClient) {
    std::shared_ptr<TkezIOHandlerSocket> handler = aTCPClient->IOHandler();
    const TAddress peer = AddressOf(handler->Handle(), true);
    const TAddress local = AddressOf(handler->Handle(), false);
    std::lock_guard guard(FFieldLock);
    FTCPClient = std::move(aTCPClient);
    FHandler = std::move(handler);
    FIP = peer.IP;
    FPeerPort = peer.Port;
    FIPVersion = peer.Version;
    FLocalIP = local.IP;
    FLocalPort = local.Port;
}

std::shared_ptr<TkezVoxTCPClient> TkezWSConnection::TCPClient() const {
    std::lock_guard guard(FFieldLock);
    return FTCPClient;
}

std::shared_ptr<TkezIOHandlerSocket> TkezWSConnection::Handler() const {
    std::lock_guard guard(FFieldLock);
    return FHandler;
}

void TkezWSConnection::Enable() {
    FEnabled.store(true, std::memory_order_release);
    OnEnabled.Fire(this);
}

bool TkezWSConnection::HasTCPConnection() const {
    const auto handler = Handler();
    return handler && handler->Opened();
}

void TkezWSConnection::ClearInputBuffer() {
    if (const auto handler = Handler()) handler->ClearInputBuffer();
}

void TkezWSConnectionClient::DoInitialize(std::shared_ptr<TkezVoxTCPClient> aTCPClient) {
    Bind(std::move(aTCPClient));
    if (Transport() == trpTCP) Enable();
}

// --- reading ---

TBytes TkezWSConnection::ReadBytes(size_t aCount) {
    const auto handler = Handler();
    if (!handler) return {};
    TBytes bytes = handler->TakeInput(aCount);
    FRecBytes.fetch_add(bytes.size(), std::memory_order_relaxed);
    return bytes;
}

void TkezWSConnection::HandOnBlock(TBytes aBlock) {
    // The block becomes the last received block as it is, without a copy; the one it replaces has been read
    // by everyone it was handed to and goes back to be filled again.
    TBytes previous = FMsgBinaryReceived.Release();
    FMsgBinaryReceived = TMemoryStream(std::move(aBlock));
    if (const auto handler = Handler()) handler->RecycleBlock(std::move(previous));
    OnBinary.Fire(this);
}

void TkezWSConnection::ReadTCPData() {
    const auto handler = Handler();
    if (!handler) return;
    TBytes block = ReadBytes(handler->InputBufferSize());
    switch (TCPEndOfFrameScanBuffer()) {
    case eofScanNone: HandOnBlock(std::move(block)); break;
    case eofScanLatestBytes: {
        // Handed on only when the block just read ends with the delimiter.
        const bool complete = EndsWith(block, FTCPEndOfFrame);
        FMessageStream.Seek(0, soEnd);
        FMessageStream.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
        if (complete) HandOnBlock(FMessageStream.Release());
        break;
    }
    case eofScanAllBytes: {
        FScanBuffer.insert(FScanBuffer.end(), block.begin(), block.end());
        while (!FTCPEndOfFrame.empty()) {
            const auto end = std::search(FScanBuffer.begin(), FScanBuffer.end(), FTCPEndOfFrame.begin(),
                                         FTCPEndOfFrame.end());
            if (end == FScanBuffer.end()) break;
            const auto cut = end + static_cast<std::ptrdiff_t>(FTCPEndOfFrame.size());
            TBytes frame(FScanBuffer.begin(), cut);
            FScanBuffer.erase(FScanBuffer.begin(), cut);
            HandOnBlock(std::move(frame));
        }
        break;
    }
    }
}

void TkezWSConnection::DoReadData() {
    if (!Enabled()) return; // the WebSocket handshake reader would run here
    const auto handler = Handler();
    if (!handler) return;
    const auto reading = [&] { return HasTCPConnection() && !Disconnected() && !MustDisconnect(); };
    while (reading() && !handler->InputBufferIsEmpty()) {
        ReadTCPData();
        // Take in what arrived meanwhile before going back to the read thread.
        if (handler->InputBufferIsEmpty() && reading()) handler->CheckForDataOnSource(ReadTimeOut());
    }
}

// --- writing ---

void TkezWSConnection::BeginWrite() {
    if (const auto handler = Handler()) handler->WriteBufferOpen();
}

void TkezWSConnection::FlushWrite() {
    if (const auto handler = Handler()) handler->WriteBufferFlush();
}

void TkezWSConnection::EndWrite() {
    if (const auto handler = Handler()) handler->WriteBufferClose();
}

void TkezWSConnection::WriteBytes(TBytesPieces aPieces) {
    const auto handler = Handler();
    if (!handler) throw EkezClosedSocket("Socket is closed.");
    if (aPieces.size() == 1)
        handler->Write(aPieces.front());
    else
        handler->Write(aPieces);
    FSendBytes.fetch_add(PiecesSize(aPieces), std::memory_order_relaxed);
}

void TkezWSConnection::DoWriteData(TBytesPieces aPieces) {
    if (!Enabled()) return;
    // One whole write under the main lock: bytes of two writers never interleave.
    std::lock_guard guard(FLocks[0]);
    BeginWrite();
    try {
        WriteBytes(aPieces);
        FlushWrite();
    } catch (...) {
        if (const auto handler = Handler()) {
            handler->WriteBufferClear();
            handler->WriteBufferClose();
        }
        throw;
    }
    EndWrite();
}

void TkezWSConnection::WriteData(const std::string& aText, int64_t /*aSize*/, TwsStreaming /*aStreaming*/) {
    WriteData(TBytesView(reinterpret_cast<const uint8_t*>(aText.data()), aText.size()));
}

void TkezWSConnection::WriteData(TStream& aStream, int64_t /*aSize*/, TwsStreaming /*aStreaming*/) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&aStream)) {
        WriteData(TBytesView(memory->Memory(), static_cast<size_t>(memory->Size())));
        memory->Seek(0, soEnd);
        return;
    }
    aStream.SetPosition(0);
    TBytes bytes(static_cast<size_t>(aStream.Size()));
    aStream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    WriteData(TBytesView(bytes));
}

void TkezWSConnection::DoPing(const std::string& aText) {
    {
        std::lock_guard guard(FFieldLock);
        const auto now = std::chrono::system_clock::now();
        if (FFirstPing == TkezDateTime{}) FFirstPing = now;
        FLastPing = now;
    }
    WriteData(aText);
}

// --- closing ---

void TkezWSConnection::Close(int aCode) {
    SetDisconnected(true);
    DoDisconnect({}, aCode);
}

void TkezWSConnection::Disconnect(int aCode) {
    SetDisconnected(true);
    DoDisconnect({}, aCode);
}

void TkezWSConnection::DoClose(int /*aCode*/) {
    try {
        SetDisconnected(true);
        ClearInputBuffer();
    } catch (...) {}
}

void TkezWSConnection::DoDisconnect(const std::string& aMsg, int aCode) {
    if (!FBeforeDisconnectFired.exchange(true)) OnBeforeDisconnect.Fire(this);
    if (FDisconnectStarted.load() || (!Disconnected() && !HasTCPConnection())) return;
    FDisconnectStarted.store(true);
    SetDisconnected(true);
    try {
        if (CleanDisconnect()) DoClose(aCode);
        DisconnectPeer(false);
    } catch (const EkezSilentException&) {
        if (RaiseDisconnectExceptions()) throw;
    }
    if (!aMsg.empty() && RaiseDisconnectExceptions()) throw TkezWSException(aMsg);
}

void TkezWSConnection::DisconnectPeer(bool aCallOnDisconnectIfClosed) {
    const auto tcp = TCPClient();
    const auto handler = Handler();
    if (!tcp || !handler) return;
    SetDisconnected(true);
    try {
        handler->ClearInputBuffer();
        if (!aCallOnDisconnectIfClosed || handler->Opened())
            tcp->Disconnect(false);
        else
            tcp->ReportStatus(hsDisconnected); // already closed: still announce the disconnect
    } catch (const EkezSilentException&) {
        if (RaiseDisconnectExceptions()) throw;
    }
    // The write buffer belongs to the writer holding the main lock. With the socket closed, a writer blocked
    // in a send fails at once and lets go of it.
    std::lock_guard writing(FLocks[0]);
    handler->WriteBufferClear();
}

void TkezWSConnection::DoErrorDisconnect() {
    if (FDisconnectStarted.load() || Disconnected()) {
        SetDisconnected(true);
        return;
    }
    FDisconnectStarted.store(true);
    SetDisconnected(true);
    DisconnectPeer(true);
}

} // namespace kez
