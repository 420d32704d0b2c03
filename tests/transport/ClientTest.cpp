#include "ClientFixture.h"

#include <thread>

using namespace kez;
using namespace kez::test;

namespace {

TEST(Client, ConnectAndDisconnectFromTheClient) {
    TClientFixture f;
    f.Client->SetActive(true);
    ASSERT_TRUE(f.Client->Active());
    EXPECT_EQ(f.Log.Count("connect"), 1u); // delivered on this thread before SetActive returned
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    const TkezWSConnectionPtr connection = f.Client->Connection();
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->Transport(), trpTCP);
    EXPECT_EQ(connection->IP(), "127.0.0.1");
    EXPECT_EQ(connection->PeerPort(), f.Server.Port());
    EXPECT_EQ(connection->Guid().size(), 32u);

    f.Client->SetActive(false);
    EXPECT_EQ(f.Log.Count("disconnect"), 1u); // announced before SetActive returned
    EXPECT_FALSE(f.Client->Active());
    EXPECT_TRUE(peer->WaitClosed());
    f.Client->SetActive(false); // a second deactivation does nothing
    EXPECT_EQ(f.Log.Count("disconnect"), 1u);
    EXPECT_TRUE(f.Log.Events("exception").empty());
}

TEST(Client, PeerCloseIsAnnouncedOnceWithTheGracefulCloseReported) {
    TClientFixture f;
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    peer->Close();
    EXPECT_TRUE(f.Log.WaitFor("disconnect"));
    EXPECT_TRUE(f.Log.WaitFor("exception:none:Connection Closed Gracefully."));
    EXPECT_FALSE(f.Client->Active());
    // Nothing further comes: once announced is once.
    EXPECT_FALSE(f.Log.WaitForCount("disconnect", 2, 200));
}

TEST(Client, PeerCloseWithoutDisconnectExceptionsIsSilent) {
    TClientFixture f;
    f.Client->Options().SetRaiseDisconnectExceptions(false);
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    peer->Close();
    EXPECT_TRUE(f.Log.WaitFor("disconnect"));
    EXPECT_FALSE(f.Log.WaitForCount("exception", 1, 200));
}

TEST(Client, ResetByThePeerIsReportedWithTheConnectionAndAnnouncedOnce) {
    TClientFixture f;
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    peer->Reset();
    EXPECT_TRUE(f.Log.WaitFor("disconnect"));
    EXPECT_TRUE(f.Log.WaitForCount("exception:conn:Socket Error # 104", 1));
    EXPECT_FALSE(f.Log.WaitForCount("disconnect", 2, 200));
    EXPECT_FALSE(f.Client->Active());
}

struct FailureCase {
    const char* Name;
    std::function<void(TkezWSClient&)> Setup;
    const char* Message;
};
void PrintTo(const FailureCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class ConnectFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(ConnectFailures, ReachOnExceptionWithoutAConnection) {
    TClientFixture f;
    TBlackHole blackHole;
    f.Client->SetConnectTimeout(300);
    GetParam().Setup(*f.Client);
    if (std::string(GetParam().Name) == "ConnectTimeout") f.Client->SetPort(blackHole.Port());
    f.Client->SetActive(true); // never raises
    EXPECT_FALSE(f.Client->Active());
    const std::vector<std::string> exceptions = f.Log.Events("exception");
    ASSERT_EQ(exceptions.size(), 1u);
    EXPECT_EQ(exceptions[0].rfind(std::string("exception:none:") + GetParam().Message, 0), 0u)
        << exceptions[0];
    EXPECT_EQ(f.Log.Count("connect"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectFailures,
    testing::Values(FailureCase{"NoHost", [](TkezWSClient& c) { c.SetHost(""); }, "A Host is required"},
                    FailureCase{"NoPort", [](TkezWSClient& c) { c.SetPort(0); }, "A Port is required"},
                    FailureCase{"Refused", [](TkezWSClient& c) { c.SetPort(UnusedPort()); },
                                "Socket Error # 111\nConnection refused."},
                    FailureCase{"ConnectTimeout", [](TkezWSClient&) {}, "Connect timed out."}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

TEST(Client, BlocksArriveAsTheSocketDeliversThem) {
    TClientFixture f;
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    peer->Send(std::string(100, 'a'));
    EXPECT_TRUE(f.Log.WaitFor("binary:100"));
    peer->Send(std::string(50, 'b'));
    EXPECT_TRUE(f.Log.WaitFor("binary:50"));
    EXPECT_EQ(f.Client->Connection()->RecBytes(), 150u);
}

TEST(Client, OneMegabyteArrivesWhole) {
    TClientFixture f;
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    TBytes data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 31 + (i >> 12));
    peer->Send(data);
    EXPECT_TRUE(WaitUntil([&] { return f.ReceivedBytes().size() >= data.size(); }, 10000));
    EXPECT_EQ(f.ReceivedBytes(), data);
    EXPECT_EQ(f.Client->Connection()->RecBytes(), data.size());
}

TEST(Client, WritesFromTwoThreadsArriveWholeOneAfterTheOther) {
    TClientFixture f;
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    const std::string first(10240, 'x'), second(10240, 'y');
    for (int round = 0; round < 20; ++round) {
        std::thread a([&] { f.Client->WriteData(first); });
        std::thread b([&] { f.Client->WriteData(second); });
        a.join();
        b.join();
        const TBytes received = peer->Receive(20480);
        ASSERT_EQ(received.size(), 20480u);
        const std::string text(received.begin(), received.end());
        EXPECT_TRUE(text == first + second || text == second + first) << "interleaved in round " << round;
    }
    EXPECT_EQ(f.Client->Connection()->SendBytes(), 20u * 20480u);
}

TEST(Client, WritesWithoutAConnectionDoNothing) {
    TClientFixture f;
    f.Client->WriteData("before");
    TMemoryStream stream(TBytes{1, 2, 3});
    f.Client->WriteData(stream);
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    f.Client->WriteData(stream);
    EXPECT_EQ(peer->Receive(3), (TBytes{1, 2, 3}));
    f.Client->SetActive(false);
    f.Client->WriteData("after");
    EXPECT_TRUE(f.Log.Events("error").empty());
    EXPECT_TRUE(f.Log.Events("exception").empty());
}

TEST(Client, ActivatingWhileConnectedDoesNothing) {
    TClientFixture f;
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    const TkezWSConnectionPtr connection = f.Client->Connection();
    f.Client->SetActive(true);
    EXPECT_EQ(f.Client->Connection(), connection);
    EXPECT_EQ(f.Server.Accept(200), nullptr);
}

TEST(Client, DeactivatingFromAHandlerOnTheReadThreadReturns) {
    TClientFixture f;
    f.Client->OnBinary = [&](const TkezWSConnectionPtr&, TMemoryStream&) {
        f.Client->SetActive(false);
        f.Record("deactivated");
    };
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    peer->Send("x");
    EXPECT_TRUE(f.Log.WaitFor("deactivated"));
    EXPECT_TRUE(f.Log.WaitFor("disconnect"));
    EXPECT_TRUE(peer->WaitClosed());
}

TEST(Client, ConnectAndDisconnectWithTimeouts) {
    TClientFixture f;
    EXPECT_FALSE(f.Client->Connect(0)); // connects, but does not wait
    EXPECT_TRUE(f.Client->Active());
    auto peer = f.Server.Accept();
    EXPECT_TRUE(f.Client->Disconnect(5000));
    EXPECT_TRUE(f.Client->Connect(5000));
    auto second = f.Server.Accept();
    ASSERT_NE(second, nullptr);
    f.Client->SetPort(UnusedPort());
    EXPECT_TRUE(f.Client->Disconnect(5000));
    EXPECT_FALSE(f.Client->Connect(5000));
}

TEST(Client, PingWritesTheLocalTimeAsSeventeenDigits) {
    TClientFixture f;
    f.Client->Ping(""); // no connection: nothing
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    f.Client->Ping("");
    const TBytes ping = peer->Receive(17);
    ASSERT_EQ(ping.size(), 17u);
    EXPECT_TRUE(std::all_of(ping.begin(), ping.end(), [](uint8_t c) { return c >= '0' && c <= '9'; }));
    EXPECT_FALSE(f.Client->Ping(20, "hello")); // raw TCP records no pong
    EXPECT_EQ(peer->Receive(5), (TBytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_NE(f.Client->Connection()->LastPing(), TkezDateTime{});
}

TEST(Client, StartAndStopRunOnThreadsOfTheirOwn) {
    TClientFixture f;
    f.Client->Start();
    EXPECT_TRUE(f.Log.WaitFor("connect"));
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    f.Client->Stop();
    EXPECT_TRUE(f.Log.WaitFor("disconnect"));
    EXPECT_TRUE(WaitUntil([&] { return !f.Client->Active(); }));
}

TEST(Client, DestroyingAConnectedClientLeavesNoThreadBehind) {
    // A sanitizer starts a thread of its own with the first thread: let that happen before counting.
    std::thread([] {}).join();
    const int before = ThreadCount();
    {
        TClientFixture f;
        TkezWSHeartBeat_Options heartBeat;
        heartBeat.SetEnabled(true);
        heartBeat.SetInterval(1);
        f.Client->SetHeartBeat(heartBeat);
        f.Client->SetActive(true);
        auto peer = f.Server.Accept();
        ASSERT_NE(peer, nullptr);
        peer->Send("data");
        EXPECT_TRUE(f.Log.WaitFor("binary:4"));
    }
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= before; }))
        << ThreadNames() << " (" << before << " before)";
}

struct UrlCase {
    const char* Url;
    const char* Host;
    int Port;
    bool TLS;
    bool RFC6455;
    const char* Parameters;
};

TEST(Client, URLSetsHostPortTLSModeAndParameters) {
    const UrlCase cases[] = {
        {"tcp://host:1234/x?y=1", "host", 1234, false, false, "/x?y=1"},
        {"tcps://host", "host", 443, true, false, "/"},
        {"ws://example.org/chat", "example.org", 80, false, true, "/chat"},
        {"wss://example.org:8443", "example.org", 8443, true, true, "/"},
        {"tcp://[::1]:5672", "::1", 5672, false, false, "/"},
    };
    for (const UrlCase& c : cases) {
        TkezWebSocketClient client;
        client.SetURL(c.Url);
        EXPECT_EQ(client.Host(), c.Host) << c.Url;
        EXPECT_EQ(client.Port(), c.Port) << c.Url;
        EXPECT_EQ(client.TLS(), c.TLS) << c.Url;
        EXPECT_EQ(client.Specifications().RFC6455(), c.RFC6455) << c.Url;
        EXPECT_EQ(client.Options().Parameters(), c.Parameters) << c.Url;
    }
}

TEST(Client, DefaultsOfTheComponent) {
    TkezWebSocketClient client;
    EXPECT_FALSE(client.Active());
    EXPECT_EQ(client.Port(), 80);
    EXPECT_EQ(client.ReadTimeout(), -1);
    EXPECT_EQ(client.NotifyEvents(), neAsynchronous);
    EXPECT_FALSE(client.FreeConnectionOnDestroy());
    EXPECT_EQ(client.HeartBeat().Interval(), 300);
    EXPECT_EQ(client.WatchDog().Interval(), 10);
    EXPECT_EQ(client.Proxy().Port(), 8080);
    EXPECT_TRUE(client.Options().RaiseDisconnectExceptions());
    EXPECT_FALSE(client.Specifications().Drafts().Hixie76());
    EXPECT_EQ(client.TCPKeepAlive().Time(), 7200000);
    EXPECT_EQ(client.Version(), "2023.5.0");
    client.SetNotifyEvents(neNoSync);
    EXPECT_TRUE(client.FreeConnectionOnDestroy());
}

TEST(Client, WebSocketModeIsRefusedWithAClearMessage) {
    TClientFixture f;
    f.Client->Specifications().SetRFC6455(true);
    f.Client->SetActive(true);
    EXPECT_FALSE(f.Client->Active());
    ASSERT_EQ(f.Log.Events("exception").size(), 1u);
    EXPECT_NE(f.Log.Events("exception")[0].find("raw TCP"), std::string::npos);
}

} // namespace

namespace {

TEST(Client, AStalledPeerEndsTheConnectionThroughTheSendTimeout) {
    TClientFixture f;
    f.Client->SetWriteTimeout(200);
    f.Client->SetActive(true);
    auto peer = f.Server.Accept(); // accepts and never reads
    ASSERT_NE(peer, nullptr);
    const std::string block(1 << 20, 'z');
    for (int i = 0; i < 256 && f.Client->Active(); ++i)
        f.Client->WriteData(block);
    EXPECT_TRUE(f.Log.WaitFor("disconnect"));
    EXPECT_EQ(f.Log.CountPrefix("error:conn:"), 1u);
    EXPECT_FALSE(f.Client->Active());
}

TEST(Client, AsynchronousEventsOfARealConnectionRunOnTheMainThread) {
    auto loop = std::make_shared<TkezMainLoop>();
    SetMainThreadDispatcher(loop);
    {
        TClientFixture f(neAsynchronous);
        f.Client->SetActive(true);
        // Posted from the main thread, the connect ran before SetActive returned.
        EXPECT_EQ(f.Log.Count("connect"), 1u);
        auto peer = f.Server.Accept();
        ASSERT_NE(peer, nullptr);
        peer->Send("abc");
        EXPECT_TRUE(loop->PumpUntil([&] { return f.Log.Count("binary:3") == 1; }, 5000));
        peer->Close();
        EXPECT_TRUE(loop->PumpUntil([&] { return f.Log.Count("disconnect") == 1; }, 5000));
        f.Log.Quiesce();
        for (auto id : f.Threads)
            EXPECT_EQ(id, std::this_thread::get_id());
    }
    loop->Pump();
    SetMainThreadDispatcher(nullptr);
}

} // namespace

namespace {

TEST(Client, ConnectsOverIPv6) {
    TClientFixture f;
    TLoopbackServer server6(0, true);
    f.Client->SetHost("::1");
    f.Client->SetIPVersion(ipv6);
    f.Client->SetPort(server6.Port());
    f.Client->SetActive(true);
    ASSERT_TRUE(f.Client->Active()) << testing::PrintToString(f.Log.Events());
    auto peer = server6.Accept();
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(f.Client->Connection()->IP(), "::1");
    EXPECT_EQ(f.Client->Connection()->IPVersion(), ipv6);
}

TEST(Client, BindsTheLocalPortWithinItsRange) {
    TClientFixture f;
    const uint16_t first = UnusedPort();
    f.Client->SetBoundIP("127.0.0.1");
    f.Client->SetBoundPortMin(first);
    f.Client->SetBoundPortMax(static_cast<uint16_t>(first + 20));
    f.Client->SetActive(true);
    ASSERT_TRUE(f.Client->Active()) << testing::PrintToString(f.Log.Events());
    const uint16_t local = f.Client->Connection()->LocalPort();
    EXPECT_GE(local, first);
    EXPECT_LE(local, first + 20);
    f.Client->SetActive(false);
    f.Client->SetBoundPortMin(10);
    f.Client->SetBoundPortMax(5);
    f.Client->SetActive(true);
    EXPECT_EQ(f.Log.CountPrefix("exception:none:Invalid port range."), 1u);
}

TEST(Client, DelimiterScanningHandsOnWholeFrames) {
    TClientFixture f;
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    const TkezWSConnectionPtr connection = f.Client->Connection();
    connection->SetTCPEndOfFrameScanBuffer(eofScanAllBytes);
    connection->AddTCPEndOfFrame('\n');
    peer->Send("one\ntw");
    EXPECT_TRUE(f.Log.WaitFor("binary:4"));
    peer->Send("o\nthree\n");
    EXPECT_TRUE(f.Log.WaitForCount("binary:", 3));
    EXPECT_EQ(f.Log.Events("binary:"), (std::vector<std::string>{"binary:4", "binary:4", "binary:6"}));
    const TBytes received = f.ReceivedBytes();
    EXPECT_EQ(std::string(received.begin(), received.end()), "one\ntwo\nthree\n");
}

} // namespace
