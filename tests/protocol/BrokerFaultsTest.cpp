// A broker that dies or freezes under the client: a throw-away RabbitMQ node of these tests' own, killed,
// frozen and started again.
#include "LiveBroker.h"

#include <csignal>
#include <fstream>

using namespace kez;
using namespace kez::test;

namespace {

constexpr int Timeout = 5000;

// The operating-system process of the throw-away node.
pid_t NodeProcess() {
    std::ifstream file(KEZ_TEST_BROKER_DIR "/pid");
    pid_t pid = 0;
    file >> pid;
    return pid;
}

bool StartNode() {
    const std::string command = std::string(KEZ_TEST_BROKER_SCRIPT " start " KEZ_TEST_BROKER_DIR " ") +
                                std::to_string(TestBrokerPort()) + " >/dev/null";
    return std::system(command.c_str()) == 0;
}

// Resumes a frozen node whatever the test's outcome, so that later tests find it serving.
struct TThawOnExit {
    pid_t Pid;
    ~TThawOnExit() { kill(Pid, SIGCONT); }
};

TEST(BrokerFaults, AFrozenBrokerTripsTheHeartBeatTimeoutAndTheConnectionDrops) {
    TLiveBroker broker;
    TkezWSAMQPHeartBeat_Options heartBeat;
    heartBeat.SetInterval(1);
    heartBeat.SetTimeout(2);
    broker.AMQP->SetHeartBeat(heartBeat);
    // The client reports the failed heartbeat through the protocol component that handles the connection,
    // and only when it has an exception handler itself.
    broker.Client->OnException = [](const TkezWSConnectionPtr&, const std::exception&) {};
    broker.AMQP->OnException = [&](const TkezWSConnectionPtr&, const std::exception& E) {
        broker.Log.Add(std::string("exception:") + E.what());
    };
    ASSERT_TRUE(broker.Connect()) << testing::PrintToString(broker.Log.Events());
    const pid_t node = NodeProcess();
    ASSERT_GT(node, 0);
    ASSERT_EQ(kill(node, SIGSTOP), 0);
    TThawOnExit thaw{node};
    // Two seconds of silence past the last heartbeat, checked at one-second ticks: the drop comes within a
    // few seconds, not at TCP's pace.
    EXPECT_TRUE(broker.Log.WaitFor("exception:HeartBeat Timeout exceeded.", 8000))
        << testing::PrintToString(broker.Log.Events());
    EXPECT_TRUE(broker.Log.WaitForCount("disconnect:", 1, 2000));
    EXPECT_TRUE(WaitUntil([&] { return !broker.Client->Active(); }, 2000));
}

TEST(BrokerFaults, ABrokerKilledDuringAConsumeDisconnectsOnceAndTheWatchdogReconnects) {
    TLiveBroker broker;
    TkezWSWatchDogClient_Options watchDog;
    watchDog.SetEnabled(true);
    watchDog.SetInterval(1);
    broker.Client->SetWatchDog(watchDog);
    broker.AMQP->OnAMQPBasicDeliver = [&](TObject*, const std::string&,
                                          const TkezAMQPFramePayload_Method_BasicDeliver&,
                                          TkezAMQPMessageContent&) { broker.Log.Add("deliver"); };
    ASSERT_TRUE(broker.Connect()) << testing::PrintToString(broker.Log.Events());
    const std::string queue = UniqueName("killed");
    ASSERT_TRUE(broker.AMQP->OpenChannelEx("ch", Timeout));
    ASSERT_TRUE(broker.AMQP->DeclareQueueEx("ch", queue, false, false, true, false, false, Timeout));
    ASSERT_TRUE(broker.AMQP->ConsumeEx("ch", queue, "", false, true, false, Timeout));
    for (int i = 0; i < 100; ++i)
        broker.AMQP->PublishMessage("ch", "", queue, std::string(1000, 'k'), false, false);
    ASSERT_TRUE(broker.Log.WaitForCount("deliver", 1));

    const pid_t node = NodeProcess();
    ASSERT_GT(node, 0);
    ASSERT_EQ(kill(node, SIGKILL), 0);
    EXPECT_TRUE(broker.Log.WaitForCount("disconnect:", 1, 10000));
    // While the node is away the watchdog's attempts are refused: no further disconnects.
    ASSERT_TRUE(WaitUntil([&] { return kill(node, 0) != 0; }, 10000));
    EXPECT_EQ(broker.Log.CountPrefix("disconnect:"), 1u) << testing::PrintToString(broker.Log.Events());

    ASSERT_TRUE(StartNode());
    EXPECT_TRUE(broker.Log.WaitForCount("connect", 2, 30000)) << testing::PrintToString(broker.Log.Events());
    // The fresh connection works.
    EXPECT_TRUE(broker.AMQP->OpenChannelEx("again", Timeout));
}

} // namespace
