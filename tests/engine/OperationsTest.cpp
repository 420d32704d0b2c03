#include "EngineTestBase.h"

using namespace kez;
using namespace kez::test;

namespace {

// Records every reply event as one line.
void RecordReplyEvents(TkezAMQP_Client& aEngine, TEventLog& aLog) {
    aEngine.OnAMQPExchangeDeclare = [&](TObject*, const std::string& c, const std::string& x) {
        aLog.Add("exchange-declare:" + c + ":" + x);
    };
    aEngine.OnAMQPExchangeDelete = [&](TObject*, const std::string& c, const std::string& x) {
        aLog.Add("exchange-delete:" + c + ":" + x);
    };
    aEngine.OnAMQPQueueDeclare = [&](TObject*, const std::string& c, const std::string& q, int32_t m,
                                     int32_t n) {
        aLog.Add("queue-declare:" + c + ":" + q + ":" + std::to_string(m) + ":" + std::to_string(n));
    };
    aEngine.OnAMQPQueueBind = [&](TObject*, const std::string& c, const std::string& q,
                                  const std::string& x) { aLog.Add("queue-bind:" + c + ":" + q + ":" + x); };
    aEngine.OnAMQPQueueUnBind = [&](TObject*, const std::string& c, const std::string& q,
                                    const std::string& x) {
        aLog.Add("queue-unbind:" + c + ":" + q + ":" + x);
    };
    aEngine.OnAMQPQueuePurge = [&](TObject*, const std::string& c, const std::string& q, int32_t m) {
        aLog.Add("queue-purge:" + c + ":" + q + ":" + std::to_string(m));
    };
    aEngine.OnAMQPQueueDelete = [&](TObject*, const std::string& c, const std::string& q, int32_t m) {
        aLog.Add("queue-delete:" + c + ":" + q + ":" + std::to_string(m));
    };
    aEngine.OnAMQPBasicQoS = [&](TObject*, const std::string& c,
                                 const TkezAMQPFramePayload_Method_BasicQoS& q) {
        aLog.Add("qos:" + c + ":" + std::to_string(q.PrefetchSize()) + ":" +
                 std::to_string(q.PrefetchCount()) + ":" + (q.Global() ? "global" : "channel"));
    };
    aEngine.OnAMQPBasicConsume = [&](TObject*, const std::string& c, const std::string& t) {
        aLog.Add("consume:" + c + ":" + t);
    };
    aEngine.OnAMQPBasicCancelConsume = [&](TObject*, const std::string& c, const std::string& t) {
        aLog.Add("cancel:" + c + ":" + t);
    };
    aEngine.OnAMQPBasicGetEmpty = [&](TObject*, const std::string& c) { aLog.Add("get-empty:" + c); };
    aEngine.OnAMQPBasicRecoverOk = [&](TObject*, const std::string& c) { aLog.Add("recover-ok:" + c); };
    aEngine.OnAMQPTransactionOk = [&](TObject*, const std::string& c, TkezAMQPTransaction t) {
        aLog.Add("tx:" + c + ":" + std::to_string(static_cast<int>(t)));
    };
}

class Operations : public EngineTest {
protected:
    void SetUp() override {
        Broker.Handshake();
        Broker.OpenChannel("ch");
        RecordReplyEvents(Engine(), Broker.Log);
    }
};

// A plain operation: the request it writes, the reply the broker sends and the event that reports it.
struct OperationCase {
    const char* Name;
    std::function<void(TkezAMQP_Client&)> Invoke;
    uint16_t Class, Method;
    Wire Arguments;
    uint16_t ReplyMethod; // 0: the broker does not answer
    Wire ReplyArguments;
    const char* Event;
};
void PrintTo(const OperationCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

const Wire NoTable = Wire().Long(0);

const OperationCase PlainOperations[] = {
    {"DeclareExchange",
     [](auto& e) {
         e.DeclareExchange("ch", "x", "headers", false, true, false, false, false,
                           R"({"alternate-exchange":"ae"})");
     },
     40, 10,
     Wire().Short(0).ShortStr("x").ShortStr("headers").Octet(2).Table(
         Wire().ShortStr("alternate-exchange").Octet('S').LongStr("ae")),
     11, Wire(), "exchange-declare:ch:x"},
    {"DeclareExchangeAutoDelete",
     [](auto& e) { e.DeclareExchange("ch", "y", "direct", false, false, true, false, false); }, 40, 10,
     Wire().Short(0).ShortStr("y").ShortStr("direct").Octet(4).Raw(NoTable), 11, Wire(),
     "exchange-declare:ch:y"},
    {"DeleteExchange", [](auto& e) { e.DeleteExchange("ch", "x", true, false); }, 40, 20,
     Wire().Short(0).ShortStr("x").Octet(1), 21, Wire(), "exchange-delete:ch:x"},
    {"DeclareQueueServerNamed", [](auto& e) { e.DeclareQueue("ch", "", false, false, true, true, false); },
     50, 10, Wire().Short(0).ShortStr("").Octet(4 + 8).Raw(NoTable), 11,
     Wire().ShortStr("amq.gen-1").Long(3).Long(1), "queue-declare:ch:amq.gen-1:3:1"},
    {"DeclareQueueTtl",
     [](auto& e) {
         e.DeclareQueue("ch", "q", false, true, false, false, false, R"({"x-message-ttl":60000})");
     },
     50, 10,
     Wire().Short(0).ShortStr("q").Octet(2).Table(Wire().ShortStr("x-message-ttl").Octet('I').Long(60000)),
     11, Wire().ShortStr("q").Long(0).Long(0), "queue-declare:ch:q:0:0"},
    {"BindQueue", [](auto& e) { e.BindQueue("ch", "q", "x", "k", false, R"({"x-match":"all"})"); }, 50, 20,
     Wire().Short(0).ShortStr("q").ShortStr("x").ShortStr("k").Octet(0).Table(
         Wire().ShortStr("x-match").Octet('S').LongStr("all")),
     21, Wire(), "queue-bind:ch:q:x"},
    {"UnBindQueue", [](auto& e) { e.UnBindQueue("ch", "q", "x", "k"); }, 50, 50,
     Wire().Short(0).ShortStr("q").ShortStr("x").ShortStr("k").Raw(NoTable), 51, Wire(),
     "queue-unbind:ch:q:x"},
    {"PurgeQueue", [](auto& e) { e.PurgeQueue("ch", "q", false); }, 50, 30,
     Wire().Short(0).ShortStr("q").Octet(0), 31, Wire().Long(12), "queue-purge:ch:q:12"},
    {"DeleteQueue", [](auto& e) { e.DeleteQueue("ch", "q", true, true, false); }, 50, 40,
     Wire().Short(0).ShortStr("q").Octet(3), 41, Wire().Long(4), "queue-delete:ch:q:4"},
    {"SetQoS", [](auto& e) { e.SetQoS("ch", 0, 10, false); }, 60, 10, Wire{0, 0, 0, 0, 0, 10, 0}, 11, Wire(),
     "qos:ch:0:10:channel"},
    {"Consume", [](auto& e) { e.Consume("ch", "q", "", false, true, true, false); }, 60, 20,
     Wire().Short(0).ShortStr("q").ShortStr("").Octet(2 + 4).Raw(NoTable), 21, Wire().ShortStr("amq.ctag-1"),
     "consume:ch:amq.ctag-1"},
    {"CancelConsume", [](auto& e) { e.CancelConsume("ch", "amq.ctag-1", false); }, 60, 30,
     Wire().ShortStr("amq.ctag-1").Octet(0), 31, Wire().ShortStr("amq.ctag-1"), "cancel:ch:amq.ctag-1"},
    {"GetMessageEmpty", [](auto& e) { e.GetMessage("ch", "q", true); }, 60, 70,
     Wire().Short(0).ShortStr("q").Octet(1), 72, Wire().ShortStr(""), "get-empty:ch"},
    {"AckMessage", [](auto& e) { e.AckMessage("ch", 1ULL << 33, true); }, 60, 80,
     Wire().LongLong(1ULL << 33).Octet(1), 0, Wire(), nullptr},
    {"RejectMessage", [](auto& e) { e.RejectMessage("ch", 7, false); }, 60, 90, Wire().LongLong(7).Octet(0),
     0, Wire(), nullptr},
    {"Recover", [](auto& e) { e.Recover("ch", true); }, 60, 110, Wire{1}, 111, Wire(), "recover-ok:ch"},
    {"RecoverAsync", [](auto& e) { e.RecoverAsync("ch", false); }, 60, 100, Wire{0}, 0, Wire(), nullptr},
    {"SelectTransaction", [](auto& e) { e.SelectTransaction("ch"); }, 90, 10, Wire(), 11, Wire(), "tx:ch:0"},
    {"CommitTransaction", [](auto& e) { e.CommitTransaction("ch"); }, 90, 20, Wire(), 21, Wire(), "tx:ch:1"},
    {"RollbackTransaction", [](auto& e) { e.RollbackTransaction("ch"); }, 90, 30, Wire(), 31, Wire(),
     "tx:ch:2"},
};

class PlainOperation : public testing::TestWithParam<std::tuple<OperationCase, TSplit>> {};

TEST_P(PlainOperation, WritesItsRequestAndReportsItsReply) {
    const auto& [c, split] = GetParam();
    TScriptedBroker broker(split);
    broker.Handshake();
    const uint16_t channel = broker.OpenChannel("ch");
    RecordReplyEvents(broker.Engine(), broker.Log);
    c.Invoke(broker.Engine());
    const TWrittenFrame request = broker.NextFrame();
    EXPECT_TRUE(request.Is(c.Class, c.Method));
    EXPECT_EQ(request.Channel, channel);
    EXPECT_EQ(request.Arguments(), c.Arguments.Bytes());
    if (c.ReplyMethod == 0) {
        EXPECT_TRUE(broker.NoFrameWithin(20));
        return;
    }
    broker.SendMethod(channel, c.Class, c.ReplyMethod, c.ReplyArguments);
    EXPECT_TRUE(broker.Log.WaitFor(c.Event)) << testing::PrintToString(broker.Log.Events());
}

INSTANTIATE_TEST_SUITE_P(Every, PlainOperation,
                         testing::Combine(testing::ValuesIn(PlainOperations),
                                          testing::Values(splitWhole, splitOneByte, splitRandom)),
                         [](const auto& aInfo) {
                             return std::string(std::get<0>(aInfo.param).Name) +
                                    SplitName(std::get<1>(aInfo.param));
                         });

TEST_P(Operations, RequestNamesFollowTheLastRequestAndSkipNoWait) {
    Engine().DeleteQueue("ch", "q1", false, false, false);
    Engine().DeleteQueue("ch", "q2", false, false, false);
    Engine().DeleteQueue("ch", "q3", false, false, true); // no-wait: not noted
    for (int i = 0; i < 3; ++i)
        Broker.NextFrame();
    Broker.SendMethod(1, 50, 41, Wire().Long(0));
    Broker.SendMethod(1, 50, 41, Wire().Long(0));
    // Both replies report the last name noted.
    EXPECT_TRUE(WaitUntil([&] { return Broker.Log.Events("queue-delete").size() == 2; }));
    EXPECT_EQ(Broker.Log.Count("queue-delete:ch:q2:0"), 2u);

    Engine().DeclareExchange("ch", "x1", "fanout", false, false, false, false, false);
    Engine().DeclareExchange("ch", "x2", "fanout", false, false, false, false, true);
    const TkezAMQPChannelThreadRequest names = Engine().Channels().GetChannel(std::string("ch"))->Request();
    EXPECT_EQ(names.ExchangeDeclare, "x1");
    Engine().UnBindQueue("ch", "q", "x", "k"); // always noted: the method has no no-wait
    EXPECT_EQ(Engine().Channels().GetChannel(std::string("ch"))->Request().QueueUnBindQueue, "q");
}

// A synchronous operation: its reply, and a reply it must not take for success.
struct ExCase {
    const char* Name;
    std::function<bool(TkezAMQP_Client&, int32_t)> Invoke;
    uint16_t Class, Method;
    uint16_t ReplyMethod;
    Wire ReplyArguments;
};

// Test names carry the operation's name, not its octets.
void PrintTo(const ExCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

const ExCase ExOperations[] = {
    {"DeclareExchangeEx",
     [](auto& e, int32_t t) {
         return e.DeclareExchangeEx("ch", "x", "topic", false, false, false, false, false, t);
     },
     40, 10, 11, Wire()},
    {"DeleteExchangeEx", [](auto& e, int32_t t) { return e.DeleteExchangeEx("ch", "x", false, false, t); },
     40, 20, 21, Wire()},
    {"DeclareQueueEx",
     [](auto& e, int32_t t) { return e.DeclareQueueEx("ch", "q", false, false, false, false, false, t); }, 50,
     10, 11, Wire().ShortStr("q").Long(0).Long(0)},
    {"BindQueueEx", [](auto& e, int32_t t) { return e.BindQueueEx("ch", "q", "x", "k", false, t); }, 50, 20,
     21, Wire()},
    {"UnBindQueueEx", [](auto& e, int32_t t) { return e.UnBindQueueEx("ch", "q", "x", "k", t); }, 50, 50, 51,
     Wire()},
    {"PurgeQueueEx", [](auto& e, int32_t t) { return e.PurgeQueueEx("ch", "q", false, t); }, 50, 30, 31,
     Wire().Long(0)},
    {"DeleteQueueEx", [](auto& e, int32_t t) { return e.DeleteQueueEx("ch", "q", false, false, false, t); },
     50, 40, 41, Wire().Long(0)},
    {"SetQoSEx", [](auto& e, int32_t t) { return e.SetQoSEx("ch", 0, 1, true, t); }, 60, 10, 11, Wire()},
    {"ConsumeEx", [](auto& e, int32_t t) { return e.ConsumeEx("ch", "q", "tag", false, false, false, t); },
     60, 20, 21, Wire().ShortStr("tag")},
    {"CancelConsumeEx", [](auto& e, int32_t t) { return e.CancelConsumeEx("ch", "tag", t); }, 60, 30, 31,
     Wire().ShortStr("tag")},
    {"GetMessageEx", [](auto& e, int32_t t) { return e.GetMessageEx("ch", "q", t); }, 60, 70, 71,
     Wire().LongLong(1).Octet(0).ShortStr("").ShortStr("q").Long(0)},
    {"RecoverEx", [](auto& e, int32_t t) { return e.RecoverEx("ch", true, t); }, 60, 110, 111, Wire()},
    {"SelectTransactionEx", [](auto& e, int32_t t) { return e.SelectTransactionEx("ch", t); }, 90, 10, 11,
     Wire()},
    {"CommitTransactionEx", [](auto& e, int32_t t) { return e.CommitTransactionEx("ch", t); }, 90, 20, 21,
     Wire()},
    {"RollbackTransactionEx", [](auto& e, int32_t t) { return e.RollbackTransactionEx("ch", t); }, 90, 30, 31,
     Wire()},
};

class ExOperation : public testing::TestWithParam<std::tuple<ExCase, TSplit>> {};

TEST_P(ExOperation, TrueOnItsReplyFalseOtherwise) {
    const auto& [c, split] = GetParam();
    TScriptedBroker broker(split);
    broker.Handshake();
    broker.OpenChannel("ch");

    // No reply: false after the time-out, and at once for a time-out of 0; the request is written either way.
    EXPECT_FALSE(c.Invoke(broker.Engine(), 0));
    EXPECT_TRUE(broker.NextFrame().Is(c.Class, c.Method));
    EXPECT_FALSE(c.Invoke(broker.Engine(), 30));
    EXPECT_TRUE(broker.NextFrame().Is(c.Class, c.Method));

    // A reply that is not in the wait set does not complete the wait.
    broker.Respond(c.Class, c.Method,
                   [](const TWrittenFrame& f) { return MethodFrame(f.Channel, 20, 21, Wire{1}); });
    EXPECT_FALSE(c.Invoke(broker.Engine(), 100));
    EXPECT_TRUE(broker.NextFrame().Is(c.Class, c.Method));

    // The broker closing the channel instead of replying wakes the wait with false.
    broker.Respond(c.Class, c.Method, [](const TWrittenFrame& f) {
        return MethodFrame(f.Channel, 20, 40, Wire().Short(404).ShortStr("NOT_FOUND").Short(50).Short(10));
    });
    EXPECT_FALSE(c.Invoke(broker.Engine(), 60000));
    EXPECT_TRUE(broker.NextFrame().Is(c.Class, c.Method));
    EXPECT_TRUE(broker.NextFrame().Is(20, 41));
    broker.OpenChannel("ch");

    // Disconnect during the wait wakes it with false.
    std::thread disconnect([&] {
        broker.NextFrame();
        broker.Engine().Disconnect();
    });
    EXPECT_FALSE(c.Invoke(broker.Engine(), 60000));
    disconnect.join();
}

TEST_P(ExOperation, ReplyInTheWaitSetCompletesIt) {
    const auto& [c, split] = GetParam();
    TScriptedBroker broker(split);
    broker.Handshake();
    broker.OpenChannel("ch");
    broker.Respond(c.Class, c.Method, [&c = c](const TWrittenFrame& f) {
        return MethodFrame(f.Channel, c.Class, c.ReplyMethod, c.ReplyArguments);
    });
    EXPECT_TRUE(c.Invoke(broker.Engine(), 5000));
}

INSTANTIATE_TEST_SUITE_P(Every, ExOperation,
                         testing::Combine(testing::ValuesIn(ExOperations),
                                          testing::Values(splitWhole, splitRandom)),
                         [](const auto& aInfo) {
                             return std::string(std::get<0>(aInfo.param).Name) +
                                    SplitName(std::get<1>(aInfo.param));
                         });

TEST_P(Operations, GetMessageExIsFalseForGetEmptyAndTrueForGetOk) {
    Broker.Respond(
        60, 70, [](const TWrittenFrame& f) { return MethodFrame(f.Channel, 60, 72, Wire().ShortStr("")); });
    EXPECT_FALSE(Engine().GetMessageEx("ch", "q", 5000));
    EXPECT_TRUE(Broker.Log.WaitFor("get-empty:ch"));
    // The Get is always written with no-ack false.
    EXPECT_EQ(Broker.NextFrame().Arguments(), Wire().Short(0).ShortStr("q").Octet(0).Bytes());
}

TEST_P(Operations, ConsumeExAndCancelConsumeExNeverAskForNoWait) {
    Broker.Respond(60, 20, [](const TWrittenFrame& f) {
        return MethodFrame(f.Channel, 60, 21, Wire().ShortStr("amq.ctag-9"));
    });
    EXPECT_TRUE(Engine().ConsumeEx("ch", "q", "", false, true, false, 5000));
    EXPECT_TRUE(Broker.Log.WaitFor("consume:ch:amq.ctag-9"));
    EXPECT_EQ(Broker.NextFrame().Arguments(),
              Wire().Short(0).ShortStr("q").ShortStr("").Octet(2).Raw(NoTable).Bytes());
}

TEST_P(Operations, AnExFromAHandlerOnAnotherChannelCompletes) {
    Broker.OpenChannel("other");
    Broker.Respond(90, 10, [](const TWrittenFrame& f) { return MethodFrame(f.Channel, 90, 11); });
    Engine().OnAMQPBasicRecoverOk = [this](TObject*, const std::string&) {
        Broker.Log.Add(Engine().SelectTransactionEx("other", 5000) ? "nested:true" : "nested:false");
    };
    Broker.SendMethod(1, 60, 111);
    EXPECT_TRUE(Broker.Log.WaitFor("nested:true"));
}

KEZ_FOR_EVERY_SPLIT(Operations);

} // namespace
