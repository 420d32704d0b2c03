// A TCP proxy of the tests' own between the client and the broker, on 127.0.0.1, that forwards, stalls,
// resets, cuts after a number of octets or hands the octets on in small slices.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <thread>

namespace kez::test {

class TFaultProxy {
public:
    // Listens on an ephemeral port of 127.0.0.1 and forwards every accepted connection to aTargetPort.
    explicit TFaultProxy(uint16_t aTargetPort);
    ~TFaultProxy();
    TFaultProxy(const TFaultProxy&) = delete;
    TFaultProxy& operator=(const TFaultProxy&) = delete;

    uint16_t Port() const noexcept { return FPort; }
    // Octets handed on per send, both ways; 0: whatever one read gave.
    void SetSliceSize(size_t aSize) { FSliceSize = aSize; }
    // Stops (or resumes) forwarding both ways; what is sent meanwhile waits in the sockets.
    void SetStalled(bool aStalled) { FStalled = aStalled; }
    // Resets both sides of every connection once aOctets more octets have gone from the broker to the client.
    void CutAfter(uint64_t aOctets);
    // Resets both sides of every connection now.
    void Reset() { CutAfter(0); }
    // Octets forwarded from the broker to the client so far.
    uint64_t Downstream() const noexcept { return FDownstream; }

private:
    void Accept();
    void Forward(int aClient, int aBroker);

    uint16_t FTargetPort;
    uint16_t FPort = 0;
    int FListener = -1;
    std::atomic<bool> FStopping{false};
    std::atomic<size_t> FSliceSize{0};
    std::atomic<bool> FStalled{false};
    std::atomic<uint64_t> FDownstream{0};
    // Downstream count at which connections are reset; UINT64_MAX: never.
    std::atomic<uint64_t> FCutAt{UINT64_MAX};
    std::mutex FLock;
    std::list<std::thread> FPairs;
    std::thread FAcceptor;
};

} // namespace kez::test
