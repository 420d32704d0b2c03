// A TCP server on 127.0.0.1 for the transport tests: the test scripts what each accepted peer does (send
// blocks, read, close, reset, stall). Every wait has a deadline.
#pragma once

#include "kezBase_Classes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kez::test {

class TLoopbackPeer {
public:
    explicit TLoopbackPeer(int aSocket) : FSocket(aSocket) {}
    ~TLoopbackPeer();
    void Send(const std::string& aText);
    void Send(TBytesView aBytes);
    // Reads until aCount octets have come or aTimeoutMs passed; returns what came.
    TBytes Receive(size_t aCount, int aTimeoutMs = 5000);
    // Reads until the client closes (or aTimeoutMs passes); true when it closed.
    bool WaitClosed(int aTimeoutMs = 5000);
    // A graceful close.
    void Close();
    // An abortive close: the client sees a reset.
    void Reset();

private:
    int FSocket;
};

class TLoopbackServer {
public:
    // Listens on 127.0.0.1 (or ::1 with aIPv6) on an ephemeral port, or on aPort when given.
    explicit TLoopbackServer(uint16_t aPort = 0, bool aIPv6 = false);
    ~TLoopbackServer();
    uint16_t Port() const noexcept { return FPort; }
    // The next client that connects, or null after aTimeoutMs.
    std::unique_ptr<TLoopbackPeer> Accept(int aTimeoutMs = 5000);
    // Stops listening: later connects are refused.
    void StopListening();

private:
    int FListener = -1;
    uint16_t FPort = 0;
};

// A port on 127.0.0.1 that accepts no connection at all: connects to it hang until they time out.
class TBlackHole {
public:
    TBlackHole();
    ~TBlackHole();
    uint16_t Port() const noexcept { return FPort; }

private:
    int FListener = -1;
    uint16_t FPort = 0;
    int FFillers[16] = {};
    int FFillerCount = 0;
};

// A port on 127.0.0.1 where nothing listens.
uint16_t UnusedPort();

} // namespace kez::test
