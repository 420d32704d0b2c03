// TLS and proxy options of the socket client. They are values copied by Assign; the client turns them into a
// TLS I/O handler and a proxy negotiation before each connect.
#pragma once

#include "kezBase_Classes.h"

#include <string>
#include <vector>

namespace kez {

enum TwsTLSVersions : uint8_t { tlsUndefined, tls1_0, tls1_1, tls1_2, tls1_3 };
enum TwsTLSIOHandler : uint8_t { iohOpenSSL, iohSChannel };
enum TwsOpenSSLAPI : uint8_t { oslAPI_1_0, oslAPI_1_1, oslAPI_3_0 };
enum TwsOpenSSLLibPath : uint8_t { oslpNone, oslpDefaultFolder, oslpCustomPath };
enum TwsOpenSSLSymLinks : uint8_t {
    oslsSymLinksDefault,
    oslsSymLinksLoadFirst,
    oslsSymLinksLoad,
    oslsSymLinksDontLoad
};
enum TkezSChannelCertStoreName : uint8_t { scsnMY, scsnRoot, scsnTrust, scsnCA };
enum TkezSChannelCertStorePath : uint8_t { scspStoreCurrentUser, scspStoreLocalMachine };
enum TwsProxy : uint8_t { pxyHTTP, pxySocks4, pxySocks4A, pxySocks5 };

// Kept and copied, but this build always uses the OpenSSL it was linked with.
class TkezSocketOpenSSL_Options : public TObject {
public:
    KEZ_PROPERTY(TwsOpenSSLAPI, APIVersion, oslAPI_1_0)
    KEZ_PROPERTY(TwsOpenSSLLibPath, LibPath, oslpNone)
    KEZ_PROPERTY(std::string, LibPathCustom)
    KEZ_PROPERTY(TwsOpenSSLSymLinks, UnixSymLinks, oslsSymLinksDefault)
public:
    void Assign(const TkezSocketOpenSSL_Options& aSource) { *this = aSource; }
};

class TkezOpenSSLClient_Options : public TkezSocketOpenSSL_Options {};

// Kept and copied for programs that set them; the provider they belong to does not exist here.
class TkezSocketSChannel_Options : public TObject {
public:
    KEZ_PROPERTY(std::string, CertHash)
    KEZ_PROPERTY(TkezSChannelCertStoreName, CertStoreName, scsnMY)
    KEZ_PROPERTY(TkezSChannelCertStorePath, CertStorePath, scspStoreCurrentUser)
    KEZ_PROPERTY(std::string, CipherList)
public:
    void Assign(const TkezSocketSChannel_Options& aSource) { *this = aSource; }
};

class TkezSChannelClient_Options : public TkezSocketSChannel_Options {};

// The options live in the root of the chain; each layer above names them for its own component.
class TkezSocketTLS_Options_Base : public TObject {
public:
    KEZ_PROPERTY(std::string, CertFile)
    KEZ_PROPERTY(std::string, KeyFile)
    KEZ_PROPERTY(std::string, Password)
    KEZ_PROPERTY(std::string, RootCertFile)
    KEZ_PROPERTY(bool, VerifyCertificate, false)
    KEZ_PROPERTY(int, VerifyDepth, 0)
    KEZ_PROPERTY(TwsTLSVersions, Version, tlsUndefined)
    KEZ_PROPERTY(std::vector<std::string>, ALPNProtocols)
    KEZ_PROPERTY(TwsTLSIOHandler, IOHandler, iohOpenSSL)
public:
    TkezOpenSSLClient_Options& OpenSSL_Options() noexcept { return FOpenSSL_Options; }
    const TkezOpenSSLClient_Options& OpenSSL_Options() const noexcept { return FOpenSSL_Options; }
    TkezSChannelClient_Options& SChannel_Options() noexcept { return FSChannel_Options; }
    const TkezSChannelClient_Options& SChannel_Options() const noexcept { return FSChannel_Options; }
    // Every field, the provider groups included.
    void Assign(const TkezSocketTLS_Options_Base& aSource) { *this = aSource; }

private:
    TkezOpenSSLClient_Options FOpenSSL_Options;
    TkezSChannelClient_Options FSChannel_Options;
};

class TkezSocketTLS_Options : public TkezSocketTLS_Options_Base {};
class TkezTCPTLS_Options : public TkezSocketTLS_Options {};
class TkezWSTLS_Options : public TkezTCPTLS_Options {};

class TkezSocketProxy_Options : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    KEZ_PROPERTY(std::string, Host)
    KEZ_PROPERTY(int, Port, 8080)
    KEZ_PROPERTY(TwsProxy, ProxyType, pxyHTTP)
    KEZ_PROPERTY(std::string, Username)
    KEZ_PROPERTY(std::string, Password)
public:
    void Assign(const TkezSocketProxy_Options& aSource) { *this = aSource; }
};

class TkezTCPProxy_Options : public TkezSocketProxy_Options {};
class TkezWSProxy_Options : public TkezTCPProxy_Options {};

} // namespace kez
