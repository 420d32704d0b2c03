#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kez::test {

namespace {

int ListenOn(int aBacklog, uint16_t& aPort, uint16_t aWanted = 0) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(aWanted);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, aBacklog) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    aPort = ntohs(address.sin_port);
    return listener;
}

int ConnectNonBlocking(uint16_t aPort) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(aPort);
    ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return socket;
}

bool WaitReadable(int aSocket, std::chrono::steady_clock::time_point aDeadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(aDeadline - std::chrono::steady_clock::now());
    pollfd waiter{aSocket, POLLIN, 0};
    return ::poll(&waiter, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) > 0;
}

} // namespace

TLoopbackPeer::~TLoopbackPeer() {
    if (FSocket >= 0) ::close(FSocket);
}

void TLoopbackPeer::Send(const std::string& aText) {
    Send(TBytesView(reinterpret_cast<const uint8_t*>(aText.data()), aText.size()));
}

void TLoopbackPeer::Send(TBytesView aBytes) {
    size_t sent = 0;
    while (sent < aBytes.size()) {
        const ssize_t n = ::send(FSocket, aBytes.data() + sent, aBytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("peer send failed");
        sent += static_cast<size_t>(n);
    }
}

TBytes TLoopbackPeer::Receive(size_t aCount, int aTimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    TBytes received;
    uint8_t buffer[65536];
    while (received.size() < aCount && WaitReadable(FSocket, deadline)) {
        const ssize_t n = ::recv(FSocket, buffer, std::min(sizeof buffer, aCount - received.size()), 0);
        if (n <= 0) break;
        received.insert(received.end(), buffer, buffer + n);
    }
    return received;
}

bool TLoopbackPeer::WaitClosed(int aTimeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs);
    uint8_t buffer[65536];
    while (WaitReadable(FSocket, deadline)) {
        const ssize_t n = ::recv(FSocket, buffer, sizeof buffer, 0);
        if (n <= 0) return true;
    }
    return false;
}

void TLoopbackPeer::Close() {
    if (FSocket >= 0) ::close(FSocket);
    FSocket = -1;
}

void TLoopbackPeer::Reset() {
    const linger abort{1, 0};
    ::setsockopt(FSocket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    Close();
}

TLoopbackServer::TLoopbackServer(uint16_t aPort, bool aIPv6) {
    if (!aIPv6) {
        FListener = ListenOn(16, FPort, aPort);
        return;
    }
    FListener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(aPort);
    if (::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListener, 16) != 0)
        throw std::runtime_error("cannot listen on ::1");
    socklen_t size = sizeof address;
    ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &size);
    FPort = ntohs(address.sin6_port);
}

TLoopbackServer::~TLoopbackServer() { StopListening(); }

std::unique_ptr<TLoopbackPeer> TLoopbackServer::Accept(int aTimeoutMs) {
    if (FListener < 0 ||
        !WaitReadable(FListener, std::chrono::steady_clock::now() + std::chrono::milliseconds(aTimeoutMs)))
        return nullptr;
    const int peer = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    return peer < 0 ? nullptr : std::make_unique<TLoopbackPeer>(peer);
}

void TLoopbackServer::StopListening() {
    if (FListener >= 0) ::close(FListener);
    FListener = -1;
}

TBlackHole::TBlackHole() {
    FListener = ListenOn(0, FPort);
    // Fill the accept queue; the kernel then drops further handshakes, so connects hang.
    for (; FFillerCount < 4; ++FFillerCount)
        FFillers[FFillerCount] = ConnectNonBlocking(FPort);
}

TBlackHole::~TBlackHole() {
    for (int i = 0; i < FFillerCount; ++i)
        ::close(FFillers[i]);
    ::close(FListener);
}

uint16_t UnusedPort() {
    uint16_t port = 0;
    const int listener = ListenOn(1, port);
    ::close(listener);
    return port;
}

} // namespace kez::test
