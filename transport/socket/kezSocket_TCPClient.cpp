#include "kezSocket_TCPClient.h"

#include "kezSocket_Errors.h"
#include "kezSocket_Proxy.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace kez {

namespace {

// Closes a socket unless it was handed on.
class TSocketGuard {
public:
    explicit TSocketGuard(int aSocket) : FSocket(aSocket) {}
    ~TSocketGuard() {
        if (FSocket >= 0) ::close(FSocket);
    }
    int Get() const { return FSocket; }
    int Release() { return std::exchange(FSocket, -1); }

private:
    int FSocket;
};

struct TAddresses {
    addrinfo* List = nullptr;
    ~TAddresses() {
        if (List) ::freeaddrinfo(List);
    }
};

void SetBlocking(int aSocket, bool aBlocking) {
    const int flags = ::fcntl(aSocket, F_GETFL, 0);
    if (flags < 0 || ::fcntl(aSocket, F_SETFL, aBlocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) < 0)
        RaiseLastSocketError();
}

// Connects a non-blocking socket, waiting at most aTimeoutMs (negative: without limit), in steps short enough
// to notice aAbort.
void ConnectWithin(int aSocket, const sockaddr* aAddress, socklen_t aLength, int aTimeoutMs,
                   const std::atomic<bool>& aAbort) {
    SetBlocking(aSocket, false);
    if (::connect(aSocket, aAddress, aLength) != 0) {
        if (errno != EINPROGRESS) RaiseLastSocketError();
        WaitForSocket(aSocket, POLLOUT, aTimeoutMs, &aAbort,
                      [] { throw EkezSocketLayerError(SConnectTimeout); });
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(aSocket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) RaiseLastSocketError();
        if (error != 0) RaiseSocketError(error);
    }
    SetBlocking(aSocket, true);
}

} // namespace

TkezSocketTCPClient::~TkezSocketTCPClient() {
    if (FIOHandler && FOwnHandler) FIOHandler->Close();
}

std::shared_ptr<TkezIOHandlerSocket> TkezSocketTCPClient::IOHandler() {
    if (!FIOHandler) {
        FIOHandler = std::make_shared<TkezIOHandlerSocket>();
        FOwnHandler = true;
        // The handler this client makes for itself reports a peer's close as the status Disconnected.
        FIOHandler->OnClosedByPeer = [this](TObject*) { DoStatus(hsDisconnected); };
    }
    return FIOHandler;
}

void TkezSocketTCPClient::SetIOHandler(std::shared_ptr<TkezIOHandlerSocket> aHandler) {
    FIOHandler = std::move(aHandler);
    FOwnHandler = false;
}

bool TkezSocketTCPClient::Connected() {
    return FIOHandler && FIOHandler->Opened() && !FIOHandler->ClosedByPeer();
}

int TkezSocketTCPClient::OpenSocket(const std::string& aHost, uint16_t aPort) {
    const int family = FIPVersion == ipv6 ? AF_INET6 : AF_INET;
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    DoStatus(hsResolving);
    TAddresses addresses;
    const std::string port = std::to_string(aPort);
    if (const int error = ::getaddrinfo(aHost.c_str(), port.c_str(), &hints, &addresses.List); error != 0)
        throw EkezSocketError(error, std::string("Cannot resolve ") + aHost + ": " + ::gai_strerror(error));

    std::exception_ptr lastError;
    for (addrinfo* address = addresses.List; address; address = address->ai_next) {
        TSocketGuard socket(
            ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol));
        if (socket.Get() < 0) RaiseLastSocketError();
        try {
            if (!FBoundIP.empty() || FBoundPort != 0 || FBoundPortMin != 0 || FBoundPortMax != 0) {
                const int on = 1;
                ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
                uint16_t first = FBoundPort, last = FBoundPort;
                if (FBoundPort == 0 && (FBoundPortMin != 0 || FBoundPortMax != 0)) {
                    if (FBoundPortMin > FBoundPortMax) throw EkezInvalidPortRange("Invalid port range.");
                    first = FBoundPortMin;
                    last = FBoundPortMax;
                }
                bool bound = false;
                for (uint32_t port = first; port <= last && !bound; ++port) {
                    addrinfo local{};
                    local.ai_family = family;
                    local.ai_socktype = SOCK_STREAM;
                    local.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
                    TAddresses bindTo;
                    if (::getaddrinfo(FBoundIP.empty() ? nullptr : FBoundIP.c_str(),
                                      std::to_string(port).c_str(), &local, &bindTo.List) != 0)
                        throw EkezCouldNotBindSocket("Could not bind socket: " + FBoundIP);
                    bound = ::bind(socket.Get(), bindTo.List->ai_addr, bindTo.List->ai_addrlen) == 0;
                }
                if (!bound) {
                    if (first != last) throw EkezCanNotBindPortInRange("Can not bind in port range.");
                    throw EkezCouldNotBindSocket(
                        "Could not bind socket. Address and port are already in use.");
                }
            }
            DoStatus(hsConnecting);
            ConnectWithin(socket.Get(), address->ai_addr, address->ai_addrlen,
                          FConnectTimeout > 0 ? FConnectTimeout : -1, FAbortConnect);
            return socket.Release();
        } catch (const EkezSocketError&) {
            lastError = std::current_exception(); // try the next address
        }
    }
    if (lastError) std::rethrow_exception(lastError);
    throw EkezSocketError(0, "Cannot resolve " + aHost);
}

int TkezSocketTCPClient::ConnectDirectOrThroughProxy(TkezTransparentProxy* aProxy) {
    if (!aProxy) return OpenSocket(FHost, FPort);
    if (aProxy->Host().empty()) throw EkezSocketLayerError("A proxy Host is required");
    if (aProxy->Port() == 0) throw EkezSocketLayerError("A proxy Port is required");
    aProxy->BeginConnect();
    // A proxy may ask once for a fresh connection (an HTTP proxy that closes after asking for credentials).
    for (int attempt = 0;; ++attempt) {
        TSocketGuard socket(OpenSocket(aProxy->Host(), aProxy->Port()));
        const TkezSocketExchange exchange(socket.Get(), FReadTimeout, &FAbortConnect);
        if (aProxy->Negotiate(exchange, FHost, FPort)) return socket.Release();
        if (attempt > 0)
            throw EkezProxyError("The proxy closed the connection again without opening a tunnel.");
    }
}

void TkezSocketTCPClient::Connect() {
    if (FHost.empty()) throw EkezSocketLayerError(SHostRequired);
    if (FPort == 0) throw EkezSocketLayerError(SPortRequired);
    if (Connected()) throw EkezSocketLayerError(SAlreadyConnected);
    std::shared_ptr<TkezIOHandlerSocket> handler = IOHandler();
    TkezTransparentProxy* proxy = handler->TransparentProxy().get();
    TSocketGuard socket(ConnectDirectOrThroughProxy(proxy && proxy->Enabled() ? proxy : nullptr));
    if (!FUseNagle) {
        const int on = 1;
        ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    if (FLingerState >= 0) {
        const linger value{1, FLingerState};
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_LINGER, &value, sizeof value);
    }
    const int connected = socket.Release();
    handler->Open(connected, FHost, FPort);
    try {
        handler->AfterConnect(TkezSocketExchange(connected, FReadTimeout, &FAbortConnect));
    } catch (...) {
        handler->Close();
        throw;
    }
    DoStatus(hsConnected);
    OnConnected.Fire(this);
}

void TkezSocketTCPClient::Disconnect(bool /*aNotifyPeer*/) {
    if (!FIOHandler || !FIOHandler->Opened()) return;
    DoStatus(hsDisconnecting);
    FIOHandler->Close();
    OnDisconnected.Fire(this);
    DoStatus(hsDisconnected);
}

} // namespace kez
