// The socket client component: owns one TCP connection to Host:Port, runs a read thread that hands every
// block of received bytes to the protocol components attached to it, writes whatever they give it, watches
// the connection (heartbeat, watchdog) and reports connect, disconnect, data and errors. Raw TCP mode
// (Specifications.RFC6455 false) passes bytes unframed both ways.
#pragma once

#include "kezSocket_Proxy.h"
#include "kezTCP_Client.h"
#include "kezWebSocket_Classes_TLSHandler.h"
#include "kezWebSocket_Classes_TLSOptions.h"
#include "kezWebSocket_Classes_WSComponent.h"

#include <condition_variable>

namespace kez {

using TkezSSLGetHandlerEvent =
    TkezEvent<void(TObject* Sender, TwsSSLHandler aType, std::shared_ptr<TkezIOHandlerSocket>& aSSLHandler)>;
using TkezSSLAfterCreateHandlerEvent = TkezEvent<void(
    TObject* Sender, TwsSSLHandler aType, const std::shared_ptr<TkezIOHandlerSocket>& aSSLHandler)>;
using TkezSSLVerifyPeerEvent = TkezEvent<void(TObject* Sender, const TkezX509& Certificate, bool AOk,
                                              int ADepth, int AError, bool& Accept)>;

class TkezWSClient : public TkezWSComponent {
public:
    TkezWSClient();
    ~TkezWSClient() override;

    // --- connecting ---
    // True exactly while a connection object exists. Setting it connects or disconnects in the calling thread
    // (the connect and disconnect events included); it never raises: failures go to OnException.
    bool Active() const;
    void SetActive(bool aValue);
    // Sets Active and waits up to aTimeout ms for an enabled connection.
    bool Connect(int aTimeout);
    // Clears Active and waits up to aTimeout ms for the connection to go.
    bool Disconnect(int aTimeout);
    bool Connected();
    // Set or clear Active on a thread of their own, under the main lock; both return at once.
    void Start();
    void Stop();

    // --- writing ---
    void WriteData(const std::string& aText, int64_t aSize = 0, TwsStreaming aStreaming = stmNone);
    void WriteData(TStream& aStream, int64_t aSize = 0, TwsStreaming aStreaming = stmNone);
    // The octets as they are, without a stream around them.
    void WriteData(TBytesView aBytes);
    void WriteData(TBytesPieces aPieces);
    std::string WriteAndWaitData(const std::string& aText, int aTimeout);
    // An empty text pings with the local time, "yyyymmddhhnnsszzz".
    void Ping(const std::string& aText);
    bool Ping(int aTimeout, const std::string& aText);

    // --- protocol components ---
    void RegisterProtocol(TkezWSProtocolObject* aObject);
    void UnRegisterProtocol(TkezWSProtocolObject* aObject);
    using TkezWSComponent::RegisterProtocol;
    using TkezWSComponent::UnRegisterProtocol;

    // --- properties ---
    KEZ_PROPERTY(std::string, Host)
    KEZ_PROPERTY(int, Port, 80)
    KEZ_PROPERTY(int, ConnectTimeout, 0)
    KEZ_PROPERTY(int, ReadTimeout, -1)
    KEZ_PROPERTY(int, WriteTimeout, 0)
    KEZ_PROPERTY(bool, TLS, false)
    KEZ_PROPERTY(TkezIPVersion, IPVersion, ipv4)
    KEZ_PROPERTY(std::string, BoundIP)
    KEZ_PROPERTY(uint16_t, BoundPort, 0)
    KEZ_PROPERTY(uint16_t, BoundPortMin, 0)
    KEZ_PROPERTY(uint16_t, BoundPortMax, 0)
    KEZ_PROPERTY(bool, UseNagle, false)
    KEZ_PROPERTY(int, LingerState, -1)
public:
    // Parsed into Host, Port, TLS, Specifications.RFC6455 and Options.Parameters.
    void SetURL(const std::string& aURL);
    TkezWSTLS_Options& TLSOptions() noexcept { return FTLSOptions; }
    void SetTLSOptions(const TkezWSTLS_Options& aValue) { FTLSOptions.Assign(aValue); }
    TkezWSProxy_Options& Proxy() noexcept { return FProxy; }
    void SetProxy(const TkezWSProxy_Options& aValue) { FProxy.Assign(aValue); }
    TkezWSOptionsClient& Options() noexcept { return FOptions; }
    void SetOptions(const TkezWSOptionsClient& aValue) { FOptions.Assign(aValue); }
    // The Hixie-76 draft is forced off at every read.
    TkezWSSpecifications& Specifications();
    TkezWSAuthenticationClient_Options& Authentication() noexcept { return FAuthentication; }
    TkezWSExtensions& Extensions() noexcept { return FExtensions; }
    TkezWSLoadBalancerClient_Options& LoadBalancer() noexcept { return FLoadBalancer; }
    TkezWSQueueClient_Options& QueueOptions() noexcept { return FQueueOptions; }
    TkezWSThrottle& Throttle() noexcept { return FThrottle; }
    TkezWSLogFile& LogFile() noexcept { return FLogFile; }
    TkezTCPKeepAlive& TCPKeepAlive() noexcept { return FTCPKeepAlive; }
    bool FreeConnectionOnDestroy() const noexcept { return FFreeConnectionOnDestroy.load(); }
    void SetFreeConnectionOnDestroy(bool aValue) noexcept { FFreeConnectionOnDestroy.store(aValue); }
    // Setting it also sets FreeConnectionOnDestroy to (aValue == neNoSync).
    void SetNotifyEvents(TwsNotifyEvent aValue) override;

    // The current connection, or null.
    TkezWSConnectionPtr Connection() const;
    // Keeps a delivered connection until the next one is delivered (neNoSync: a handler may still look at
    // it).
    void HoldDelayedConnection(const TkezWSConnectionPtr& aConnection);
    // The names of the registered protocol components, joined with commas ("amqp" with the AMQP component).
    std::string Protocol() const;

    TNotifyEvent OnBeforeConnect;
    TkezWSConnectEvent OnHandshake;
    // A handler supplied here is used as it is, instead of one made from TLSOptions.
    TkezSSLGetHandlerEvent OnSSLGetHandler;
    TkezSSLAfterCreateHandlerEvent OnSSLAfterCreateHandler;
    // Each certificate of the server's chain as it is verified (with VerifyCertificate); Accept starts as
    // AOk, and the handler may overrule it either way. Raised on the connecting thread.
    TkezSSLVerifyPeerEvent OnSSLVerifyPeer;

protected:
    // --- the TCP client object's callbacks ---
    virtual void DoTCPConnected();
    virtual void DoTCPStatus(TkezStatus aStatus);
    virtual void DoTCPDisconnected();
    virtual void DoTCPReadThreadCycle() {}
    virtual void DoTCPRead();
    virtual void DoTCPReadException(const std::exception& E);
    // --- the connection's callbacks ---
    virtual void DoConnectionEnabled(const TkezWSConnectionPtr& aConnection);
    virtual void DoConnectionBinary(const TkezWSConnectionPtr& aConnection);
    virtual void DoConnectionMessage(const TkezWSConnectionPtr& aConnection);
    virtual void DoBeforeDisconnect(const TkezWSConnectionPtr& aConnection);
    virtual void DoPing(const std::string& aText);
    virtual void StopReadThread();
    // With TLS: makes the activation's TLS I/O handler and installs it on the TCP client object; without:
    // removes one left over.
    virtual void PrepareTLSHandler();
    // The handler OnSSLGetHandler supplies, or one made from TLSOptions.
    virtual std::shared_ptr<TkezIOHandlerSocket> DoCreateTLSHandler(TwsSSLHandler aType);
    virtual bool DoVerifyPeer(const TkezX509& aCertificate, bool AOk, int ADepth, int AError);
    virtual std::string DoGetTLSPassword() { return TLSOptions().Password(); }
    // Gives the TCP client object the proxy of this activation (while Proxy.Enabled).
    virtual void InstallProxy();

    void DoNotifyDisconnect(const TkezWSConnectionPtr& aConnection) override;
    // A connection stands: the watchdog stops and its attempts start counting from 0 again.
    void DoConnectEvent(const TkezWSConnectionPtr& aConnection) override;
    void DoDisconnectEvent(const TkezWSConnectionPtr& aConnection, int aCode) override;
    void FreeConnection(const TkezWSConnectionPtr& aConnection) override;
    void DoHeartBeatTimer() override;
    void DoHeartBeatTimeoutTimer() override;
    void DoWatchDogTimer() override;
    TkezWSConnectionPtr CurrentConnection() override { return Connection(); }
    void Loaded() override;

    // The TCP client object of this activation, made on first use.
    std::shared_ptr<TkezWSCustomClient> TCPClient();
    void FreeTransportObjects();
    void StopTimersAndReadThread();
    bool Connecting() const noexcept { return FConnecting.load(); }
    // Stops everything and waits for the calls in flight: the destructor of the most derived class calls it
    // first, so that no thread makes a virtual call into an object being taken down. Idempotent.
    void ShutdownClient();

private:
    void Activate();
    void Deactivate();
    void SetConnection(TkezWSConnectionPtr aConnection);
    bool TCPClientIs(const TkezWSCustomClient* aClient) const;
    void WaitConnectionChange(const std::function<bool()>& aDone, int aTimeoutMs);
    void StartClientThread(bool aActive);
    // Runs aWrite on the current connection, if any; a failure is reported through the error event, not
    // thrown to the writer. A template, so that the writes' path makes no call through a std::function.
    template <typename TWrite>
    void WriteThrough(const TWrite& aWrite);

    TkezWSTLS_Options FTLSOptions;
    TkezWSProxy_Options FProxy;
    TkezWSOptionsClient FOptions;
    TkezWSSpecifications FSpecifications;
    TkezWSAuthenticationClient_Options FAuthentication;
    TkezWSExtensions FExtensions;
    TkezWSLoadBalancerClient_Options FLoadBalancer;
    TkezWSQueueClient_Options FQueueOptions;
    TkezWSThrottle FThrottle;
    TkezWSLogFile FLogFile;
    TkezTCPKeepAlive FTCPKeepAlive;
    std::atomic<bool> FFreeConnectionOnDestroy{false};

    mutable std::mutex FConnectionLock;
    std::condition_variable FConnectionChanged;
    TkezWSConnectionPtr FWSConnection;
    TkezWSConnectionPtr FDelayedConnection;
    std::shared_ptr<TkezWSCustomClient> FTCPClient;
    // The transport objects of one activation, freed at the start of the next.
    std::shared_ptr<TkezIOHandlerSocket> FTLSHandler;
    std::shared_ptr<TkezIOHandlerSocket> FPlainIOHandler;
    std::shared_ptr<TkezConnectThroughHttpProxy> FHttpProxy;
    std::shared_ptr<TkezSocksInfo> FSocksInfo;
    std::atomic<bool> FDisconnecting{false};
    std::atomic<bool> FReadingThread{false};
    std::atomic<bool> FConnecting{false};
    std::atomic<bool> FThreadStart{false};
    bool FStoredActive = false;
};

// The component as published.
class TkezWebSocketClient : public TkezWSClient {
public:
    ~TkezWebSocketClient() override { ShutdownClient(); }
};

} // namespace kez
