// The proxy negotiations octet by octet, against a scripted proxy on the other end of a socket pair: the
// cases no real proxy of the live tests shows (a 407 on a connection kept open, SOCKS 4A).
#include "kezSocket_Errors.h"
#include "kezSocket_Proxy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kez;

namespace {

class ProxyNegotiation : public testing::Test {
protected:
    ProxyNegotiation() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, FEnds), 0); }
    ~ProxyNegotiation() override {
        ::close(FEnds[0]);
        ::close(FEnds[1]);
    }

    TkezSocketExchange Client() const { return TkezSocketExchange(FEnds[0], 2000, nullptr); }
    TkezSocketExchange Proxy() const { return TkezSocketExchange(FEnds[1], 2000, nullptr); }

    // What the client sent, up to and including the blank line that ends an HTTP request.
    std::string ReadRequest() const {
        std::string request;
        for (std::string line = Proxy().ReceiveLine(); !line.empty(); line = Proxy().ReceiveLine())
            request += line + "\n";
        return request;
    }
    TBytes ReadOctets(size_t aCount) const {
        TBytes octets(aCount);
        Proxy().ReceiveExact(octets.data(), aCount);
        return octets;
    }

private:
    int FEnds[2] = {-1, -1};
};

TEST_F(ProxyNegotiation, HttpAnswers407OnAConnectionKeptOpen) {
    TkezConnectThroughHttpProxy proxy;
    proxy.SetUsername("kez");
    proxy.SetPassword("juq");
    proxy.BeginConnect();
    std::vector<std::string> requests;
    std::thread script([&] {
        requests.push_back(ReadRequest());
        Proxy().Send("HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 5\r\n\r\nsorry");
        requests.push_back(ReadRequest());
        Proxy().Send("HTTP/1.1 200 Connection established\r\n\r\nAMQP");
    });
    EXPECT_TRUE(proxy.Negotiate(Client(), "broker.example", 5672));
    script.join();
    EXPECT_THAT(requests, testing::ElementsAre("CONNECT broker.example:5672 HTTP/1.0\n",
                                               "CONNECT broker.example:5672 HTTP/1.0\n"
                                               "Proxy-Authorization: Basic a2V6Omp1cQ==\n"));
    // The tunnel's first octets stay for the connection.
    uint8_t first[4] = {};
    Client().ReceiveExact(first, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(first), 4), "AMQP");
}

TEST_F(ProxyNegotiation, HttpAnswers407AndClosesThenTheNextConnectionCarriesCredentials) {
    TkezConnectThroughHttpProxy proxy;
    proxy.SetUsername("kez");
    proxy.BeginConnect();
    std::thread script([&] {
        ReadRequest();
        Proxy().Send("HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Connection: Close\r\n\r\n");
    });
    EXPECT_FALSE(proxy.Negotiate(Client(), "::1", 5672));
    script.join();
    std::string second;
    script = std::thread([&] {
        second = ReadRequest();
        Proxy().Send("HTTP/1.0 403 Forbidden\r\n\r\n");
    });
    try {
        proxy.Negotiate(Client(), "::1", 5672);
        ADD_FAILURE() << "a 403 must fail the connect";
    } catch (const EkezProxyError& E) {
        EXPECT_STREQ(E.what(), "HTTP/1.0 403 Forbidden");
    }
    script.join();
    EXPECT_EQ(second, "CONNECT [::1]:5672 HTTP/1.0\nProxy-Authorization: Basic a2V6Og==\n");
}

struct TSocksCase {
    const char* Name;
    TkezSocksVersion Version;
    const char* User;
    const char* Host;
    TBytes Request;
};
void PrintTo(const TSocksCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class SocksRequest : public ProxyNegotiation, public testing::WithParamInterface<TSocksCase> {};

TEST_P(SocksRequest, IsWrittenAsTheVersionWantsIt) {
    const TSocksCase& c = GetParam();
    TkezSocksInfo proxy;
    proxy.SetVersion(c.Version);
    proxy.SetUsername(c.User);
    TBytes request;
    std::thread script([&] {
        request = ReadOctets(c.Request.size());
        Proxy().Send(TBytes{0, 90, 0, 0, 0, 0, 0, 0});
    });
    EXPECT_TRUE(proxy.Negotiate(Client(), c.Host, 5672));
    script.join();
    EXPECT_EQ(request, c.Request);
}

INSTANTIATE_TEST_SUITE_P(
    , SocksRequest,
    testing::Values(
        TSocksCase{
            "Socks4Address", svSocks4, "kez", "10.1.2.3", {4, 1, 0x16, 0x28, 10, 1, 2, 3, 'k', 'e', 'z', 0}},
        // The proxy resolves the name: the address 0.0.0.1 says so, the name follows the user.
        TSocksCase{"Socks4AName", svSocks4A, "", "mq", {4, 1, 0x16, 0x28, 0, 0, 0, 1, 0, 'm', 'q', 0}},
        TSocksCase{"Socks4AAddressLiteral", svSocks4A, "", "10.1.2.3", {4, 1, 0x16, 0x28, 10, 1, 2, 3, 0}}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

TEST_F(ProxyNegotiation, Socks5OffersPasswordOnlyWithAUserAndAsksForTheName) {
    for (const bool withUser : {false, true}) {
        SCOPED_TRACE(withUser ? "with user" : "without user");
        TkezSocksInfo proxy;
        proxy.SetVersion(svSocks5);
        if (withUser) {
            proxy.SetAuthentication(saUsernamePassword);
            proxy.SetUsername("kez");
            proxy.SetPassword("juq");
        }
        TBytes greeting, login, request;
        std::thread script([&] {
            greeting = ReadOctets(withUser ? 4 : 3);
            Proxy().Send(TBytes{5, static_cast<uint8_t>(withUser ? 2 : 0)});
            if (withUser) {
                login = ReadOctets(9);
                Proxy().Send(TBytes{1, 0});
            }
            request = ReadOctets(11);
            // Bound to a name: its length comes first.
            Proxy().Send(TBytes{5, 0, 0, 3, 2, 'b', 'x', 0x16, 0x28, 'A'});
        });
        EXPECT_TRUE(proxy.Negotiate(Client(), "mq.x", 5672));
        script.join();
        EXPECT_EQ(greeting, withUser ? TBytes({5, 2, 0, 2}) : TBytes({5, 1, 0}));
        if (withUser) {
            EXPECT_EQ(login, TBytes({1, 3, 'k', 'e', 'z', 3, 'j', 'u', 'q'}));
        }
        EXPECT_EQ(request, TBytes({5, 1, 0, 3, 4, 'm', 'q', '.', 'x', 0x16, 0x28}));
        uint8_t first = 0;
        Client().ReceiveExact(&first, 1);
        EXPECT_EQ(first, 'A');
    }
}

} // namespace
