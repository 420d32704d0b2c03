// The errors of the socket layer. The transport tells some of them apart: the silent family (a closed
// connection is not a failure to shout about), and the error of an operation on a socket the program has
// already closed. Each kind can copy itself, so that an exception can be handed to another thread.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace kez {

// Base of every error of the socket layer and the transport.
class EkezSocketLayerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    virtual std::shared_ptr<std::exception> Clone() const {
        return std::make_shared<EkezSocketLayerError>(*this);
    }
};

#define KEZ_SOCKET_ERROR(Name, Base)                                                                         \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
        std::shared_ptr<std::exception> Clone() const override { return std::make_shared<Name>(*this); }     \
    };

// The silent family: errors that end a connection in the normal course of things.
KEZ_SOCKET_ERROR(EkezSilentException, EkezSocketLayerError)
KEZ_SOCKET_ERROR(EkezConnClosedGracefully, EkezSilentException)
// An operation on a socket that this program has closed already.
KEZ_SOCKET_ERROR(EkezClosedSocket, EkezSocketLayerError)
KEZ_SOCKET_ERROR(EkezSocketHandleError, EkezSocketLayerError)
KEZ_SOCKET_ERROR(EkezCouldNotBindSocket, EkezSocketLayerError)
KEZ_SOCKET_ERROR(EkezCanNotBindPortInRange, EkezSocketLayerError)
KEZ_SOCKET_ERROR(EkezInvalidPortRange, EkezSocketLayerError)
KEZ_SOCKET_ERROR(EkezCannotSetIPVersionWhenConnected, EkezSocketLayerError)
KEZ_SOCKET_ERROR(EkezReadTimeout, EkezSocketLayerError)
// A proxy refused to open the tunnel, or answered what the negotiation does not understand.
KEZ_SOCKET_ERROR(EkezProxyError, EkezSocketLayerError)
// The TLS layer failed: a handshake, a certificate, a key, or a record on an open session.
KEZ_SOCKET_ERROR(EkezTLSError, EkezSocketLayerError)
#undef KEZ_SOCKET_ERROR

// An operating-system socket error, with its errno.
class EkezSocketError : public EkezSocketLayerError {
public:
    EkezSocketError(int aErrorCode, const std::string& aMessage)
        : EkezSocketLayerError(aMessage), FErrorCode(aErrorCode) {}
    int ErrorCode() const noexcept { return FErrorCode; }
    std::shared_ptr<std::exception> Clone() const override {
        return std::make_shared<EkezSocketError>(*this);
    }

private:
    int FErrorCode;
};

// "Socket Error # 111\nConnection refused." style text for an errno, raised as EkezSocketError.
[[noreturn]] void RaiseSocketError(int aErrorCode);
// Raises the error of the last failed call (errno).
[[noreturn]] void RaiseLastSocketError();

inline constexpr const char* SConnectionClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* SHostRequired = "A Host is required";
inline constexpr const char* SPortRequired = "A Port is required";
inline constexpr const char* SAlreadyConnected = "Already connected.";
inline constexpr const char* SConnectTimeout = "Connect timed out.";
inline constexpr const char* SReadTimeout = "Read timed out.";

} // namespace kez
