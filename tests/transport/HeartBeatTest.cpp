#include "ClientFixture.h"

using namespace kez;
using namespace kez::test;

namespace {

class THeartBeatProtocol : public TkezWSProtocolObject {
public:
    explicit THeartBeatProtocol(bool aAnswer) : FAnswer(aAnswer) { SetProtocol("hb"); }
    ~THeartBeatProtocol() override { ShutdownEvents(); }
    bool DoHeartBeat() override {
        ++Asked;
        return FAnswer;
    }
    std::atomic<int> Asked{0};

private:
    const bool FAnswer;
};

void EnableHeartBeat(TkezWSClient& aClient, int aInterval, int aTimeout = 0) {
    TkezWSHeartBeat_Options options;
    options.SetEnabled(true);
    options.SetInterval(aInterval);
    options.SetTimeout(aTimeout);
    aClient.SetHeartBeat(options);
}

TEST(HeartBeat, AProtocolComponentThatSendsItsOwnKeepAliveIsAskedFirst) {
    TClientFixture f(neNoSync);
    THeartBeatProtocol protocol(true);
    f.Client->RegisterProtocol(&protocol);
    EnableHeartBeat(*f.Client, 1);
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return protocol.Asked >= 2; }, 10000));
    // The transport wrote nothing of its own and kept no ping times.
    EXPECT_TRUE(peer->Receive(1, 100).empty());
    EXPECT_EQ(f.Client->Connection()->LastPing(), TkezDateTime{});
    f.Client->SetActive(false);
    f.Client->UnRegisterProtocol(&protocol);
}

TEST(HeartBeat, WithoutAProtocolKeepAliveTheClientPingsTheTime) {
    TClientFixture f(neNoSync);
    THeartBeatProtocol protocol(false);
    f.Client->RegisterProtocol(&protocol);
    EnableHeartBeat(*f.Client, 1);
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    const TBytes ping = peer->Receive(17, 10000);
    ASSERT_EQ(ping.size(), 17u);
    EXPECT_TRUE(std::all_of(ping.begin(), ping.end(), [](uint8_t c) { return c >= '0' && c <= '9'; }));
    EXPECT_GE(protocol.Asked, 1);
    f.Client->SetActive(false);
    f.Client->UnRegisterProtocol(&protocol);
}

TEST(HeartBeat, HandledBeforeHeartBeatSendsNothing) {
    TClientFixture f(neNoSync);
    EnableHeartBeat(*f.Client, 1, 1);
    f.Client->OnBeforeHeartBeat = [&](TObject*, const TkezWSConnectionPtr&, bool& Handled) {
        Handled = true;
        f.Record("before-heartbeat");
    };
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(f.Log.WaitForCount("before-heartbeat", 2, 10000));
    EXPECT_TRUE(peer->Receive(1, 100).empty());
    // No ping, so no time-out either: the connection stands.
    EXPECT_TRUE(f.Client->Active());
}

TEST(HeartBeat, AnUnansweredPingDropsTheConnectionAfterTheTimeout) {
    TClientFixture f(neNoSync);
    EnableHeartBeat(*f.Client, 1, 1);
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(f.Log.WaitFor("exception:conn:HeartBeat Timeout exceeded.", 15000));
    EXPECT_TRUE(f.Log.WaitFor("disconnect"));
    EXPECT_TRUE(peer->WaitClosed());
    EXPECT_FALSE(f.Client->Active());
}

TEST(WatchDog, ReconnectsAtMostAttemptsTimes) {
    TClientFixture f(neNoSync);
    f.Client->SetPort(UnusedPort());
    f.Client->WatchDog().SetEnabled(true);
    f.Client->WatchDog().SetInterval(1);
    f.Client->WatchDog().SetAttempts(3);
    f.Client->OnBeforeWatchDog = [&](TObject*, bool&) { f.Record("watchdog"); };
    f.Client->SetActive(true); // the first attempt fails and starts the watchdog
    EXPECT_TRUE(f.Log.WaitForCount("exception:none:Socket Error # 111", 4, 15000));
    EXPECT_EQ(f.Log.CountPrefix("watchdog"), 3u);
    // It has stopped: no fourth period comes.
    EXPECT_FALSE(f.Log.WaitForCount("watchdog", 4, 1500));
}

TEST(WatchDog, UnlimitedAttemptsGoOnUntilTheServerIsBack) {
    TClientFixture f(neNoSync);
    const uint16_t port = UnusedPort();
    f.Client->SetPort(port);
    f.Client->WatchDog().SetEnabled(true);
    f.Client->WatchDog().SetInterval(1);
    f.Client->SetActive(true);
    EXPECT_TRUE(f.Log.WaitForCount("exception:none:Socket Error # 111", 3, 15000));
    TLoopbackServer back(port);
    EXPECT_TRUE(f.Log.WaitFor("connect", 15000));
    auto peer = back.Accept();
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(f.Client->WatchDogAttempts(), 0);
    // A connection lost afterwards starts the watchdog again, which reconnects.
    peer->Close();
    EXPECT_TRUE(f.Log.WaitFor("disconnect")) << testing::PrintToString(f.Log.Events());
    EXPECT_TRUE(f.Log.WaitForCount("connect", 2, 15000));
    f.Client->SetActive(false); // clears the watchdog flag first: no further reconnect
    auto second = back.Accept();
    EXPECT_FALSE(f.Log.WaitForCount("connect", 3, 1500));
}

TEST(WatchDog, HandledBeforeWatchDogMakesNoAttemptButCounts) {
    TClientFixture f(neNoSync);
    f.Client->SetPort(UnusedPort());
    f.Client->WatchDog().SetEnabled(true);
    f.Client->WatchDog().SetInterval(1);
    f.Client->WatchDog().SetAttempts(2);
    f.Client->OnBeforeWatchDog = [&](TObject*, bool& Handled) {
        Handled = true;
        f.Record("watchdog");
    };
    f.Client->SetActive(true);
    EXPECT_TRUE(f.Log.WaitForCount("watchdog", 2, 10000));
    EXPECT_FALSE(f.Log.WaitForCount("watchdog", 3, 1500));
    EXPECT_EQ(f.Log.CountPrefix("exception"), 1u); // only the first, manual attempt
}

} // namespace
