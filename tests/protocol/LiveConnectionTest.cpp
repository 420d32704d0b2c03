// The life of an AMQP connection against the real broker: closes from either side, refused logins and
// heartbeats.
#include "LiveBroker.h"

#include <sstream>

using namespace kez;
using namespace kez::test;

namespace {

// The broker's name for the connection whose client side is on aLocalPort, or empty.
std::string BrokerConnection(uint16_t aLocalPort, const std::string& aColumn = "pid") {
    std::istringstream lines(BrokerCtl("list_connections --silent peer_port " + aColumn));
    std::string port, value;
    while (lines >> port >> value)
        if (port == std::to_string(aLocalPort)) return value;
    return {};
}

TEST(LiveConnection, CloseAndCloseExEndWithTheBrokersAckAndThenTheSocketClose) {
    for (const bool waited : {false, true}) {
        SCOPED_TRACE(waited ? "CloseEx" : "Close");
        TLiveBroker broker;
        ASSERT_TRUE(broker.Connect()) << testing::PrintToString(broker.Log.Events());
        if (waited)
            EXPECT_TRUE(broker.AMQP->CloseEx(200, "bye", amqpClassNone, amqpMethodNone));
        else
            broker.AMQP->Close(200, "bye", amqpClassNone, amqpMethodNone);
        EXPECT_TRUE(broker.Log.WaitForCount("disconnect:", 2));
        EXPECT_EQ(broker.Log.Events("disconnect:"),
                  (std::vector<std::string>{"disconnect:200:bye:ack", "disconnect:0::broker"}));
        EXPECT_TRUE(WaitUntil([&] { return !broker.Client->Active(); }));
    }
}

TEST(LiveConnection, ABrokerInitiatedCloseGivesTheBrokersReasonThenTheSocketClose) {
    TLiveBroker broker;
    ASSERT_TRUE(broker.Connect()) << testing::PrintToString(broker.Log.Events());
    const uint16_t port = broker.Client->Connection()->LocalPort();
    std::string pid;
    ASSERT_TRUE(WaitUntil([&] { return !(pid = BrokerConnection(port)).empty(); }, 20000));
    BrokerCtl("close_connection '" + pid + "' 'closed by the test'");
    EXPECT_TRUE(broker.Log.WaitForCount("disconnect:", 2, 10000));
    EXPECT_EQ(broker.Log.Events("disconnect:"),
              (std::vector<std::string>{"disconnect:320:CONNECTION_FORCED - closed by the test:broker",
                                        "disconnect:0::broker"}));
    EXPECT_TRUE(WaitUntil([&] { return !broker.Client->Active(); }));
}

struct TRefusal {
    const char* Name;
    const char* User;
    const char* Password;
    const char* VirtualHost;
    // The first disconnect; a refused login is a plain socket close, since the broker only explains it to
    // clients that ask for that.
    const char* Disconnect;
};

// Test names carry the case's name, not its octets.
void PrintTo(const TRefusal& aRefusal, std::ostream* aOut) { *aOut << aRefusal.Name; }

class LiveRefusal : public testing::TestWithParam<TRefusal> {};

TEST_P(LiveRefusal, EndsInADisconnectNeverAHang) {
    const TRefusal& refusal = GetParam();
    TLiveBroker broker(refusal.User, refusal.Password, refusal.VirtualHost);
    broker.Client->SetActive(true);
    EXPECT_TRUE(broker.Log.WaitForCount("disconnect:", 1, 15000));
    const std::vector<std::string> disconnects = broker.Log.Events("disconnect:");
    ASSERT_FALSE(disconnects.empty());
    EXPECT_EQ(disconnects.front(), refusal.Disconnect);
    EXPECT_EQ(broker.Log.Count("connect"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !broker.Client->Active(); }));
}

INSTANTIATE_TEST_SUITE_P(
    Login, LiveRefusal,
    testing::Values(TRefusal{"WrongPassword", "guest", "wrong", "/", "disconnect:0::broker"},
                    TRefusal{"UnknownUser", "nobody", "guest", "/", "disconnect:0::broker"},
                    TRefusal{"UnknownVirtualHost", "guest", "guest", "no-such-vhost",
                             "disconnect:530:NOT_ALLOWED - vhost no-such-vhost not found:broker"}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

TEST(LiveConnection, HeartbeatsAreNegotiatedAndFlowBothWaysEverySecond) {
    TLiveBroker broker;
    TkezWSAMQPHeartBeat_Options heartBeat;
    heartBeat.SetInterval(1);
    broker.AMQP->SetHeartBeat(heartBeat);
    broker.AMQP->OnAMQPHeartBeat = [&](TObject*) { broker.Log.Add("heartbeat"); };
    ASSERT_TRUE(broker.Connect()) << testing::PrintToString(broker.Log.Events());
    const uint16_t port = broker.Client->Connection()->LocalPort();
    std::string timeout;
    EXPECT_TRUE(WaitUntil([&] { return !(timeout = BrokerConnection(port, "timeout")).empty(); }, 20000));
    EXPECT_EQ(timeout, "1");
    // The broker's heartbeats arrive; and since it drops a client it has not heard from for two intervals,
    // an idle connection that stays up shows that ours reach it.
    EXPECT_TRUE(broker.Log.WaitForCount("heartbeat", 4, 10000));
    EXPECT_EQ(broker.Log.CountPrefix("disconnect:"), 0u);
    EXPECT_TRUE(broker.Client->Active());
}

} // namespace
