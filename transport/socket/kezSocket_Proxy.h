// Proxies the socket layer connects through: the TCP client connects to the proxy instead of the server and
// has the proxy open a tunnel to the server; everything after (a TLS handshake included) runs through it.
#pragma once

#include "kezSocket_Exchange.h"

#include <cstdint>
#include <string>

namespace kez {

class TkezTransparentProxy : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    KEZ_PROPERTY(std::string, Host)
    KEZ_PROPERTY(uint16_t, Port, 0)
    KEZ_PROPERTY(std::string, Username)
    KEZ_PROPERTY(std::string, Password)
public:
    // Called once per connect, before its first attempt.
    virtual void BeginConnect() {}
    // Opens the tunnel to aHost:aPort over a fresh connection to the proxy. False: the proxy asks for the
    // next attempt on a new connection. Raises when the proxy refuses.
    virtual bool Negotiate(const TkezSocketExchange& aExchange, const std::string& aHost, uint16_t aPort) = 0;
};

// HTTP CONNECT. The first attempt of a connect sends no credentials; a 407 answered while Username or
// Password is set is tried again with basic authentication.
class TkezConnectThroughHttpProxy : public TkezTransparentProxy {
public:
    void BeginConnect() override { FSendCredentials = false; }
    bool Negotiate(const TkezSocketExchange& aExchange, const std::string& aHost, uint16_t aPort) override;

private:
    bool FSendCredentials = false;
};

enum TkezSocksVersion : uint8_t { svSocks4, svSocks4A, svSocks5 };
enum TkezSocksAuthentication : uint8_t { saNoAuthentication, saUsernamePassword };

// SOCKS 4 (an IPv4 address, resolved here), 4A (the name, resolved by the proxy) and 5.
class TkezSocksInfo : public TkezTransparentProxy {
public:
    KEZ_PROPERTY(TkezSocksVersion, Version, svSocks5)
    KEZ_PROPERTY(TkezSocksAuthentication, Authentication, saNoAuthentication)
public:
    bool Negotiate(const TkezSocketExchange& aExchange, const std::string& aHost, uint16_t aPort) override;

private:
    void NegotiateSocks4(const TkezSocketExchange& aExchange, const std::string& aHost, uint16_t aPort);
    void NegotiateSocks5(const TkezSocketExchange& aExchange, const std::string& aHost, uint16_t aPort);
};

// Standard Base64 with padding, as HTTP basic authentication writes it.
std::string EncodeBase64(const std::string& aText);

} // namespace kez
