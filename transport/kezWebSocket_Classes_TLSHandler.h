// The TLS I/O handler the socket client installs: the socket layer's OpenSSL handler with a lock of its own
// around every call into the session, since the read thread receives while writers send on the same session.
#pragma once

#include "kezSocket_OpenSSL.h"
#include "kezWebSocket_Classes_SyncObjs.h"

namespace kez {

// What a TLS handler is asked for; the socket client asks for sslClient.
enum TwsSSLHandler : uint8_t { sslClient, sslServer, sslSession, sslProxy, sslLoadBalancer };

class TkezVoxSSLIOHandlerSocketOpenSSL : public TkezSSLIOHandlerSocketOpenSSL {
protected:
    void LockSession() const override { FLock.Acquire(); }
    void UnlockSession() const override { FLock.Release(); }

private:
    mutable TkezCriticalSection FLock;
};

} // namespace kez
