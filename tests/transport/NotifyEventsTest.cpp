#include "ClientFixture.h"

#include <thread>

using namespace kez;
using namespace kez::test;

namespace {

// A protocol component for routing tests.
class TTestProtocol : public TkezWSProtocolObject {
public:
    explicit TTestProtocol(std::string aProtocol) { SetProtocol(std::move(aProtocol)); }
    ~TTestProtocol() override { ShutdownEvents(); }
    bool DoHeartBeat() override {
        ++HeartBeats;
        return AnswerHeartBeat;
    }
    std::atomic<int> HeartBeats{0};
    std::atomic<bool> AnswerHeartBeat{true};
};

// Installs a main loop on this thread for the test's lifetime.
class TMainLoopScope {
public:
    TMainLoopScope() { SetMainThreadDispatcher(Loop); }
    ~TMainLoopScope() {
        Loop->Pump();
        SetMainThreadDispatcher(nullptr);
    }
    std::shared_ptr<TkezMainLoop> Loop = std::make_shared<TkezMainLoop>();
};

TkezWSConnectionPtr LooseConnection(const std::string& aBlock) {
    auto connection = std::make_shared<TkezWSConnectionClient>();
    connection->MsgBinaryReceived() = TMemoryStream(TBytes(aBlock.begin(), aBlock.end()));
    return connection;
}

TEST(NotifyEvents, NoSyncDeliversTheLiveBlockOnTheReadThread) {
    TClientFixture f(neNoSync);
    std::thread::id handlerThread;
    TMemoryStream* handed = nullptr;
    TMemoryStream* live = nullptr;
    f.Client->OnBinary = [&](const TkezWSConnectionPtr& aConnection, TMemoryStream& aData) {
        handlerThread = std::this_thread::get_id();
        handed = &aData;
        live = &aConnection->MsgBinaryReceived();
        f.Record("binary");
    };
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    peer->Send("abc");
    ASSERT_TRUE(f.Log.WaitFor("binary"));
    f.Log.Quiesce();
    EXPECT_NE(handlerThread, std::this_thread::get_id());
    EXPECT_EQ(handed, live);
}

TEST(NotifyEvents, AsynchronousDeliversCopiesInOrderOnTheMainThread) {
    TMainLoopScope main;
    TkezWebSocketClient client;
    client.SetNotifyEvents(neAsynchronous);
    std::vector<std::string> seen;
    std::vector<std::thread::id> threads;
    client.OnBinary = [&](const TkezWSConnectionPtr&, TMemoryStream& aData) {
        seen.emplace_back(aData.Bytes().begin(), aData.Bytes().end());
        threads.push_back(std::this_thread::get_id());
    };
    std::thread worker([&] {
        // One connection whose block is overwritten between the events: each event keeps its own copy.
        const TkezWSConnectionPtr connection = LooseConnection("a");
        client.DoNotifyBinary(connection);
        connection->MsgBinaryReceived() = TMemoryStream(TBytes{'b'});
        client.DoNotifyBinary(connection);
        connection->MsgBinaryReceived() = TMemoryStream(TBytes{'c'});
        client.DoNotifyBinary(connection);
    });
    worker.join();
    EXPECT_TRUE(seen.empty()); // nothing ran before the main thread pumped
    EXPECT_TRUE(main.Loop->PumpUntil([&] { return seen.size() == 3; }, 5000));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    for (auto id : threads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(NotifyEvents, SynchronousMakesTheWorkerWaitForTheHandler) {
    TMainLoopScope main;
    TkezWebSocketClient client;
    client.SetNotifyEvents(neSynchronous);
    std::atomic<bool> handled{false};
    std::atomic<bool> handledBeforeReturn{false};
    client.OnBinary = [&](const TkezWSConnectionPtr&, TMemoryStream&) { handled = true; };
    std::thread worker([&] {
        client.DoNotifyBinary(LooseConnection("x"));
        handledBeforeReturn = handled.load();
    });
    EXPECT_TRUE(main.Loop->PumpUntil([&] { return handled.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(handledBeforeReturn);
}

TEST(NotifyEvents, PostedFromTheMainThreadRunsBeforeTheCallReturns) {
    TMainLoopScope main;
    TkezWebSocketClient client;
    int handled = 0;
    client.OnBinary = [&](const TkezWSConnectionPtr&, TMemoryStream&) { ++handled; };
    client.DoNotifyBinary(LooseConnection("x"));
    EXPECT_EQ(handled, 1);
}

TEST(NotifyEvents, AHandlerThatPumpsDoesNotStartANestedDrain) {
    TMainLoopScope main;
    TkezWebSocketClient client;
    std::vector<std::string> order;
    int depth = 0;
    int deepest = 0;
    client.OnBinary = [&](const TkezWSConnectionPtr&, TMemoryStream& aData) {
        deepest = std::max(deepest, ++depth);
        order.emplace_back(aData.Bytes().begin(), aData.Bytes().end());
        main.Loop->Pump(); // runs the drain posted for the second event: it must not nest
        --depth;
    };
    std::thread worker([&] {
        client.DoNotifyBinary(LooseConnection("1"));
        client.DoNotifyBinary(LooseConnection("2"));
    });
    worker.join();
    EXPECT_TRUE(main.Loop->PumpUntil([&] { return order.size() == 2; }, 5000));
    EXPECT_EQ(order, (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(deepest, 1);
}

TEST(NotifyEvents, QueuedDisconnectKeepsTheConnectionForTheHandlerThenFreesIt) {
    TMainLoopScope main;
    TkezWebSocketClient client;
    bool freedInHandler = true;
    client.OnDisconnect = [&](const TkezWSConnectionPtr& aConnection, int) {
        freedInHandler = aConnection->Freed();
    };
    const TkezWSConnectionPtr connection = LooseConnection("");
    std::thread worker([&] { client.TkezWSComponent::DoNotifyDisconnect(connection); });
    worker.join();
    EXPECT_TRUE(main.Loop->PumpUntil([&] { return connection->Freed(); }, 5000));
    EXPECT_FALSE(freedInHandler);

    // Without announcement the connection is only freed.
    bool announced = false;
    client.OnDisconnect = [&](const TkezWSConnectionPtr&, int) { announced = true; };
    const TkezWSConnectionPtr silent = LooseConnection("");
    silent->SetNotifyDisconnection(false);
    client.TkezWSComponent::DoNotifyDisconnect(silent);
    EXPECT_TRUE(silent->Freed());
    EXPECT_FALSE(announced);
}

TEST(NotifyEvents, ExceptionsAndErrorsAreReportedOnlyWithHandlersButAlwaysDropTheConnection) {
    TkezWebSocketClient client;
    client.SetNotifyEvents(neNoSync);
    const TkezWSConnectionPtr connection = LooseConnection("");
    const std::runtime_error failure("failure");
    client.DoException(connection, "failure", &failure);
    EXPECT_TRUE(connection->Disconnected());

    std::vector<std::string> reports;
    client.OnException = [&](const TkezWSConnectionPtr& aConnection, const std::exception& E) {
        reports.push_back(std::string(aConnection ? "conn:" : "none:") + E.what());
    };
    client.OnError = [&](const TkezWSConnectionPtr& aConnection, const std::string& aError) {
        reports.push_back(std::string(aConnection ? "error-conn:" : "error-none:") + aError);
    };
    client.DoException(nullptr, "no object", nullptr);
    const std::runtime_error empty("");
    client.DoException(LooseConnection(""), "text for an empty message", &empty);
    client.DoError(nullptr, "plain error");
    EXPECT_EQ(reports, (std::vector<std::string>{"none:no object", "conn:text for an empty message",
                                                 "error-none:plain error"}));
}

TEST(NotifyEvents, ExceptionsOfARoutedConnectionGoToTheMatchingComponent) {
    TkezWebSocketClient client;
    client.SetNotifyEvents(neNoSync);
    TTestProtocol amqp("amqp");
    client.RegisterProtocol(&amqp);
    std::vector<std::string> reports;
    amqp.OnException = [&](const TkezWSConnectionPtr&, const std::exception& E) {
        reports.push_back(std::string("component:") + E.what());
    };
    const TkezWSConnectionPtr connection = LooseConnection("");
    connection->SetProtocol("amqp");
    const std::runtime_error failure("routed");
    client.DoException(connection, "routed", &failure); // the client's OnException is not assigned: no report
    EXPECT_TRUE(reports.empty());
    client.OnException = [&](const TkezWSConnectionPtr&, const std::exception& E) {
        reports.push_back(std::string("client:") + E.what());
    };
    client.DoException(LooseConnection(""), "own", &failure);
    const TkezWSConnectionPtr routed = LooseConnection("");
    routed->SetProtocol("amqp");
    client.DoException(routed, "routed", &failure);
    client.DoException(nullptr, "no connection", nullptr);
    EXPECT_EQ(reports,
              (std::vector<std::string>{"client:routed", "component:routed", "client:no connection"}));
    client.UnRegisterProtocol(&amqp);
}

TEST(NotifyEvents, HeldMessagesFireInOrderWhenReleased) {
    TkezWebSocketClient client;
    client.SetNotifyEvents(neNoSync);
    std::vector<std::string> seen;
    client.OnBinary = [&](const TkezWSConnectionPtr&, TMemoryStream& aData) {
        seen.emplace_back(aData.Bytes().begin(), aData.Bytes().end());
    };
    client.SetQueueMessages(true);
    client.DoNotifyBinary(LooseConnection("one"));
    client.DoNotifyBinary(LooseConnection("two"));
    EXPECT_TRUE(seen.empty());
    client.SetQueueMessages(false);
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
}

TEST(Routing, MatchProtocol) {
    TTestProtocol plain("amqp");
    TTestProtocol listed("mqtt,amqp");
    TTestProtocol guided("amqp");
    guided.SetGuid("G1");
    const std::tuple<const char*, const TkezWSProtocolObject*, bool> cases[] = {
        {"amqp", &plain, true},     {"AMQP", &plain, true},     {"stomp", &plain, false},
        {"amqp", &listed, true},    {"mqtt", &listed, true},    {"mqtt,amqp", &listed, true},
        {"G1.amqp", &guided, true}, {"amqp", &guided, true},    {"G2.amqp", &guided, false},
        {"g1.AMQP", &guided, true}, {"G1amqp", &guided, false}, {"G1.amqpx", &guided, false}};
    for (auto [text, component, expected] : cases)
        EXPECT_EQ(TkezWSComponent::MatchProtocol(text, *component), expected) << text;
}

TEST(Routing, ConnectionEventsGoToMatchingComponentsAndTheDisconnectToTheFirst) {
    TClientFixture f(neNoSync);
    TTestProtocol first("amqp"), second("amqp"), other("stomp");
    second.SetGuid("B");
    for (TTestProtocol* component : {&first, &second, &other})
        f.Client->RegisterProtocol(component);
    EXPECT_EQ(f.Client->Protocol(), "amqp,B.amqp,stomp");
    for (auto [component, name] :
         {std::pair{&first, "first"}, std::pair{&second, "second"}, std::pair{&other, "other"}}) {
        std::string label = name;
        component->OnConnect = [&f, label](const TkezWSConnectionPtr&) { f.Record(label + ":connect"); };
        component->OnBinary = [&f, label](const TkezWSConnectionPtr&, TMemoryStream&) {
            f.Record(label + ":binary");
        };
        component->OnDisconnect = [&f, label](const TkezWSConnectionPtr&, int) {
            f.Record(label + ":disconnect");
        };
    }
    f.Client->SetActive(true);
    // The connection's protocol text lists every component, so each of them matches.
    f.Client->Connection()->SetProtocol("amqp");
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    peer->Send("x");
    EXPECT_TRUE(f.Log.WaitFor("second:binary"));
    EXPECT_TRUE(f.Log.WaitFor("first:binary"));
    f.Client->SetActive(false);
    EXPECT_EQ(f.Log.Count("first:disconnect"), 1u);
    EXPECT_EQ(f.Log.Count("second:disconnect"), 0u);
    EXPECT_EQ(f.Log.Count("other:binary"), 0u);
    EXPECT_EQ(f.Log.Count("binary:1"), 0u); // the client's own events are not raised
    EXPECT_EQ(f.Log.Count("disconnect"), 0u);
    for (TTestProtocol* component : {&first, &second, &other})
        f.Client->UnRegisterProtocol(component);
}

TEST(Routing, RegisteringByNameCarriesTheClientsHandlers) {
    TClientFixture f(neNoSync);
    f.Client->RegisterProtocol(std::string("chat"));
    f.Client->RegisterProtocol(std::string("chat"));
    EXPECT_EQ(f.Client->ProtocolObjects().size(), 1u);
    f.Client->SetActive(true);
    auto peer = f.Server.Accept();
    ASSERT_NE(peer, nullptr);
    peer->Send("hello");
    EXPECT_TRUE(f.Log.WaitFor("binary:5"));
    f.Client->SetActive(false);
    f.Client->UnRegisterProtocol(std::string("chat"));
    EXPECT_TRUE(f.Client->ProtocolObjects().empty());
}

} // namespace
