#include "kezSocket_Exchange.h"

#include "kezSocket_Errors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>

namespace kez {

void WaitForSocket(int aSocket, short aEvents, int aTimeoutMs, const std::atomic<bool>* aAbort,
                   void (*aOnTimeout)()) {
    using Clock = std::chrono::steady_clock;
    const bool limited = aTimeoutMs > 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? aTimeoutMs : 0);
    pollfd waiter{aSocket, aEvents, 0};
    for (;;) {
        if (aAbort && aAbort->load()) throw EkezSocketLayerError(SConnectTimeout);
        int step = 100;
        if (limited) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                aOnTimeout();
                throw EkezSocketLayerError(
                    SConnectTimeout); // aOnTimeout raises; this only keeps the loop finite
            }
            step = static_cast<int>(std::min<int64_t>(left, step));
        }
        const int ready = ::poll(&waiter, 1, step);
        if (ready > 0) return;
        if (ready < 0 && errno != EINTR) RaiseLastSocketError();
    }
}

void TkezSocketExchange::Wait(bool aWrite) const {
    WaitForSocket(FSocket, aWrite ? POLLOUT : POLLIN, FReadTimeoutMs, FAbort,
                  [] { throw EkezReadTimeout(SReadTimeout); });
}

void TkezSocketExchange::Send(TBytesView aBytes) const {
    while (!aBytes.empty()) {
        const ssize_t n = ::send(FSocket, aBytes.data(), aBytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseLastSocketError();
            Wait(true);
            continue;
        }
        aBytes = aBytes.subspan(static_cast<size_t>(n));
    }
}

void TkezSocketExchange::Send(const std::string& aText) const {
    Send(TBytesView(reinterpret_cast<const uint8_t*>(aText.data()), aText.size()));
}

size_t TkezSocketExchange::ReceiveSome(uint8_t* aBuffer, size_t aSize) const {
    for (;;) {
        const ssize_t n = ::recv(FSocket, aBuffer, aSize, MSG_DONTWAIT);
        if (n > 0) return static_cast<size_t>(n);
        if (n == 0) throw EkezConnClosedGracefully(SConnectionClosedGracefully);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseLastSocketError();
        Wait(false);
    }
}

void TkezSocketExchange::ReceiveExact(uint8_t* aBuffer, size_t aSize) const {
    while (aSize > 0) {
        const size_t n = ReceiveSome(aBuffer, aSize);
        aBuffer += n;
        aSize -= n;
    }
}

std::string TkezSocketExchange::ReceiveLine(size_t aLimit) const {
    // Octet by octet: what follows the line (a tunnel's first data) must stay in the socket.
    std::string line;
    for (;;) {
        uint8_t octet = 0;
        ReceiveExact(&octet, 1);
        if (octet == '\n') break;
        if (line.size() >= aLimit)
            throw EkezProxyError("The proxy sent a line longer than " + std::to_string(aLimit) + " octets.");
        line.push_back(static_cast<char>(octet));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

} // namespace kez
