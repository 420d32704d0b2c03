// AMQP over TLS against the tests' RabbitMQ node and small TLS servers of the openssl command.
#include "SecureBroker.h"

#include "../transport/LoopbackServer.h"
#include "kezSocket_OpenSSL.h"

#include <future>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <thread>

using namespace kez;
using namespace kez::test;

namespace {

TEST(LiveTLS, FullSessionWithVerifiedServerAndClientCertificate) {
    TSecureBroker broker;
    broker.UseTLS();
    std::vector<std::string> verified;
    broker.Client->OnSSLVerifyPeer = [&](TObject*, const TkezX509& aCertificate, bool AOk, int ADepth, int,
                                         bool& Accept) {
        verified.push_back(std::to_string(ADepth) + ":" + aCertificate.Subject() + ":" +
                           (AOk ? "ok" : "bad"));
        EXPECT_EQ(Accept, AOk);
    };
    ASSERT_TRUE(broker.ConnectAMQP()) << broker.ClientException();
    broker.ExpectPublishAndGet();
    // The chain is seen from the root down to the broker's own certificate.
    EXPECT_THAT(verified, testing::ElementsAre("1:CN = kez test ca:ok", "0:CN = localhost:ok"));
}

// Some seventy records, which arrive faster than they are read and are taken in several at a time.
TEST(LiveTLS, AMessageOfManyRecordsArrivesWhole) {
    TSecureBroker broker;
    broker.UseTLS();
    ASSERT_TRUE(broker.ConnectAMQP()) << broker.ClientException();
    std::string body(1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 131 % 251);
    broker.ExpectPublishAndGet(body);
}

struct TVersionCase {
    const char* Name;
    TwsTLSVersions Version;
};
void PrintTo(const TVersionCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class LiveTLSVersion : public testing::TestWithParam<TVersionCase> {};

TEST_P(LiveTLSVersion, ConnectsWithEveryVersionTheBrokerAllows) {
    TSecureBroker broker;
    broker.UseTLS();
    broker.Client->TLSOptions().SetVersion(GetParam().Version);
    EXPECT_TRUE(broker.ConnectAMQP()) << broker.ClientException();
}

INSTANTIATE_TEST_SUITE_P(, LiveTLSVersion,
                         testing::Values(TVersionCase{"Any", tlsUndefined}, TVersionCase{"TLS12", tls1_2},
                                         TVersionCase{"TLS13", tls1_3}),
                         [](const auto& aInfo) { return std::string(aInfo.param.Name); });

// How a connect ends for a setting of the verification; Error empty: connected.
struct TVerifyCase {
    const char* Name;
    const char* Host;
    const char* Root;
    bool Verify;
    bool HandlerAccepts;
    const char* Error;
};
void PrintTo(const TVerifyCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class LiveTLSVerification : public testing::TestWithParam<TVerifyCase> {};

TEST_P(LiveTLSVerification, ConnectsOrFailsWithAClearMessage) {
    const TVerifyCase& c = GetParam();
    TSecureBroker broker;
    broker.UseTLS();
    broker.Client->SetHost(c.Host);
    broker.Client->TLSOptions().SetRootCertFile(CertFile(c.Root));
    broker.Client->TLSOptions().SetVerifyCertificate(c.Verify);
    if (c.HandlerAccepts)
        broker.Client->OnSSLVerifyPeer = [](TObject*, const TkezX509&, bool, int, int, bool& Accept) {
            Accept = true;
        };
    const bool connected = broker.ConnectAMQP();
    if (std::string(c.Error).empty()) {
        EXPECT_TRUE(connected) << broker.ClientException();
    } else {
        EXPECT_FALSE(connected);
        EXPECT_THAT(broker.ClientException(), testing::HasSubstr(c.Error));
        EXPECT_FALSE(broker.Client->Active());
    }
}

INSTANTIATE_TEST_SUITE_P(
    , LiveTLSVerification,
    testing::Values(TVerifyCase{"RightRoot", "localhost", "ca.pem", true, false, ""},
                    TVerifyCase{"OtherRoot", "localhost", "other-ca.pem", true, false,
                                "TLS handshake with localhost failed: certificate verify failed: "},
                    // The certificate names "localhost" only.
                    TVerifyCase{"WrongHostName", "127.0.0.1", "ca.pem", true, false,
                                "certificate verify failed: IP address mismatch."},
                    TVerifyCase{"OtherRootAcceptedByHandler", "localhost", "other-ca.pem", true, true, ""},
                    TVerifyCase{"WrongHostNameAcceptedByHandler", "127.0.0.1", "ca.pem", true, true, ""},
                    TVerifyCase{"NoVerification", "127.0.0.1", "other-ca.pem", false, false, ""}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

TEST(LiveTLS, ClientCertificateProblemsEndInAClearMessage) {
    {
        // The broker asks for a certificate and gets none. It says so with an alert after the client's side
        // of the handshake, then closes: the client reports the alert when it reads it before the close, and
        // the disconnect in any case; the AMQP connection never opens.
        TSecureBroker broker;
        broker.UseTLS();
        broker.Client->TLSOptions().SetCertFile("");
        broker.Client->TLSOptions().SetKeyFile("");
        EXPECT_FALSE(broker.ConnectAMQP());
        EXPECT_TRUE(broker.Log.WaitFor("disconnect:0::broker"));
        for (const std::string& error : broker.Log.Events("client-exception:"))
            EXPECT_THAT(error, testing::AnyOf(testing::HasSubstr("certificate required"),
                                              testing::HasSubstr("Connection Closed Gracefully."),
                                              testing::HasSubstr("Connection reset by peer.")));
        EXPECT_EQ(broker.Log.Count("connect"), 0u);
    }
    {
        TSecureBroker broker;
        broker.UseTLS();
        broker.Client->TLSOptions().SetPassword("wrong");
        EXPECT_FALSE(broker.ConnectAMQP());
        EXPECT_THAT(broker.ClientException(), testing::HasSubstr("TLS: could not load the private key \"" +
                                                                 CertFile("client.key") + "\""));
    }
}

TEST(LiveTLS, ExactVersionRefusedByAServerThatAllowsOnlyAnother) {
    constexpr int port = 26679;
    TChildProcess server({"openssl", "s_server", "-quiet", "-accept", "127.0.0.1:" + std::to_string(port),
                          "-tls1_3", "-cert", CertFile("server.pem"), "-key", CertFile("server.key")});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitListening(port));
    TSecureBroker broker;
    broker.UseTLS();
    broker.Client->SetPort(port);
    broker.Client->TLSOptions().SetVersion(tls1_2);
    EXPECT_FALSE(broker.ConnectAMQP());
    EXPECT_THAT(broker.ClientException(), testing::HasSubstr("TLS handshake with localhost failed: "));
    EXPECT_THAT(broker.ClientException(), testing::HasSubstr("protocol version"));
}

TEST(LiveTLS, StalledHandshakeEndsWithTheReadTimeOut) {
    TLoopbackServer silent;
    TSecureBroker broker;
    broker.UseTLS();
    broker.Client->SetPort(silent.Port());
    broker.Client->SetReadTimeout(500);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(broker.ConnectAMQP());
    EXPECT_EQ(broker.ClientException(), "Read timed out.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(LiveTLS, HandlerEventsSupplyOrAdjustTheHandler) {
    {
        // A supplied handler is used as it is: the wrong root of TLSOptions plays no part.
        TSecureBroker broker;
        broker.UseTLS();
        broker.Client->TLSOptions().SetRootCertFile(CertFile("other-ca.pem"));
        broker.Client->OnSSLGetHandler = [](TObject*, TwsSSLHandler aType,
                                            std::shared_ptr<TkezIOHandlerSocket>& aSSLHandler) {
            EXPECT_EQ(aType, sslClient);
            auto handler = std::make_shared<TkezVoxSSLIOHandlerSocketOpenSSL>();
            handler->SetPassThrough(false);
            handler->SetVerifyPeer(true);
            handler->SetRootCertFile(CertFile("ca.pem"));
            handler->SetCertFile(CertFile("client.pem"));
            handler->SetKeyFile(CertFile("client.key"));
            handler->OnGetPassword = [] { return std::string("kez-secret"); };
            aSSLHandler = handler;
        };
        bool created = false;
        broker.Client->OnSSLAfterCreateHandler =
            [&](TObject*, TwsSSLHandler, const std::shared_ptr<TkezIOHandlerSocket>&) { created = true; };
        EXPECT_TRUE(broker.ConnectAMQP()) << broker.ClientException();
        EXPECT_FALSE(created);
    }
    {
        // A handler made from TLSOptions can be adjusted before it is used.
        TSecureBroker broker;
        broker.UseTLS();
        broker.Client->TLSOptions().SetRootCertFile(CertFile("other-ca.pem"));
        broker.Client->OnSSLAfterCreateHandler = [](TObject*, TwsSSLHandler aType,
                                                    const std::shared_ptr<TkezIOHandlerSocket>& aSSLHandler) {
            EXPECT_EQ(aType, sslClient);
            auto* openssl = dynamic_cast<TkezSSLIOHandlerSocketOpenSSL*>(aSSLHandler.get());
            ASSERT_NE(openssl, nullptr);
            openssl->SetRootCertFile(CertFile("ca.pem"));
        };
        EXPECT_TRUE(broker.ConnectAMQP()) << broker.ClientException();
    }
}

TEST(LiveTLS, OffersALPNProtocols) {
    constexpr int port = 26678;
    TChildProcess server({"openssl", "s_server", "-quiet", "-accept", "127.0.0.1:" + std::to_string(port),
                          "-alpn", "amqp", "-cert", CertFile("server.pem"), "-key", CertFile("server.key")});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(WaitListening(port));
    TSecureBroker broker;
    broker.UseTLS();
    broker.Client->SetPort(port);
    broker.Client->TLSOptions().SetALPNProtocols({"h2", "amqp"});
    std::shared_ptr<TkezIOHandlerSocket> handler;
    broker.Client->OnSSLAfterCreateHandler = [&](TObject*, TwsSSLHandler,
                                                 const std::shared_ptr<TkezIOHandlerSocket>& aSSLHandler) {
        handler = aSSLHandler;
    };
    // The TLS session stands; the AMQP handshake never comes from this server.
    broker.Client->SetActive(true);
    ASSERT_TRUE(broker.Client->Active()) << broker.ClientException();
    auto* openssl = dynamic_cast<TkezSSLIOHandlerSocketOpenSSL*>(handler.get());
    ASSERT_NE(openssl, nullptr);
    EXPECT_EQ(openssl->SelectedALPN(), "amqp");
    EXPECT_EQ(openssl->SessionVersion(), "TLSv1.3");
}

TEST(LiveTLS, AnUnavailableProviderFailsTheConnect) {
    TSecureBroker broker;
    broker.UseTLS();
    broker.Client->TLSOptions().SetIOHandler(iohSChannel);
    EXPECT_FALSE(broker.ConnectAMQP());
    EXPECT_THAT(broker.ClientException(), testing::HasSubstr("SChannel provider does not exist"));
}

// The handler's receive and its report of what waits in the session, opened for the test.
class TOpenedHandler : public TkezSSLIOHandlerSocketOpenSSL {
public:
    using TkezSSLIOHandlerSocketOpenSSL::HasPendingRaw;
    using TkezSSLIOHandlerSocketOpenSSL::ReceiveRaw;
};

// Records are read from the socket several at a time. A receive whose room runs out may leave whole records
// in the session while the socket has nothing more: they must still count as waiting, or the reader would
// wait on the silent socket with data in hand.
TEST(LiveTLS, RecordsReadAheadStillCountAsWaiting) {
    int sockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
    constexpr size_t record = 16384;
    std::string sent(3 * record, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>(i * 7 % 253);
    std::promise<void> written;
    std::promise<void> done;
    std::thread server([&, doneFuture = done.get_future()] {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(context, CertFile("server.pem").c_str());
        SSL_CTX_use_PrivateKey_file(context, CertFile("server.key").c_str(), SSL_FILETYPE_PEM);
        SSL* session = SSL_new(context);
        SSL_set_fd(session, sockets[1]);
        if (SSL_accept(session) == 1)
            for (size_t at = 0; at < sent.size(); at += record)
                SSL_write(session, sent.data() + at, static_cast<int>(record)); // a record each
        written.set_value();
        doneFuture.wait(); // the connection stays open and silent meanwhile
        SSL_free(session);
        SSL_CTX_free(context);
        ::close(sockets[1]);
    });
    try {
        TOpenedHandler handler;
        handler.Open(sockets[0], "localhost", 0);
        handler.SetPassThrough(false);
        handler.AfterConnect(TkezSocketExchange(sockets[0], 5000, nullptr));
        const bool ready =
            written.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        EXPECT_TRUE(ready) << "the server did not write";
        if (ready) {
            std::string received(sent.size(), '\0');
            auto* into = reinterpret_cast<uint8_t*>(received.data());
            EXPECT_EQ(handler.ReceiveRaw(into, record), static_cast<ptrdiff_t>(record));
            EXPECT_TRUE(handler.HasPendingRaw()) << "two records wait in the session";
            EXPECT_EQ(handler.ReceiveRaw(into + record, 4 * record), static_cast<ptrdiff_t>(2 * record));
            EXPECT_FALSE(handler.HasPendingRaw());
            EXPECT_TRUE(received == sent);
        }
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what(); // the server is still let go below
    }
    done.set_value();
    server.join();
}

} // namespace
