// AMQP, plain and over TLS, through real proxies on loopback (scripts/test-proxies): tinyproxy for HTTP
// CONNECT, microsocks for SOCKS 5, danted for SOCKS 4, OpenSSH's dynamic forwarding for SOCKS 4A.
#include "SecureBroker.h"

using namespace kez;
using namespace kez::test;

namespace {

struct TTunnelCase {
    const char* Name;
    TwsProxy Type;
    int Port;
    const char* User;
    const char* Password;
};
void PrintTo(const TTunnelCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class LiveProxyTunnel : public testing::TestWithParam<TTunnelCase> {};

TEST_P(LiveProxyTunnel, CarriesAMQPPlainAndOverTLS) {
    const TTunnelCase& c = GetParam();
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        TSecureBroker broker;
        if (tls) {
            // Verified against the broker's name: the proxy's address is not in the certificate.
            broker.UseTLS();
        } else {
            broker.Client->SetHost("localhost");
        }
        broker.UseProxy(c.Type, c.Port, c.User, c.Password);
        ASSERT_TRUE(broker.ConnectAMQP()) << broker.ClientException();
        broker.ExpectPublishAndGet();
    }
}

INSTANTIATE_TEST_SUITE_P(
    , LiveProxyTunnel,
    testing::Values(TTunnelCase{"Http", pxyHTTP, HttpProxyPort, "kez", "juq"},
                    TTunnelCase{"Socks5", pxySocks5, Socks5ProxyPort, "", ""},
                    TTunnelCase{"Socks5WithPassword", pxySocks5, Socks5AuthProxyPort, "kez", "juq"},
                    TTunnelCase{"Socks4", pxySocks4, Socks4ProxyPort, "kez", ""},
                    TTunnelCase{"Socks4A", pxySocks4A, SshSocksProxyPort, "kez", ""},
                    TTunnelCase{"Socks5ThroughSsh", pxySocks5, SshSocksProxyPort, "", ""}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

struct TRefusalCase {
    const char* Name;
    TwsProxy Type;
    int ProxyPort;
    const char* User;
    const char* Password;
    int TargetPort;
    const char* Error;
};
void PrintTo(const TRefusalCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class LiveProxyRefusal : public testing::TestWithParam<TRefusalCase> {};

TEST_P(LiveProxyRefusal, EndsInAClearExceptionWithoutWaiting) {
    const TRefusalCase& c = GetParam();
    TSecureBroker broker;
    broker.Client->SetPort(c.TargetPort);
    broker.UseProxy(c.Type, c.ProxyPort, c.User, c.Password);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(broker.ConnectAMQP());
    EXPECT_EQ(broker.ClientException(), c.Error);
    EXPECT_FALSE(broker.Client->Active());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

constexpr int Broker = KEZ_TEST_AMQP_PORT;
// Nothing listens there: the proxy itself is down.
constexpr int Nowhere = 26689;

INSTANTIATE_TEST_SUITE_P(
    , LiveProxyRefusal,
    testing::Values(TRefusalCase{"HttpWithoutCredentials", pxyHTTP, HttpProxyPort, "", "", Broker,
                                 "HTTP/1.0 407 Proxy Authentication Required"},
                    TRefusalCase{"HttpWrongPassword", pxyHTTP, HttpProxyPort, "kez", "wrong", Broker,
                                 "HTTP/1.0 401 Unauthorized"},
                    TRefusalCase{"HttpForbiddenPort", pxyHTTP, HttpProxyPort, "kez", "juq", 26690,
                                 "HTTP/1.0 403 Access violation"},
                    TRefusalCase{"HttpProxyDown", pxyHTTP, Nowhere, "kez", "juq", Broker,
                                 "Socket Error # 111\nConnection refused."},
                    TRefusalCase{"Socks5WrongPassword", pxySocks5, Socks5AuthProxyPort, "kez", "wrong",
                                 Broker, "SOCKS5 proxy: authentication failed."},
                    TRefusalCase{
                        "Socks5WithoutUser", pxySocks5, Socks5AuthProxyPort, "", "", Broker,
                        "SOCKS5 proxy: no acceptable authentication method (the proxy wants a user name and "
                        "password)."},
                    TRefusalCase{"Socks5ProxyDown", pxySocks5, Nowhere, "", "", Broker,
                                 "Socket Error # 111\nConnection refused."},
                    TRefusalCase{"Socks5TargetDown", pxySocks5, Socks5ProxyPort, "", "", Nowhere,
                                 "SOCKS5 proxy: connection refused (5)."}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

TEST(LiveProxy, TLSThroughAProxyChecksTheBrokersNameNotTheProxys) {
    // Asking for the broker by an address the certificate does not name fails even through the proxy.
    TSecureBroker broker;
    broker.UseTLS();
    broker.Client->SetHost("127.0.0.1");
    broker.UseProxy(pxyHTTP, HttpProxyPort, "kez", "juq");
    EXPECT_FALSE(broker.ConnectAMQP());
    EXPECT_THAT(broker.ClientException(), testing::HasSubstr("IP address mismatch"));
}

} // namespace
