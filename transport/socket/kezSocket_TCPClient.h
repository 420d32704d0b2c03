// The socket layer's TCP client: resolves, connects within a time-out, sets the socket options and hands the
// connected socket to its exchangeable I/O handler.
#pragma once

#include "kezSocket_IOHandler.h"

#include <atomic>
#include <memory>
#include <string>

namespace kez {

class TkezSocketTCPClient : public TObject {
public:
    TkezSocketTCPClient() = default;
    ~TkezSocketTCPClient() override;

    KEZ_PROPERTY(std::string, Host)
    KEZ_PROPERTY(uint16_t, Port)
    KEZ_PROPERTY(std::string, BoundIP)
    KEZ_PROPERTY(uint16_t, BoundPort)
    KEZ_PROPERTY(uint16_t, BoundPortMin)
    KEZ_PROPERTY(uint16_t, BoundPortMax)
    // False switches the socket to no-delay, so that every write leaves at once.
    KEZ_PROPERTY(bool, UseNagle)
    KEZ_PROPERTY(TkezIPVersion, IPVersion, ipv4)
    // Milliseconds; 0 or -1: no limit.
    KEZ_PROPERTY(int, ConnectTimeout)
    // The limit of blocking reads during negotiation (proxy, TLS); 0 or -1: no limit.
    KEZ_PROPERTY(int, ReadTimeout, -1)
    // Seconds to linger on close; -1: off.
    KEZ_PROPERTY(int, LingerState, -1)
public:
    // The handler that carries the connection; a plain one is made on first use. Exchangeable before Connect.
    std::shared_ptr<TkezIOHandlerSocket> IOHandler();
    void SetIOHandler(std::shared_ptr<TkezIOHandlerSocket> aHandler);

    // In the calling thread: resolves Host (or the enabled proxy of the I/O handler), connects within
    // ConnectTimeout, sets the options, has the proxy open its tunnel to Host, opens the I/O handler (and its
    // AfterConnect), reports hsConnected and fires OnConnected. Raises on any failure.
    virtual void Connect();
    virtual bool Connected();
    // When the handler is open: reports hsDisconnecting, closes it, fires OnDisconnected, reports
    // hsDisconnected.
    virtual void Disconnect(bool aNotifyPeer);
    // Makes a connect under way on another thread give up within 100 ms (it raises "Connect timed out.").
    void AbortConnect() noexcept { FAbortConnect.store(true); }

    // Reports a status through OnStatus, as the socket layer does itself (a connection that finds its socket
    // already closed announces its disconnect this way).
    void ReportStatus(TkezStatus aStatus) { DoStatus(aStatus); }

    TkezEvent<void(TObject* Sender, TkezStatus aStatus)> OnStatus;
    TNotifyEvent OnConnected;
    TNotifyEvent OnDisconnected;

protected:
    void DoStatus(TkezStatus aStatus) { OnStatus.Fire(this, aStatus); }

private:
    int OpenSocket(const std::string& aHost, uint16_t aPort);
    // A connected socket to Host:Port, through the tunnel of aProxy when it is given.
    int ConnectDirectOrThroughProxy(TkezTransparentProxy* aProxy);

    std::shared_ptr<TkezIOHandlerSocket> FIOHandler;
    bool FOwnHandler = false;
    std::atomic<bool> FAbortConnect{false};
};

} // namespace kez
