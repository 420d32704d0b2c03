// Blocking exchanges on a connected socket before it carries the connection's data: a proxy's negotiation and
// the waits of a TLS handshake. Each wait for the peer is bounded by the read time-out ("Read timed out.")
// and gives up within 100 ms once the connect is aborted ("Connect timed out.").
#pragma once

#include "kezBase_Classes.h"

#include <atomic>
#include <string>

namespace kez {

// Waits until aSocket is ready for aEvents (POLLIN, POLLOUT), at most aTimeoutMs (0 or negative: no limit),
// in steps short enough to notice aAbort. On expiry raises what aOnTimeout raises; an abort raises "Connect
// timed out.".
void WaitForSocket(int aSocket, short aEvents, int aTimeoutMs, const std::atomic<bool>* aAbort,
                   void (*aOnTimeout)());

class TkezSocketExchange {
public:
    // aReadTimeoutMs 0 or negative: no limit. aAbort may be null.
    TkezSocketExchange(int aSocket, int aReadTimeoutMs, const std::atomic<bool>* aAbort) noexcept
        : FSocket(aSocket), FReadTimeoutMs(aReadTimeoutMs), FAbort(aAbort) {}

    int Socket() const noexcept { return FSocket; }
    // Waits until the socket is readable, or writable with aWrite.
    void Wait(bool aWrite) const;
    void Send(TBytesView aBytes) const;
    void Send(const std::string& aText) const;
    // Whatever has come, at least one octet; raises "Connection Closed Gracefully." when the peer closed.
    size_t ReceiveSome(uint8_t* aBuffer, size_t aSize) const;
    void ReceiveExact(uint8_t* aBuffer, size_t aSize) const;
    // One line without its CR LF. A line longer than aLimit octets is a protocol error.
    std::string ReceiveLine(size_t aLimit = 8192) const;

private:
    int FSocket;
    int FReadTimeoutMs;
    const std::atomic<bool>* FAbort;
};

} // namespace kez
