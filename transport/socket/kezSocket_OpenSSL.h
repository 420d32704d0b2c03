// The TLS I/O handler on OpenSSL: the handshake runs in AfterConnect (after any proxy has opened its tunnel),
// then every receive and send of the transport goes through the TLS session. The session itself is not safe
// for two threads at once: a descendant serialises the calls through LockSession/UnlockSession.
#pragma once

#include "kezBase_Classes.h"
#include "kezSocket_IOHandler.h"

#include <exception>
#include <mutex>
#include <string>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;
struct x509_st;

namespace kez {

enum TkezSSLVersion : uint8_t { sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3 };
using TkezSSLVersions = TkezSet<TkezSSLVersion>;

// A certificate of the peer's chain as the verification sees it; valid only during the call it is passed to.
class TkezX509 {
public:
    explicit TkezX509(x509_st* aCertificate) noexcept : FCertificate(aCertificate) {}
    // Names in the one-line form "CN=localhost, O=Example".
    std::string Subject() const;
    std::string Issuer() const;
    std::string SerialNumber() const;
    // SHA-256 over the DER form, as upper-case hex pairs joined by ':'.
    std::string Fingerprint() const;
    std::string NotBefore() const;
    std::string NotAfter() const;
    x509_st* Handle() const noexcept { return FCertificate; }

private:
    x509_st* FCertificate;
};

class TkezSSLIOHandlerSocketOpenSSL : public TkezIOHandlerSocket {
public:
    TkezSSLIOHandlerSocketOpenSSL() = default;
    ~TkezSSLIOHandlerSocketOpenSSL() override;

    // While set the handler is a plain socket handler (no handshake, no TLS).
    KEZ_PROPERTY(bool, PassThrough, true)
    // The versions allowed: the lowest and highest of the set bound the range offered.
    KEZ_PROPERTY(TkezSSLVersions, SSLVersions, {sslvTLSv1_2, sslvTLSv1_3})
    KEZ_PROPERTY(std::vector<std::string>, ALPNProtocols)
    KEZ_PROPERTY(std::string, RootCertFile)
    KEZ_PROPERTY(std::string, CertFile)
    KEZ_PROPERTY(std::string, KeyFile)
    KEZ_PROPERTY(bool, VerifyPeer, false)
    // Applied when 0 or more; below 0 the library's default depth stays.
    KEZ_PROPERTY(int, VerifyDepth, -1)
    // With VerifyPeer: the certificate must name the host the connection was asked for (a name or an
    // address literal).
    KEZ_PROPERTY(bool, CheckHostName, true)
public:
    // The protocol ALPN settled on, after the handshake.
    std::string SelectedALPN() const;
    // The TLS version of the session, "TLSv1.3" style, after the handshake.
    std::string SessionVersion() const;

    // Each certificate of the chain, deepest first; the result decides whether the chain is accepted at that
    // point. Unassigned: the library's verdict (aOk) stands.
    TkezEvent<bool(const TkezX509& aCertificate, bool aOk, int aDepth, int aError)> OnVerifyPeer;
    // The pass phrase of KeyFile, asked for when the key is encrypted.
    TkezEvent<std::string()> OnGetPassword;

    void AfterConnect(const TkezSocketExchange& aExchange) override;

protected:
    ptrdiff_t ReceiveRaw(uint8_t* aBuffer, size_t aSize) override;
    void SendRaw(const uint8_t* aBuffer, size_t aSize) override;
    bool HasPendingRaw() const override;
    // Records arrive and are decoded within ReceiveRaw, which never waits.
    bool WaitsInReceive() const override { return false; }
    // Pieces are encrypted from one block, so that small ones do not each become a record.
    bool GathersWrites() const override { return PassThrough(); }
    bool Readable() const override { return PassThrough() || FSSL != nullptr; }
    void DoClose() override;
    // Around every call into the session; a descendant shared by a reader and writers locks here.
    virtual void LockSession() const {}
    virtual void UnlockSession() const {}

private:
    friend struct TkezOpenSSLCallbacks;
    class TSessionLock;

    ssl_ctx_st* MakeContext();
    void FreeSession() noexcept;
    [[noreturn]] void RaiseSessionError(int aResult, const std::string& aDoing);

    ssl_ctx_st* FContext = nullptr;
    ssl_st* FSSL = nullptr;
    // An exception of a user callback, carried across the library's C frames and raised after them.
    std::exception_ptr FCallbackError;
    // One writer at a time: a send waiting for room must retry with the session's pending record.
    std::mutex FWriteLock;
    // A receive that returned records met the session's end or an error behind them: the next receive
    // reports it at once instead of waiting for octets that may never come (under the session lock).
    bool FEndBehindData = false;
    // The last receive stopped because the caller's room ran out, not because the session had nothing
    // more: records read ahead may be waiting (under the session lock).
    bool FRoomFilled = false;
};

} // namespace kez
