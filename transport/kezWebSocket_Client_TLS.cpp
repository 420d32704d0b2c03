// The socket client's TLS handler and proxy, made anew for every activation from TLSOptions and Proxy.
#include "kezWebSocket_Client.h"

#include <algorithm>

namespace kez {

namespace {

TkezSSLVersions VersionsOf(TwsTLSVersions aVersion) {
    switch (aVersion) {
    case tls1_0: return {sslvTLSv1};
    case tls1_1: return {sslvTLSv1_1};
    case tls1_2: return {sslvTLSv1_2};
    case tls1_3: return {sslvTLSv1_3};
    case tlsUndefined: break;
    }
    return {sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3};
}

} // namespace

void TkezWSClient::PrepareTLSHandler() {
    const std::shared_ptr<TkezWSCustomClient> tcp = TCPClient();
    if (!TLS()) {
        if (FTLSHandler) {
            if (tcp->IOHandler() == FTLSHandler) tcp->SetIOHandler(nullptr);
            FTLSHandler.reset();
        }
        return;
    }
    if (!FTLSHandler) {
        if (Specifications().RFC8441()) {
            std::vector<std::string> protocols = TLSOptions().ALPNProtocols();
            if (std::find(protocols.begin(), protocols.end(), "h2") == protocols.end()) {
                protocols.push_back("h2");
                TLSOptions().SetALPNProtocols(std::move(protocols));
            }
        }
        FTLSHandler = DoCreateTLSHandler(sslClient);
    }
    tcp->SetIOHandler(FTLSHandler);
}

std::shared_ptr<TkezIOHandlerSocket> TkezWSClient::DoCreateTLSHandler(TwsSSLHandler aType) {
    std::shared_ptr<TkezIOHandlerSocket> handler;
    OnSSLGetHandler.Fire(this, aType, handler);
    if (handler) return handler;

    const TkezWSTLS_Options& options = TLSOptions();
    if (options.IOHandler() == iohSChannel)
        throw EkezTLSError(
            "TLS: the SChannel provider does not exist on this platform; set TLSOptions.IOHandler "
            "to iohOpenSSL.");
    // APIVersion, LibPath, LibPathCustom and UnixSymLinks name Windows libraries: this build uses the OpenSSL
    // it was linked with, whatever they say.
    auto openssl = std::make_shared<TkezVoxSSLIOHandlerSocketOpenSSL>();
    openssl->SetPassThrough(false);
    openssl->SetSSLVersions(VersionsOf(options.Version()));
    openssl->SetALPNProtocols(options.ALPNProtocols());
    openssl->SetRootCertFile(options.RootCertFile());
    openssl->SetCertFile(options.CertFile());
    openssl->SetKeyFile(options.KeyFile());
    openssl->SetVerifyPeer(options.VerifyCertificate());
    // The name the certificate must carry is the server's, also when a proxy carries the connection.
    openssl->SetCheckHostName(true);
    if (options.VerifyCertificate()) {
        openssl->OnVerifyPeer = [this](const TkezX509& aCertificate, bool aOk, int aDepth, int aError) {
            return DoVerifyPeer(aCertificate, aOk, aDepth, aError);
        };
        if (options.VerifyDepth() >= 0) openssl->SetVerifyDepth(options.VerifyDepth());
    }
    openssl->OnGetPassword = [this] { return DoGetTLSPassword(); };
    handler = openssl;
    OnSSLAfterCreateHandler.Fire(this, aType, handler);
    return handler;
}

bool TkezWSClient::DoVerifyPeer(const TkezX509& aCertificate, bool AOk, int ADepth, int AError) {
    bool accept = AOk;
    OnSSLVerifyPeer.Fire(this, aCertificate, AOk, ADepth, AError, accept);
    return accept;
}

void TkezWSClient::InstallProxy() {
    const std::shared_ptr<TkezWSCustomClient> tcp = TCPClient();
    std::shared_ptr<TkezIOHandlerSocket> carrier = TLS() ? FTLSHandler : nullptr;
    if (!carrier) {
        if (!FPlainIOHandler) FPlainIOHandler = std::make_shared<TkezIOHandlerSocket>();
        carrier = FPlainIOHandler;
    }
    tcp->SetIOHandler(carrier);

    const TkezWSProxy_Options& options = Proxy();
    std::shared_ptr<TkezTransparentProxy> proxy;
    if (options.ProxyType() == pxyHTTP) {
        if (!FHttpProxy) FHttpProxy = std::make_shared<TkezConnectThroughHttpProxy>();
        proxy = FHttpProxy;
        FSocksInfo.reset();
    } else {
        if (!FSocksInfo) FSocksInfo = std::make_shared<TkezSocksInfo>();
        FSocksInfo->SetVersion(options.ProxyType() == pxySocks4    ? svSocks4
                               : options.ProxyType() == pxySocks4A ? svSocks4A
                                                                   : svSocks5);
        FSocksInfo->SetAuthentication(options.Username().empty() ? saNoAuthentication : saUsernamePassword);
        proxy = FSocksInfo;
        FHttpProxy.reset();
    }
    proxy->SetHost(options.Host());
    proxy->SetPort(static_cast<uint16_t>(options.Port() & 0xFFFF));
    proxy->SetUsername(options.Username());
    proxy->SetPassword(options.Password());
    proxy->SetEnabled(options.Enabled());
    carrier->SetTransparentProxy(proxy);
}

} // namespace kez
