#include "kezSocket_OpenSSL.h"

#include "kezSocket_Errors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace kez {

namespace {

// How much of the socket a session reads at once, records read ahead included.
constexpr size_t ReadAheadSize = 128 * 1024;

// The last socket error of this thread's BIO calls: the library may touch errno on its way back.
thread_local int LastSocketErrno = 0;

// The socket BIO of the library writes with write(2), which raises SIGPIPE on a connection the peer has
// closed; this one sends with MSG_NOSIGNAL and never blocks (waits happen outside the session lock).
int BioWrite(BIO* aBio, const char* aData, int aSize) {
    BIO_clear_retry_flags(aBio);
    const int socket = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(aBio)));
    for (;;) {
        const ssize_t n = ::send(socket, aData, static_cast<size_t>(aSize), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        LastSocketErrno = errno;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(aBio);
        return -1;
    }
}

int BioRead(BIO* aBio, char* aData, int aSize) {
    BIO_clear_retry_flags(aBio);
    const int socket = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(aBio)));
    for (;;) {
        const ssize_t n = ::recv(socket, aData, static_cast<size_t>(aSize), MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        LastSocketErrno = errno;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(aBio);
        return -1;
    }
}

int BioPuts(BIO* aBio, const char* aText) {
    return BioWrite(aBio, aText, static_cast<int>(std::strlen(aText)));
}

long BioControl(BIO*, int aCommand, long, void*) { return aCommand == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* aBio) {
    BIO_set_init(aBio, 1);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kez socket");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_puts(m, BioPuts);
        BIO_meth_set_ctrl(m, BioControl);
        BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

int HandlerIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// The library's reason for the newest error of this thread, or an empty text.
std::string LastErrorText() {
    unsigned long code = 0, newest = 0;
    while ((code = ERR_get_error()) != 0)
        newest = code;
    if (newest == 0) return {};
    if (const char* reason = ERR_reason_error_string(newest)) return reason;
    char text[256];
    ERR_error_string_n(newest, text, sizeof text);
    return text;
}

std::string FromBio(BIO* aBio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(aBio, &data);
    std::string text(data, static_cast<size_t>(std::max(size, 0L)));
    BIO_free(aBio);
    return text;
}

std::string NameText(const X509_NAME* aName) {
    if (!aName) return {};
    BIO* out = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(out, aName, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    return FromBio(out);
}

std::string TimeText(const ASN1_TIME* aTime) {
    if (!aTime) return {};
    BIO* out = BIO_new(BIO_s_mem());
    ASN1_TIME_print(out, aTime);
    return FromBio(out);
}

bool IsAddressLiteral(const std::string& aHost) {
    in6_addr address{};
    return ::inet_pton(AF_INET, aHost.c_str(), &address) == 1 ||
           ::inet_pton(AF_INET6, aHost.c_str(), &address) == 1;
}

int ProtocolVersion(TkezSSLVersion aVersion) {
    switch (aVersion) {
    case sslvTLSv1: return TLS1_VERSION;
    case sslvTLSv1_1: return TLS1_1_VERSION;
    case sslvTLSv1_2: return TLS1_2_VERSION;
    case sslvTLSv1_3: return TLS1_3_VERSION;
    }
    return TLS1_3_VERSION;
}

} // namespace

// The C callbacks of the library, with access to the handler they belong to. Nothing may be thrown through
// the library's frames: an exception of a user handler is kept and raised once the library has returned.
struct TkezOpenSSLCallbacks {
    static int Verify(int aOk, X509_STORE_CTX* aStore) {
        auto* ssl =
            static_cast<SSL*>(X509_STORE_CTX_get_ex_data(aStore, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* handler =
            ssl ? static_cast<TkezSSLIOHandlerSocketOpenSSL*>(SSL_get_ex_data(ssl, HandlerIndex())) : nullptr;
        if (!handler || !handler->OnVerifyPeer) return aOk;
        try {
            const TkezX509 certificate(X509_STORE_CTX_get_current_cert(aStore));
            return handler->OnVerifyPeer(certificate, aOk != 0, X509_STORE_CTX_get_error_depth(aStore),
                                         X509_STORE_CTX_get_error(aStore))
                       ? 1
                       : 0;
        } catch (...) {
            handler->FCallbackError = std::current_exception();
            return 0;
        }
    }

    static int Password(char* aBuffer, int aSize, int /*aWriting*/, void* aHandler) {
        auto* handler = static_cast<TkezSSLIOHandlerSocketOpenSSL*>(aHandler);
        try {
            const std::string password = handler->OnGetPassword ? handler->OnGetPassword() : std::string();
            const int size = static_cast<int>(std::min<size_t>(password.size(), static_cast<size_t>(aSize)));
            std::memcpy(aBuffer, password.data(), static_cast<size_t>(size));
            return size;
        } catch (...) {
            handler->FCallbackError = std::current_exception();
            return -1;
        }
    }
};

class TkezSSLIOHandlerSocketOpenSSL::TSessionLock {
public:
    explicit TSessionLock(const TkezSSLIOHandlerSocketOpenSSL& aHandler) : FHandler(aHandler) {
        FHandler.LockSession();
    }
    ~TSessionLock() { FHandler.UnlockSession(); }
    TSessionLock(const TSessionLock&) = delete;
    TSessionLock& operator=(const TSessionLock&) = delete;

private:
    const TkezSSLIOHandlerSocketOpenSSL& FHandler;
};

// --- the certificate ---

std::string TkezX509::Subject() const { return NameText(X509_get_subject_name(FCertificate)); }
std::string TkezX509::Issuer() const { return NameText(X509_get_issuer_name(FCertificate)); }
std::string TkezX509::NotBefore() const { return TimeText(X509_get0_notBefore(FCertificate)); }
std::string TkezX509::NotAfter() const { return TimeText(X509_get0_notAfter(FCertificate)); }

std::string TkezX509::SerialNumber() const {
    BIGNUM* number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(FCertificate), nullptr);
    if (!number) return {};
    char* hex = BN_bn2hex(number);
    std::string text = hex ? hex : "";
    OPENSSL_free(hex);
    BN_free(number);
    return text;
}

std::string TkezX509::Fingerprint() const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!X509_digest(FCertificate, EVP_sha256(), digest, &size)) return {};
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        if (i > 0) text.push_back(':');
        text.push_back(Hex[digest[i] >> 4]);
        text.push_back(Hex[digest[i] & 15]);
    }
    return text;
}

// --- the handler ---

TkezSSLIOHandlerSocketOpenSSL::~TkezSSLIOHandlerSocketOpenSSL() {
    Close();
    FreeSession();
}

void TkezSSLIOHandlerSocketOpenSSL::FreeSession() noexcept {
    if (FSSL) SSL_free(FSSL);
    if (FContext) SSL_CTX_free(FContext);
    FSSL = nullptr;
    FContext = nullptr;
}

ssl_ctx_st* TkezSSLIOHandlerSocketOpenSSL::MakeContext() {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) throw EkezTLSError("TLS: the library could not make a context: " + LastErrorText());
    FContext = context;

    if (SSLVersions().Empty()) throw EkezTLSError("TLS: no protocol version is allowed.");
    TkezSSLVersion lowest = sslvTLSv1_3, highest = sslvTLSv1;
    for (TkezSSLVersion v : {sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3})
        if (SSLVersions().Contains(v)) {
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
        }
    SSL_CTX_set_min_proto_version(context, ProtocolVersion(lowest));
    SSL_CTX_set_max_proto_version(context, ProtocolVersion(highest));
    // Versions below 1.2 are refused at the library's default security level; asking for one of them alone
    // means asking for it to work.
    if (highest < sslvTLSv1_2) SSL_CTX_set_security_level(context, 0);
    // A peer that closes without a close_notify simply ends the connection: AMQP frames carry their own
    // lengths, so no truncation goes unnoticed.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Records are taken from the socket as many at a time as have arrived (up to ReadAheadSize), not with two
    // receives each (header, then body): a 1 MiB message is 64 records. What this leaves in the session after
    // a receive that filled its room is reported by HasPendingRaw.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, ReadAheadSize);

    if (!ALPNProtocols().empty()) {
        std::vector<unsigned char> wire;
        for (const std::string& protocol : ALPNProtocols()) {
            if (protocol.empty() || protocol.size() > 255)
                throw EkezTLSError("TLS: an ALPN protocol name must have 1 to 255 octets.");
            wire.push_back(static_cast<unsigned char>(protocol.size()));
            wire.insert(wire.end(), protocol.begin(), protocol.end());
        }
        if (SSL_CTX_set_alpn_protos(context, wire.data(), static_cast<unsigned>(wire.size())) != 0)
            throw EkezTLSError("TLS: the ALPN protocols were refused: " + LastErrorText());
    }

    SSL_CTX_set_default_passwd_cb(context, TkezOpenSSLCallbacks::Password);
    SSL_CTX_set_default_passwd_cb_userdata(context, this);
    if (!RootCertFile().empty()) {
        if (SSL_CTX_load_verify_locations(context, RootCertFile().c_str(), nullptr) != 1)
            throw EkezTLSError("TLS: could not load the root certificates \"" + RootCertFile() +
                               "\": " + LastErrorText());
    } else if (VerifyPeer()) {
        SSL_CTX_set_default_verify_paths(context);
    }
    if (!CertFile().empty() && SSL_CTX_use_certificate_chain_file(context, CertFile().c_str()) != 1)
        throw EkezTLSError("TLS: could not load the certificate \"" + CertFile() + "\": " + LastErrorText());
    if (!KeyFile().empty()) {
        if (SSL_CTX_use_PrivateKey_file(context, KeyFile().c_str(), SSL_FILETYPE_PEM) != 1) {
            if (FCallbackError) std::rethrow_exception(std::exchange(FCallbackError, nullptr));
            throw EkezTLSError("TLS: could not load the private key \"" + KeyFile() +
                               "\": " + LastErrorText());
        }
        if (!CertFile().empty() && SSL_CTX_check_private_key(context) != 1)
            throw EkezTLSError("TLS: the private key \"" + KeyFile() +
                               "\" does not belong to the certificate \"" + CertFile() + "\".");
    }
    if (VerifyPeer()) {
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, TkezOpenSSLCallbacks::Verify);
        if (VerifyDepth() >= 0) SSL_CTX_set_verify_depth(context, VerifyDepth());
    } else {
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    }
    return context;
}

void TkezSSLIOHandlerSocketOpenSSL::AfterConnect(const TkezSocketExchange& aExchange) {
    if (PassThrough()) return;
    FreeSession();
    FCallbackError = nullptr;
    ERR_clear_error();
    SSL_CTX* context = MakeContext();
    FSSL = SSL_new(context);
    if (!FSSL) throw EkezTLSError("TLS: the library could not make a session: " + LastErrorText());
    SSL_set_ex_data(FSSL, HandlerIndex(), this);
    BIO* bio = BIO_new(SocketMethod());
    if (!bio) throw EkezTLSError("TLS: the library could not make a socket BIO: " + LastErrorText());
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(aExchange.Socket())));
    SSL_set_bio(FSSL, bio, bio);

    const std::string& host = Host();
    const bool literal = IsAddressLiteral(host);
    // Server name indication carries names only; an address literal there is not allowed.
    if (!host.empty() && !literal) SSL_set_tlsext_host_name(FSSL, host.c_str());
    if (VerifyPeer() && CheckHostName() && !host.empty()) {
        if (literal) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSSL), host.c_str());
        } else {
            SSL_set_hostflags(FSSL, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            SSL_set1_host(FSSL, host.c_str());
        }
    }

    for (;;) {
        ERR_clear_error();
        const int result = SSL_connect(FSSL);
        if (result == 1) {
            // A peer that speaks first may have had its first records read ahead with the handshake's.
            FRoomFilled = SSL_has_pending(FSSL) == 1;
            break;
        }
        const int error = SSL_get_error(FSSL, result);
        if (error == SSL_ERROR_WANT_READ) {
            aExchange.Wait(false);
        } else if (error == SSL_ERROR_WANT_WRITE) {
            aExchange.Wait(true);
        } else {
            if (FCallbackError) std::rethrow_exception(std::exchange(FCallbackError, nullptr));
            const long verdict = SSL_get_verify_result(FSSL);
            if (VerifyPeer() && verdict != X509_V_OK)
                throw EkezTLSError("TLS handshake with " + host + " failed: certificate verify failed: " +
                                   X509_verify_cert_error_string(verdict) + ".");
            RaiseSessionError(result, "TLS handshake with " + host + " failed");
        }
    }
}

void TkezSSLIOHandlerSocketOpenSSL::RaiseSessionError(int aResult, const std::string& aDoing) {
    const int error = SSL_get_error(FSSL, aResult);
    const int socketError = LastSocketErrno;
    std::string reason = LastErrorText();
    if (error == SSL_ERROR_SYSCALL && reason.empty()) {
        if (socketError != 0 && socketError != EAGAIN) RaiseSocketError(socketError);
        reason = "the peer closed the connection";
    }
    if (error == SSL_ERROR_ZERO_RETURN) reason = "the peer closed the TLS session";
    if (reason.empty()) reason = "error " + std::to_string(error);
    throw EkezTLSError(aDoing + ": " + reason + ".");
}

std::string TkezSSLIOHandlerSocketOpenSSL::SelectedALPN() const {
    if (!FSSL) return {};
    TSessionLock lock(*this);
    const unsigned char* data = nullptr;
    unsigned int size = 0;
    SSL_get0_alpn_selected(FSSL, &data, &size);
    return std::string(reinterpret_cast<const char*>(data), data ? size : 0);
}

std::string TkezSSLIOHandlerSocketOpenSSL::SessionVersion() const {
    if (!FSSL) return {};
    TSessionLock lock(*this);
    return SSL_get_version(FSSL);
}

ptrdiff_t TkezSSLIOHandlerSocketOpenSSL::ReceiveRaw(uint8_t* aBuffer, size_t aSize) {
    if (PassThrough()) return TkezIOHandlerSocket::ReceiveRaw(aBuffer, aSize);
    if (!FSSL) return -1;
    TSessionLock lock(*this);
    // One record per read would make every record cost a wait and a hand-over; records that have arrived
    // are taken in together, as a plain socket's receive takes in all that is there. What was read is
    // returned before an end or an error, which the next call then reports.
    // An error left behind data last time is still in this thread's queue: kept for its text.
    bool clearErrors = !std::exchange(FEndBehindData, false);
    // Set again below when the room runs out before the session does.
    FRoomFilled = false;
    size_t total = 0;
    while (total < aSize) {
        if (clearErrors) ERR_clear_error();
        clearErrors = true;
        LastSocketErrno = 0;
        size_t read = 0;
        const int result = SSL_read_ex(FSSL, aBuffer + total, aSize - total, &read);
        if (result == 1) {
            total += read;
            continue;
        }
        const int error = SSL_get_error(FSSL, result);
        if (total > 0) {
            FEndBehindData = error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE;
            break;
        }
        switch (error) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE: return -1;
        case SSL_ERROR_ZERO_RETURN: return 0;
        case SSL_ERROR_SYSCALL:
            if (LastSocketErrno == 0 || LastSocketErrno == EAGAIN) return 0;
            RaiseSocketError(LastSocketErrno);
        default: RaiseSessionError(result, "TLS receive failed");
        }
    }
    // Records read ahead may wait in the session although the socket has nothing more to say.
    FRoomFilled = total == aSize;
    return static_cast<ptrdiff_t>(total);
}

void TkezSSLIOHandlerSocketOpenSSL::SendRaw(const uint8_t* aBuffer, size_t aSize) {
    if (PassThrough()) return TkezIOHandlerSocket::SendRaw(aBuffer, aSize);
    if (!FSSL) throw EkezClosedSocket("Socket is closed.");
    std::lock_guard writer(FWriteLock);
    while (aSize > 0) {
        short waitFor = 0;
        {
            TSessionLock lock(*this);
            ERR_clear_error();
            LastSocketErrno = 0;
            size_t written = 0;
            const int result = SSL_write_ex(FSSL, aBuffer, aSize, &written);
            if (result == 1) {
                aBuffer += written;
                aSize -= written;
                continue;
            }
            const int error = SSL_get_error(FSSL, result);
            if (error == SSL_ERROR_WANT_WRITE)
                waitFor = POLLOUT;
            else if (error == SSL_ERROR_WANT_READ)
                waitFor = POLLIN;
            else if (error == SSL_ERROR_SYSCALL && LastSocketErrno != 0)
                RaiseSocketError(LastSocketErrno);
            else
                RaiseSessionError(result, "TLS send failed");
        }
        // Waiting happens outside the session lock, so that the reader goes on meanwhile.
        pollfd waiter{Handle(), waitFor, 0};
        const int timeout = SendTimeoutMs() > 0 ? SendTimeoutMs() : -1;
        const int ready =
            ::poll(&waiter, 1, waitFor == POLLIN ? std::min(timeout < 0 ? 10 : timeout, 10) : timeout);
        if (ready < 0 && errno != EINTR) RaiseLastSocketError();
        if (ready == 0 && waitFor == POLLOUT) RaiseSocketError(ETIMEDOUT); // the send time-out
    }
}

bool TkezSSLIOHandlerSocketOpenSSL::HasPendingRaw() const {
    if (PassThrough() || !FSSL) return false;
    TSessionLock lock(*this);
    return FEndBehindData || FRoomFilled || SSL_pending(FSSL) > 0;
}

void TkezSSLIOHandlerSocketOpenSSL::DoClose() {
    // The socket is already shut down for both directions: a close_notify could not leave any more. The
    // session stays until the handler goes, since a writer may still look at it under its own lock.
}

} // namespace kez
