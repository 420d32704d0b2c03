#include "kezSocket_IOHandler.h"

#include "kezSocket_Errors.h"
#include "kezSocket_PiecesCursor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kez {

namespace {
// How much one readability wait takes in at most before handing over; keeps a fast sender from starving
// the reader's consumers.
constexpr size_t MaxReadPerWait = 4 * 1024 * 1024;
constexpr size_t ReadChunk = 256 * 1024;
constexpr size_t MinRoom = 16 * 1024;
// The largest block a wait fills, and so the largest one kept for the next.
constexpr size_t MaxKeptBlock = MaxReadPerWait + ReadChunk;
// Writes at least this large skip the write buffer when it is empty: they go out whole anyway.
constexpr size_t DirectWriteSize = 64 * 1024;
// Pieces handed to one sendmsg; the kernel takes at most IOV_MAX (1024).
constexpr size_t GatheredSendPieces = 256;
// The most one send carries: a large block goes out in sends of this size, each but the last announcing more
// (MSG_MORE). RabbitMQ, reading from loopback, sent out 1 MiB messages that had come in one send each at
// about half the rate of the same messages come in sends of 128 KiB, to any consumer.
constexpr size_t MaxSendSize = 128 * 1024;

void SetOption(int aSocket, int aLevel, int aName, const void* aValue, socklen_t aSize) {
    if (aSocket >= 0 && ::setsockopt(aSocket, aLevel, aName, aValue, aSize) != 0) RaiseLastSocketError();
}

// One receive: the octets read (0: the peer closed), or -1 when nothing came (or, waiting, not in time).
ptrdiff_t Receive(int aSocket, uint8_t* aBuffer, size_t aSize, int aFlags) {
    for (;;) {
        const ssize_t n = ::recv(aSocket, aBuffer, aSize, aFlags);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
        RaiseLastSocketError();
    }
}
} // namespace

TkezIOHandlerSocket::~TkezIOHandlerSocket() {
    // A descendant closes in its own destructor when it has state of its own to tear down.
    const int socket = FSocket.exchange(-1);
    if (socket >= 0) ::close(socket);
}

void TkezIOHandlerSocket::Open(int aSocket, const std::string& aHost, uint16_t aPort) {
    std::unique_lock use(FSocketUse);
    FHost = aHost;
    FPort = aPort;
    FClosedByPeer.store(false, std::memory_order_release);
    FReceiveTimeoutMs = 0;
    FSocket.store(aSocket, std::memory_order_release);
    FOpened.store(true, std::memory_order_release);
}

void TkezIOHandlerSocket::Close() {
    if (!FOpened.exchange(false, std::memory_order_acq_rel)) return;
    const int socket = FSocket.load(std::memory_order_acquire);
    // Wakes a thread that waits for data or blocks in a send on this socket.
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
    std::unique_lock use(FSocketUse);
    DoClose();
    if (FSocket.load(std::memory_order_acquire) >= 0) ::close(FSocket.exchange(-1));
}

// --- reading ---

size_t TkezIOHandlerSocket::InputBufferSize() const {
    std::lock_guard guard(FInputLock);
    return FInput.size();
}

TBytes TkezIOHandlerSocket::TakeInput(size_t aCount) {
    std::lock_guard guard(FInputLock);
    if (aCount >= FInput.size()) return std::move(FInput);
    TBytes taken(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(aCount));
    FInput.erase(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(aCount));
    return taken;
}

void TkezIOHandlerSocket::RecycleBlock(TBytes aBlock) {
    // One block is kept, never more than a whole wait's worth.
    if (aBlock.capacity() > MaxKeptBlock) return;
    std::lock_guard guard(FScratchLock);
    if (aBlock.capacity() > FSpare.capacity()) FSpare = std::move(aBlock);
}

void TkezIOHandlerSocket::ClearInputBuffer() {
    std::lock_guard guard(FInputLock);
    FInput.clear();
}

ptrdiff_t TkezIOHandlerSocket::ReceiveRaw(uint8_t* aBuffer, size_t aSize) {
    return Receive(Handle(), aBuffer, aSize, MSG_DONTWAIT);
}

bool TkezIOHandlerSocket::CheckForDataOnSource(int aTimeoutMs) {
    std::shared_lock use(FSocketUse);
    if (!Opened() || FClosedByPeer.load(std::memory_order_acquire) || !Readable()) return false;
    if (HasPendingRaw()) return ReceiveAvailable(0);
    if (WaitsInReceive()) return ReceiveAvailable(aTimeoutMs);
    pollfd waiter{Handle(), POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&waiter, 1, aTimeoutMs < 0 ? -1 : aTimeoutMs);
    while (ready < 0 && errno == EINTR);
    if (ready < 0) RaiseLastSocketError();
    if (ready == 0 || !Opened()) return false;
    return ReceiveAvailable(0);
}

ptrdiff_t TkezIOHandlerSocket::ReceiveWaiting(uint8_t* aBuffer, size_t aSize, int aTimeoutMs) {
    if (aTimeoutMs != FReceiveTimeoutMs) {
        // A zero time-out means "without limit" to the socket.
        const timeval limit{aTimeoutMs < 0 ? 0 : aTimeoutMs / 1000,
                            aTimeoutMs < 0 ? 0 : aTimeoutMs % 1000 * 1000};
        SetOption(Handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        FReceiveTimeoutMs = aTimeoutMs;
    }
    return Receive(Handle(), aBuffer, aSize, 0);
}

bool TkezIOHandlerSocket::ReceiveAvailable(int aWaitMs) {
    // Takes in what is there now (after the first receive's wait); the block handed on is as large as what
    // came.
    TBytes arrived;
    {
        std::lock_guard scratchGuard(FScratchLock);
        // Received straight into the block handed on. A recycled block keeps the size it was handed on with,
        // so most receives fit into octets that need no zeroing; it grows with what arrives, never by more
        // than what has arrived so far (at least MinRoom, at most ReadChunk).
        arrived = std::move(FSpare);
        size_t filled = 0;
        while (filled < MaxReadPerWait) {
            if (arrived.size() - filled < MinRoom) {
                const size_t wanted = filled + std::clamp(filled, MinRoom, ReadChunk);
                // Grown geometrically but never beyond what RecycleBlock keeps: a block that outgrew it would
                // be freed after every large read and the next one would fault its pages in anew.
                if (wanted > arrived.capacity())
                    arrived.reserve(std::min(std::max(wanted, 2 * arrived.capacity()), MaxKeptBlock));
                arrived.resize(wanted);
            }
            const size_t room = arrived.size() - filled;
            const ptrdiff_t n = filled == 0 && aWaitMs != 0 ? ReceiveWaiting(arrived.data(), room, aWaitMs)
                                                            : ReceiveRaw(arrived.data() + filled, room);
            if (n < 0) break;
            if (n == 0) {
                // A socket closed here (shut down to wake this wait) is not a peer's close.
                if (Opened()) FClosedByPeer.store(true, std::memory_order_release);
                break;
            }
            filled += static_cast<size_t>(n);
            if (static_cast<size_t>(n) < room && !HasPendingRaw()) break;
        }
        arrived.resize(filled);
        // A wait that brought nothing keeps its block for the next one: dropping it would make the next wait
        // grow a new block from nothing.
        if (filled == 0) {
            FSpare = std::move(arrived);
            return false;
        }
    }
    std::lock_guard guard(FInputLock);
    if (FInput.empty())
        FInput = std::move(arrived);
    else
        FInput.insert(FInput.end(), arrived.begin(), arrived.end());
    return true;
}

void TkezIOHandlerSocket::CheckForDisconnect(bool aRaise, bool aIgnoreBuffer) {
    if (FClosedByPeer.load(std::memory_order_acquire) && Opened()) {
        Close();
        OnClosedByPeer.Fire(this);
    }
    if (aRaise && !Opened() && (aIgnoreBuffer || InputBufferIsEmpty()))
        throw EkezConnClosedGracefully(SConnectionClosedGracefully);
}

// --- writing ---

void TkezIOHandlerSocket::SendRaw(const uint8_t* aBuffer, size_t aSize) {
    const TBytesView block(aBuffer, aSize);
    SendPieces(TBytesPieces(&block, 1));
}

void TkezIOHandlerSocket::SendPieces(TBytesPieces aPieces) {
    std::array<iovec, GatheredSendPieces> vector{};
    for (TkezPiecesCursor cursor(aPieces); !cursor.Done();) {
        bool more = false;
        msghdr message{};
        message.msg_iov = vector.data();
        message.msg_iovlen = cursor.Fill(vector, MaxSendSize, more);
        // More behind this send: the kernel fills its segments across the two.
        const ssize_t n = ::sendmsg(Handle(), &message, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) RaiseSocketError(ETIMEDOUT); // the send time-out
            RaiseLastSocketError();
        }
        cursor.Advance(static_cast<size_t>(n));
    }
}

void TkezIOHandlerSocket::SendAll(TBytesView aBytes) {
    std::shared_lock use(FSocketUse);
    if (!Opened()) throw EkezClosedSocket("Socket is closed.");
    SendRaw(aBytes.data(), aBytes.size());
}

void TkezIOHandlerSocket::Write(TBytesView aBytes) {
    if (aBytes.empty()) return;
    if (FWriteBuffering && !(FWriteBuffer.empty() && aBytes.size() >= DirectWriteSize)) {
        FWriteBuffer.insert(FWriteBuffer.end(), aBytes.begin(), aBytes.end());
        return;
    }
    SendAll(aBytes);
}

void TkezIOHandlerSocket::SendAllGathered(TBytesPieces aPieces) {
    std::shared_lock use(FSocketUse);
    if (!Opened()) throw EkezClosedSocket("Socket is closed.");
    SendPieces(aPieces);
}

void TkezIOHandlerSocket::Write(TBytesPieces aPieces) {
    if (GathersWrites()) {
        WriteBufferFlush();
        SendAllGathered(aPieces);
    } else if (FWriteBuffering) {
        for (const TBytesView piece : aPieces)
            Write(piece);
    } else {
        const TBytes block = JoinPieces(aPieces);
        Write(TBytesView(block));
    }
}

void TkezIOHandlerSocket::WriteBufferOpen() {
    FWriteBuffering = true;
    FWriteBuffer.clear();
}

void TkezIOHandlerSocket::WriteBufferFlush() {
    if (FWriteBuffer.empty()) return;
    TBytes pending;
    pending.swap(FWriteBuffer);
    SendAll(pending);
}

void TkezIOHandlerSocket::WriteBufferClose() {
    WriteBufferFlush();
    FWriteBuffering = false;
}

void TkezIOHandlerSocket::WriteBufferClear() { FWriteBuffer.clear(); }

// --- options ---

void TkezIOHandlerSocket::SetSendTimeout(int aMilliseconds) {
    timeval timeout{aMilliseconds / 1000, (aMilliseconds % 1000) * 1000};
    FSendTimeoutMs.store(std::max(aMilliseconds, 0), std::memory_order_relaxed);
    std::shared_lock use(FSocketUse);
    SetOption(Handle(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

void TkezIOHandlerSocket::SetKeepAlive(bool aEnabled, int aTimeMs, int aIntervalMs) {
    std::shared_lock use(FSocketUse);
    const int on = aEnabled ? 1 : 0;
    SetOption(Handle(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    if (!aEnabled) return;
    const int idle = std::max(1, aTimeMs / 1000);
    const int interval = std::max(1, aIntervalMs / 1000);
    SetOption(Handle(), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    SetOption(Handle(), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
}

void TkezIOHandlerSocket::SetNoDelay(bool aNoDelay) {
    std::shared_lock use(FSocketUse);
    const int on = aNoDelay ? 1 : 0;
    SetOption(Handle(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void TkezIOHandlerSocket::SetLinger(int aSeconds) {
    std::shared_lock use(FSocketUse);
    const linger value{aSeconds >= 0 ? 1 : 0, aSeconds >= 0 ? aSeconds : 0};
    SetOption(Handle(), SOL_SOCKET, SO_LINGER, &value, sizeof value);
}

} // namespace kez
