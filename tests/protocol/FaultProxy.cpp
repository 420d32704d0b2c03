#include "FaultProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace kez::test {

namespace {

// How often the loops look at the stop, stall and cut flags.
constexpr int PollMs = 10;

void NoDelay(int aSocket) {
    const int one = 1;
    setsockopt(aSocket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// An abortive close: the peer sees a reset, not an orderly end.
void ResetSocket(int aSocket) {
    const linger abort{1, 0};
    setsockopt(aSocket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(aSocket);
}

bool SendAll(int aSocket, const uint8_t* aData, size_t aSize) {
    while (aSize > 0) {
        const ssize_t sent = send(aSocket, aData, aSize, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        aData += sent;
        aSize -= static_cast<size_t>(sent);
    }
    return true;
}

sockaddr_in Loopback(uint16_t aPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(aPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

TFaultProxy::TFaultProxy(uint16_t aTargetPort) : FTargetPort(aTargetPort) {
    FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (FListener < 0 || bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(FListener, 16) != 0 ||
        getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("fault proxy: cannot listen");
    FPort = ntohs(address.sin_port);
    FAcceptor = std::thread([this] { Accept(); });
}

TFaultProxy::~TFaultProxy() {
    FStopping = true;
    FAcceptor.join();
    close(FListener);
    std::lock_guard guard(FLock);
    for (std::thread& pair : FPairs)
        pair.join();
}

void TFaultProxy::CutAfter(uint64_t aOctets) { FCutAt = FDownstream + aOctets; }

void TFaultProxy::Accept() {
    while (!FStopping) {
        pollfd listener{FListener, POLLIN, 0};
        if (poll(&listener, 1, PollMs) <= 0) continue;
        const int client = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        const int broker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in target = Loopback(FTargetPort);
        if (broker < 0 || connect(broker, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
            if (broker >= 0) close(broker);
            ResetSocket(client);
            continue;
        }
        NoDelay(client);
        NoDelay(broker);
        std::lock_guard guard(FLock);
        FPairs.emplace_back([this, client, broker] { Forward(client, broker); });
    }
}

void TFaultProxy::Forward(int aClient, int aBroker) {
    uint8_t buffer[64 * 1024];
    bool open = true;
    while (open && !FStopping) {
        if (FDownstream >= FCutAt) break;
        if (FStalled) {
            pollfd none{-1, 0, 0};
            poll(&none, 0, PollMs);
            continue;
        }
        pollfd sockets[2] = {{aClient, POLLIN, 0}, {aBroker, POLLIN, 0}};
        if (poll(sockets, 2, PollMs) <= 0) continue;
        for (int side = 0; side < 2 && open; ++side) {
            if (!(sockets[side].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const bool downstream = side == 1;
            const int from = sockets[side].fd, to = downstream ? aClient : aBroker;
            size_t want = sizeof buffer;
            // A cut lands exactly on its octet.
            if (downstream && FCutAt != UINT64_MAX) want = std::min<uint64_t>(want, FCutAt - FDownstream);
            const ssize_t got = recv(from, buffer, want, 0);
            if (got <= 0) {
                open = false;
                break;
            }
            const size_t slice = FSliceSize ? FSliceSize.load() : static_cast<size_t>(got);
            for (size_t offset = 0; offset < static_cast<size_t>(got) && open; offset += slice)
                open = SendAll(to, buffer + offset, std::min(slice, static_cast<size_t>(got) - offset));
            if (downstream) FDownstream += static_cast<uint64_t>(got);
        }
    }
    // Whatever ended the pair, both ends see a reset; an orderly end is not what these faults are about.
    ResetSocket(aClient);
    ResetSocket(aBroker);
}

} // namespace kez::test
