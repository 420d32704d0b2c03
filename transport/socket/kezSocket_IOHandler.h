// The I/O handler of a connected socket: an input buffer filled by readability waits, a write buffer sent in
// one go, and the socket options the transport sets. The raw reads and writes are virtual, so that a TLS
// handler can stand in for the plain one without the transport knowing.
#pragma once

#include "kezBase_Classes.h"
#include "kezSocket_Exchange.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace kez {

class TkezTransparentProxy;

enum TkezIPVersion : uint8_t { ipv4, ipv6 };

// What a TCP client reports as its connection goes up and down.
enum TkezStatus : uint8_t {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText
};

class TkezIOHandlerSocket : public TObject {
public:
    TkezIOHandlerSocket() = default;
    ~TkezIOHandlerSocket() override;
    TkezIOHandlerSocket(const TkezIOHandlerSocket&) = delete;
    TkezIOHandlerSocket& operator=(const TkezIOHandlerSocket&) = delete;

    // Takes over a connected socket, which this handler closes. aHost and aPort name the peer as asked for.
    void Open(int aSocket, const std::string& aHost, uint16_t aPort);
    // Runs after Open on the connecting thread, once any proxy has opened its tunnel: the place of a TLS
    // handshake, whose waits go through aExchange. Raises on failure.
    virtual void AfterConnect(const TkezSocketExchange& /*aExchange*/) {}
    // The proxy the TCP client connects through when it is enabled; set before Connect.
    const std::shared_ptr<TkezTransparentProxy>& TransparentProxy() const noexcept {
        return FTransparentProxy;
    }
    void SetTransparentProxy(std::shared_ptr<TkezTransparentProxy> aProxy) {
        FTransparentProxy = std::move(aProxy);
    }
    // Shuts the socket down (waking any thread that waits on it) and closes it once no call uses it.
    virtual void Close();
    bool Opened() const noexcept { return FOpened.load(std::memory_order_acquire); }
    int Handle() const noexcept { return FSocket.load(std::memory_order_acquire); }
    const std::string& Host() const noexcept { return FHost; }
    uint16_t Port() const noexcept { return FPort; }

    // --- reading ---
    size_t InputBufferSize() const;
    bool InputBufferIsEmpty() const { return InputBufferSize() == 0; }
    // Takes up to aCount octets out of the input buffer (all of them without a copy when aCount covers it).
    TBytes TakeInput(size_t aCount);
    // Gives back a block taken earlier, once its reader is done with it: the next receive fills it again
    // instead of a fresh block whose pages must first be faulted in.
    void RecycleBlock(TBytes aBlock);
    void ClearInputBuffer();
    // When open, waits up to aTimeoutMs (negative: without limit) for data and moves what arrived into the
    // input buffer; true when something arrived. Returns false at once when closed. Raises EkezSocketError on
    // a socket error. A peer that closed is noted for CheckForDisconnect.
    bool CheckForDataOnSource(int aTimeoutMs);
    // When the peer has closed: closes the socket (a handler with OnClosedByPeer reports it there) and, with
    // aRaise, raises "Connection Closed Gracefully." when the input buffer is empty or aIgnoreBuffer is set.
    void CheckForDisconnect(bool aRaise, bool aIgnoreBuffer);
    bool ClosedByPeer() const noexcept { return FClosedByPeer.load(std::memory_order_acquire); }

    // --- writing ---
    // Sends all of aBytes, or appends them to the write buffer while it is open.
    void Write(TBytesView aBytes);
    // Sends the pieces in order as one block: on a plain socket in gathered sends after what the write
    // buffer holds, without copying them; otherwise through the write buffer (or one block) like Write.
    void Write(TBytesPieces aPieces);
    void WriteBufferOpen();
    void WriteBufferFlush();
    // Flushes and stops buffering.
    void WriteBufferClose();
    void WriteBufferClear();
    bool WriteBufferOpened() const noexcept { return FWriteBuffering; }

    // --- socket options ---
    // The send time-out (SO_SNDTIMEO) in ms; 0 clears it.
    void SetSendTimeout(int aMilliseconds);
    void SetKeepAlive(bool aEnabled, int aTimeMs, int aIntervalMs);
    void SetNoDelay(bool aNoDelay);
    // A value of 0 or more switches lingering on with that many seconds.
    void SetLinger(int aSeconds);

    // Raised on the thread that found the peer gone, after the socket was closed.
    TNotifyEvent OnClosedByPeer;

protected:
    // The raw transfer, which a TLS handler overrides. Receive returns the octets read (0: the peer closed),
    // or -1 when nothing is ready; both raise on errors. Send sends everything.
    virtual ptrdiff_t ReceiveRaw(uint8_t* aBuffer, size_t aSize);
    virtual void SendRaw(const uint8_t* aBuffer, size_t aSize);
    // Octets the handler holds already decoded, ready without waiting on the socket (TLS).
    virtual bool HasPendingRaw() const { return false; }
    // Whether a read may wait in the receive itself: one system call instead of a readiness wait and a
    // receive. A handler whose ReceiveRaw is not the socket's own (TLS) waits for readiness instead.
    virtual bool WaitsInReceive() const { return true; }
    // Whether pieces go to the socket in gathered sends. A handler whose SendRaw is not the socket's own
    // (TLS) has them copied together and sent through SendRaw instead.
    virtual bool GathersWrites() const { return true; }
    // Whether reading can start at all (a TLS handler: once its session stands).
    virtual bool Readable() const { return true; }
    // Called with the socket in hand, before it is shut down and closed.
    virtual void DoClose() {}
    // The send time-out in ms; 0: none.
    int SendTimeoutMs() const noexcept { return FSendTimeoutMs.load(std::memory_order_relaxed); }

private:
    void SendAll(TBytesView aBytes);
    void SendAllGathered(TBytesPieces aPieces);
    // The plain socket's send of pieces, under the socket-use lock with the socket open.
    void SendPieces(TBytesPieces aPieces);
    // Under the socket-use lock, with the socket open: moves what has arrived into the input buffer. The
    // first receive waits up to aWaitMs (negative: without limit; 0: not at all).
    bool ReceiveAvailable(int aWaitMs);
    // A receive that waits up to aTimeoutMs (negative: without limit); -1 when nothing came in that time.
    ptrdiff_t ReceiveWaiting(uint8_t* aBuffer, size_t aSize, int aTimeoutMs);

    std::atomic<int> FSocket{-1};
    std::atomic<bool> FOpened{false};
    std::atomic<bool> FClosedByPeer{false};
    // The receive time-out the socket has now; set again only when a wait asks for another one.
    int FReceiveTimeoutMs = 0;
    std::string FHost;
    uint16_t FPort = 0;
    // Shared by every call that uses the socket; Close takes it exclusively, so the descriptor is never
    // closed under a thread that still uses it (and never reused while one does).
    mutable std::shared_mutex FSocketUse;
    mutable std::mutex FInputLock;
    // The one block kept to be received into again, handed back once everyone has read it.
    std::mutex FScratchLock;
    TBytes FSpare;
    TBytes FInput;
    // The write buffer is used under the connection's write lock only.
    bool FWriteBuffering = false;
    TBytes FWriteBuffer;
    std::atomic<int> FSendTimeoutMs{0};
    std::shared_ptr<TkezTransparentProxy> FTransparentProxy;
};

} // namespace kez
