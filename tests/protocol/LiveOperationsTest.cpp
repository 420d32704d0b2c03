// Every operation and every event of the AMQP component against the real broker.
#include "LiveBroker.h"

#include <iostream>

using namespace kez;
using namespace kez::test;

namespace {

constexpr int Timeout = 5000;

// A connected component with one open channel and every reply event recorded.
class LiveOperations : public testing::Test {
protected:
    void SetUp() override {
        TkezWSPClient_AMQP& a = *Broker.AMQP;
        a.OnAMQPExchangeDeclare = [this](TObject*, const std::string& c, const std::string& x) {
            Log("exchange-declare:" + c + ":" + x);
        };
        a.OnAMQPExchangeDelete = [this](TObject*, const std::string& c, const std::string& x) {
            Log("exchange-delete:" + c + ":" + x);
        };
        a.OnAMQPQueueDeclare = [this](TObject*, const std::string& c, const std::string& q, int32_t m,
                                      int32_t n) {
            Log("queue-declare:" + c + ":" + q + ":" + std::to_string(m) + ":" + std::to_string(n));
        };
        a.OnAMQPQueueBind = [this](TObject*, const std::string& c, const std::string& q,
                                   const std::string& x) { Log("queue-bind:" + c + ":" + q + ":" + x); };
        a.OnAMQPQueueUnBind = [this](TObject*, const std::string& c, const std::string& q,
                                     const std::string& x) { Log("queue-unbind:" + c + ":" + q + ":" + x); };
        a.OnAMQPQueuePurge = [this](TObject*, const std::string& c, const std::string& q, int32_t m) {
            Log("queue-purge:" + c + ":" + q + ":" + std::to_string(m));
        };
        a.OnAMQPQueueDelete = [this](TObject*, const std::string& c, const std::string& q, int32_t m) {
            Log("queue-delete:" + c + ":" + q + ":" + std::to_string(m));
        };
        a.OnAMQPBasicQoS = [this](TObject*, const std::string& c,
                                  const TkezAMQPFramePayload_Method_BasicQoS& q) {
            Log("qos:" + c + ":" + std::to_string(q.PrefetchCount()));
        };
        a.OnAMQPBasicConsume = [this](TObject*, const std::string& c, const std::string& t) {
            Log("consume:" + c + ":" + t);
        };
        a.OnAMQPBasicCancelConsume = [this](TObject*, const std::string& c, const std::string& t) {
            Log("cancel:" + c + ":" + t);
        };
        a.OnAMQPBasicGetEmpty = [this](TObject*, const std::string& c) { Log("get-empty:" + c); };
        a.OnAMQPBasicRecoverOk = [this](TObject*, const std::string& c) { Log("recover-ok:" + c); };
        a.OnAMQPTransactionOk = [this](TObject*, const std::string& c, TkezAMQPTransaction t) {
            Log("tx:" + c + ":" + std::to_string(int(t)));
        };
        a.OnAMQPChannelFlow = [this](TObject*, const std::string& c, bool f, bool ack) {
            Log("flow:" + c + ":" + (f ? "on" : "off") + ":" + (ack ? "ack" : "broker"));
        };
        a.OnAMQPBasicDeliver = [this](TObject*, const std::string& c,
                                      const TkezAMQPFramePayload_Method_BasicDeliver& d,
                                      TkezAMQPMessageContent& m) {
            Record("deliver:" + c, d.DeliveryTag(), d.Redelivered(), m);
        };
        a.OnAMQPBasicGetOk =
            [this](TObject*, const std::string& c, const TkezAMQPFramePayload_Method_BasicGetOk& g,
                   TkezAMQPMessageContent& m) { Record("getok:" + c, g.DeliveryTag(), g.Redelivered(), m); };
        a.OnAMQPBasicReturn = [this](TObject*, const std::string& c,
                                     const TkezAMQPFramePayload_Method_BasicReturn& r,
                                     TkezAMQPMessageContent& m) {
            Record("return:" + c + ":" + std::to_string(r.ReplyCode()) + ":" + r.ReplyText(), 0, false, m);
        };
        ASSERT_TRUE(Broker.Connect()) << testing::PrintToString(Broker.Log.Events());
        ASSERT_TRUE(a.OpenChannelEx("ch", Timeout));
    }
    void TearDown() override {
        if (HasFailure()) std::cout << testing::PrintToString(Broker.Log.Events()) << '\n';
    }

    void Log(const std::string& aEvent) { Broker.Log.Add(aEvent); }

    struct TMessage {
        uint64_t Tag;
        bool Redelivered;
        std::string Body;
        TkezAMQPBasicProperties Properties;
    };
    void Record(const std::string& aKind, uint64_t aTag, bool aRedelivered,
                TkezAMQPMessageContent& aContent) {
        {
            std::lock_guard guard(MessagesLock);
            Messages.push_back({aTag, aRedelivered, aContent.Body().AsString(), aContent.Header().Header()});
        }
        Log(aKind + ":" + aContent.Body().AsString());
    }
    std::vector<TMessage> TakeMessages() {
        std::lock_guard guard(MessagesLock);
        return std::exchange(Messages, {});
    }
    std::string Queue(const std::string& aPrefix = "q") {
        const std::string name = UniqueName(aPrefix);
        // Exclusive, not auto-delete: it outlives its consumers and goes with the connection.
        EXPECT_TRUE(AMQP().DeclareQueueEx("ch", name, false, false, true, false, false, Timeout));
        return name;
    }
    TkezWSPClient_AMQP& AMQP() { return *Broker.AMQP; }
    // Without publisher confirms the broker's counts trail the publishes a little: ask until they agree.
    bool QueueReports(const std::string& aQueue, int aMessages, int aConsumers = 0) {
        const std::string line =
            "queue-declare:ch:" + aQueue + ":" + std::to_string(aMessages) + ":" + std::to_string(aConsumers);
        return WaitUntil([&] {
            AMQP().DeclareQueueEx("ch", aQueue, true, false, false, false, false, Timeout);
            return Broker.Log.Count(line) > 0;
        });
    }

    TLiveBroker Broker;
    std::mutex MessagesLock;
    std::vector<TMessage> Messages;
};

TEST_F(LiveOperations, PlainFormsReportTheirRepliesThroughEvents) {
    const std::string exchange = UniqueName("x-plain"), queue = UniqueName("q-plain");
    AMQP().OpenChannel("p");
    EXPECT_TRUE(Broker.Log.WaitFor("channel-open:p"));
    AMQP().EnableChannel("p");
    EXPECT_TRUE(Broker.Log.WaitFor("flow:p:on:ack"));
    AMQP().DeclareExchange("p", exchange, "fanout", false, false, false, false, false);
    EXPECT_TRUE(Broker.Log.WaitFor("exchange-declare:p:" + exchange));
    AMQP().DeclareQueue("p", queue, false, false, true, false, false);
    EXPECT_TRUE(Broker.Log.WaitFor("queue-declare:p:" + queue + ":0:0"));
    AMQP().BindQueue("p", queue, exchange, "", false);
    EXPECT_TRUE(Broker.Log.WaitFor("queue-bind:p:" + queue + ":" + exchange));
    AMQP().UnBindQueue("p", queue, exchange, "");
    EXPECT_TRUE(Broker.Log.WaitFor("queue-unbind:p:" + queue + ":" + exchange));
    AMQP().PurgeQueue("p", queue, false);
    EXPECT_TRUE(Broker.Log.WaitFor("queue-purge:p:" + queue + ":0"));
    AMQP().SetQoS("p", 0, 5, false);
    EXPECT_TRUE(Broker.Log.WaitFor("qos:p:5"));
    AMQP().Consume("p", queue, "plain-tag", false, false, false, false);
    EXPECT_TRUE(Broker.Log.WaitFor("consume:p:plain-tag"));
    AMQP().CancelConsume("p", "plain-tag", false);
    EXPECT_TRUE(Broker.Log.WaitFor("cancel:p:plain-tag"));
    AMQP().GetMessage("p", queue, true);
    EXPECT_TRUE(Broker.Log.WaitFor("get-empty:p"));
    AMQP().Recover("p", true);
    EXPECT_TRUE(Broker.Log.WaitFor("recover-ok:p"));
    AMQP().SelectTransaction("p");
    EXPECT_TRUE(Broker.Log.WaitFor("tx:p:0"));
    AMQP().CommitTransaction("p");
    EXPECT_TRUE(Broker.Log.WaitFor("tx:p:1"));
    AMQP().RollbackTransaction("p");
    EXPECT_TRUE(Broker.Log.WaitFor("tx:p:2"));
    AMQP().DeleteQueue("p", queue, false, false, false);
    EXPECT_TRUE(Broker.Log.WaitFor("queue-delete:p:" + queue + ":0"));
    AMQP().DeleteExchange("p", exchange, false, false);
    EXPECT_TRUE(Broker.Log.WaitFor("exchange-delete:p:" + exchange));
    AMQP().CloseChannel("p", 200, "done", amqpClassNone, amqpMethodNone);
    EXPECT_TRUE(Broker.Log.WaitForCount("channel-close:p:0:ack", 1));
    EXPECT_TRUE(AMQP().OpenChannelEx("p", Timeout));
    EXPECT_TRUE(AMQP().EnableChannelEx("p", Timeout));
}

TEST_F(LiveOperations, ExchangesOfEveryTypeAreDeclaredPassivelyDeclaredAndDeleted) {
    for (const char* type : {"direct", "fanout", "topic", "headers"}) {
        const std::string exchange = UniqueName(std::string("x-") + type);
        EXPECT_TRUE(
            AMQP().DeclareExchangeEx("ch", exchange, type, false, false, true, false, false, Timeout));
        EXPECT_TRUE(Broker.Log.WaitFor("exchange-declare:ch:" + exchange));
        EXPECT_TRUE(
            AMQP().DeclareExchangeEx("ch", exchange, type, true, false, false, false, false, Timeout));
        EXPECT_TRUE(AMQP().DeleteExchangeEx("ch", exchange, false, false, Timeout));
        EXPECT_TRUE(Broker.Log.WaitFor("exchange-delete:ch:" + exchange));
    }
}

TEST_F(LiveOperations, QueuesAreDeclaredBoundUnboundPurgedAndDeletedWithTheirCounts) {
    // A server-named queue is reported under the name the broker gave it.
    EXPECT_TRUE(AMQP().DeclareQueueEx("ch", "", false, false, true, true, false, Timeout));
    EXPECT_TRUE(WaitUntil([&] { return !Broker.Log.Events("queue-declare:ch:amq.gen-").empty(); }));

    const std::string queue = Queue();
    // Not auto-delete: unbinding its only queue must leave the exchange in place.
    const std::string exchange = UniqueName("x-direct");
    ASSERT_TRUE(
        AMQP().DeclareExchangeEx("ch", exchange, "direct", false, false, false, false, false, Timeout));
    EXPECT_TRUE(AMQP().BindQueueEx("ch", queue, exchange, "key", false, Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("queue-bind:ch:" + queue + ":" + exchange));
    for (int i = 0; i < 3; ++i)
        AMQP().PublishMessage("ch", exchange, "key", "m" + std::to_string(i), false, false);
    EXPECT_TRUE(AMQP().UnBindQueueEx("ch", queue, exchange, "key", Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("queue-unbind:ch:" + queue + ":" + exchange));
    AMQP().PublishMessage("ch", exchange, "key", "not routed any more", false, false);
    // Passive declare reports the count.
    EXPECT_TRUE(QueueReports(queue, 3));
    EXPECT_TRUE(AMQP().PurgeQueueEx("ch", queue, false, Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("queue-purge:ch:" + queue + ":3"));
    AMQP().PublishMessage("ch", "", queue, "left", false, false);
    EXPECT_TRUE(QueueReports(queue, 1));
    EXPECT_TRUE(AMQP().DeleteQueueEx("ch", queue, false, false, false, Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("queue-delete:ch:" + queue + ":1"));
    EXPECT_TRUE(AMQP().DeleteExchangeEx("ch", exchange, false, false, Timeout));
}

TEST_F(LiveOperations, HeadersExchangeBindsWithXMatchArguments) {
    const std::string exchange = UniqueName("x-headers");
    ASSERT_TRUE(
        AMQP().DeclareExchangeEx("ch", exchange, "headers", false, false, true, false, false, Timeout));
    const std::string all = Queue("all"), any = Queue("any");
    EXPECT_TRUE(
        AMQP().BindQueueEx("ch", all, exchange, "", false, Timeout, R"({"x-match":"all","a":"1","b":"2"})"));
    EXPECT_TRUE(
        AMQP().BindQueueEx("ch", any, exchange, "", false, Timeout, R"({"x-match":"any","a":"1","b":"2"})"));
    TkezAMQPBasicProperties properties;
    properties.SetHeaders(R"({"a":"1"})");
    AMQP().PublishMessage("ch", exchange, "", &properties, std::string("only a"), false, false);
    properties.SetHeaders(R"({"a":"1","b":"2"})");
    AMQP().PublishMessage("ch", exchange, "", &properties, std::string("a and b"), false, false);
    EXPECT_TRUE(QueueReports(all, 1));
    EXPECT_TRUE(QueueReports(any, 2));
    EXPECT_TRUE(
        AMQP().UnBindQueueEx("ch", all, exchange, "", Timeout, R"({"x-match":"all","a":"1","b":"2"})"));
}

TEST_F(LiveOperations, ConsumeAndCancelWithAServerChosenTag) {
    const std::string queue = Queue();
    EXPECT_TRUE(AMQP().SetQoSEx("ch", 0, 10, false, Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("qos:ch:10"));
    EXPECT_TRUE(AMQP().ConsumeEx("ch", queue, "", false, true, false, Timeout));
    ASSERT_TRUE(WaitUntil([&] { return !Broker.Log.Events("consume:ch:amq.ctag-").empty(); }));
    const std::string tag = Broker.Log.Events("consume:ch:")[0].substr(std::string("consume:ch:").size());
    AMQP().PublishMessage("ch", "", queue, "one", false, false);
    AMQP().PublishMessage("ch", "", queue, "two", false, false);
    EXPECT_TRUE(Broker.Log.WaitFor("deliver:ch:two"));
    EXPECT_EQ(Broker.Log.Events("deliver:ch:"),
              (std::vector<std::string>{"deliver:ch:one", "deliver:ch:two"}));
    EXPECT_TRUE(AMQP().CancelConsumeEx("ch", tag, Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("cancel:ch:" + tag));
}

TEST_F(LiveOperations, PublishInAllFourFormsWithPropertiesAndHeaders) {
    const std::string queue = Queue();
    TkezAMQPBasicProperties properties;
    properties.SetContentType("application/json");
    properties.SetCorrelationId("corr-1");
    properties.SetMessageId("m-1");
    properties.SetTimeStamp(1700000000);
    properties.SetPriority(5);
    properties.SetDeliveryMode(amqpMDMNonPersistent);
    properties.SetHeaders(R"({"s":"text","i":42,"b":true,"d":2.5})");
    TMemoryStream stream(TBytes{'s', 't', 'r', 'e', 'a', 'm'});
    AMQP().PublishMessage("ch", "", queue, &properties, std::string("text with properties"), false, false);
    AMQP().PublishMessage("ch", "", queue, &properties, stream, false, false);
    AMQP().PublishMessage("ch", "", queue, "plain text", false, false);
    AMQP().PublishMessage("ch", "", queue, stream, false, false);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(AMQP().GetMessageEx("ch", queue, Timeout));
    ASSERT_TRUE(WaitUntil([&] { return Broker.Log.CountPrefix("getok:") == 4; }));
    const std::vector<TMessage> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].Body, "text with properties");
    EXPECT_EQ(messages[1].Body, "stream");
    EXPECT_EQ(messages[2].Body, "plain text");
    EXPECT_EQ(messages[3].Body, "stream");
    for (int i : {0, 1}) {
        const TkezAMQPBasicProperties& p = messages[static_cast<size_t>(i)].Properties;
        EXPECT_EQ(p.ContentType(), "application/json");
        EXPECT_EQ(p.CorrelationId(), "corr-1");
        EXPECT_EQ(p.MessageId(), "m-1");
        EXPECT_EQ(p.TimeStamp(), 1700000000u);
        EXPECT_EQ(p.Priority(), 5);
        EXPECT_EQ(p.DeliveryMode(), amqpMDMNonPersistent);
        EXPECT_EQ(p.Headers(), R"({"s": "text", "i": 42, "b": true, "d": 2.5})");
    }
    // Without properties the defaults go out.
    EXPECT_EQ(messages[2].Properties.ContentType(), "text/plain");
    EXPECT_EQ(messages[2].Properties.DeliveryMode(), amqpMDMPersistent);
}

TEST_F(LiveOperations, UnroutableMandatoryPublishComesBack) {
    AMQP().PublishMessage("ch", "", UniqueName("nowhere"), "lost", true, false);
    EXPECT_TRUE(Broker.Log.WaitFor("return:ch:312:NO_ROUTE:lost"));
}

TEST_F(LiveOperations, GetAndGetEmpty) {
    const std::string queue = Queue();
    EXPECT_FALSE(AMQP().GetMessageEx("ch", queue, Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("get-empty:ch"));
    AMQP().PublishMessage("ch", "", queue, "x", false, false);
    EXPECT_TRUE(WaitUntil([&] { return AMQP().GetMessageEx("ch", queue, Timeout); }));
    EXPECT_TRUE(Broker.Log.WaitFor("getok:ch:x"));
}

TEST_F(LiveOperations, AckRejectRecoverAndRecoverAsync) {
    const std::string queue = Queue();
    for (const char* body : {"a", "b", "c"})
        AMQP().PublishMessage("ch", "", queue, body, false, false);
    ASSERT_TRUE(AMQP().ConsumeEx("ch", queue, "c1", false, false, false, Timeout));
    ASSERT_TRUE(WaitUntil([&] { return Broker.Log.CountPrefix("deliver:") == 3; }));
    std::vector<TMessage> first = TakeMessages();
    AMQP().AckMessage("ch", first[0].Tag, false);   // a is done
    AMQP().RejectMessage("ch", first[1].Tag, true); // b comes back, redelivered
    ASSERT_TRUE(WaitUntil([&] { return Broker.Log.CountPrefix("deliver:") == 4; }));
    std::vector<TMessage> second = TakeMessages();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].Body, "b");
    EXPECT_TRUE(second[0].Redelivered);
    // Recover redelivers every unacknowledged message (b and c).
    EXPECT_TRUE(AMQP().RecoverEx("ch", true, Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("recover-ok:ch"));
    ASSERT_TRUE(WaitUntil([&] { return Broker.Log.CountPrefix("deliver:") == 6; }));
    std::vector<TMessage> third = TakeMessages();
    for (const TMessage& m : third)
        EXPECT_TRUE(m.Redelivered);
    AMQP().RecoverAsync("ch", true);
    ASSERT_TRUE(WaitUntil([&] { return Broker.Log.CountPrefix("deliver:") == 8; }));
    std::vector<TMessage> fourth = TakeMessages();
    AMQP().AckMessage("ch", fourth.back().Tag, true); // multiple: everything so far
    EXPECT_TRUE(AMQP().CancelConsumeEx("ch", "c1", Timeout));
    EXPECT_TRUE(QueueReports(queue, 0));
}

TEST_F(LiveOperations, TransactionsCommitAndRollbackReallyDiscards) {
    const std::string queue = Queue();
    EXPECT_TRUE(AMQP().SelectTransactionEx("ch", Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("tx:ch:0"));
    AMQP().PublishMessage("ch", "", queue, "discarded", false, false);
    EXPECT_TRUE(AMQP().RollbackTransactionEx("ch", Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("tx:ch:2"));
    EXPECT_FALSE(AMQP().GetMessageEx("ch", queue, Timeout));
    AMQP().PublishMessage("ch", "", queue, "kept", false, false);
    EXPECT_TRUE(AMQP().CommitTransactionEx("ch", Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("tx:ch:1"));
    EXPECT_TRUE(AMQP().GetMessageEx("ch", queue, Timeout));
    EXPECT_TRUE(Broker.Log.WaitFor("getok:ch:kept"));
}

TEST_F(LiveOperations, QueueArgumentsAreInForceOnTheBroker) {
    const std::string limited = UniqueName("maxlen");
    ASSERT_TRUE(AMQP().DeclareQueueEx("ch", limited, false, false, false, true, false, Timeout,
                                      R"({"x-max-length":2})"));
    for (const char* body : {"1", "2", "3"})
        AMQP().PublishMessage("ch", "", limited, body, false, false);
    EXPECT_TRUE(QueueReports(limited, 2));

    const std::string expiring = UniqueName("ttl");
    ASSERT_TRUE(AMQP().DeclareQueueEx("ch", expiring, false, false, false, true, false, Timeout,
                                      R"({"x-message-ttl":1000})"));
    AMQP().PublishMessage("ch", "", expiring, "short-lived", false, false);
    EXPECT_TRUE(QueueReports(expiring, 1));
    EXPECT_TRUE(QueueReports(expiring, 0));
}

TEST_F(LiveOperations, ChannelsOpenAndCloseBothWaysAndAMissingQueueLeavesTheNameUsable) {
    EXPECT_TRUE(AMQP().CloseChannelEx("ch", 200, "done", amqpClassNone, amqpMethodNone, Timeout));
    EXPECT_TRUE(Broker.Log.WaitForCount("channel-close:ch:0:ack", 1));
    EXPECT_TRUE(AMQP().OpenChannelEx("ch", Timeout));
    // The broker closes the channel: passive declare of a queue that does not exist.
    EXPECT_FALSE(
        AMQP().DeclareQueueEx("ch", UniqueName("missing"), true, false, false, false, false, Timeout));
    EXPECT_TRUE(Broker.Log.WaitForCount("channel-close:ch:404:broker:NOT_FOUND", 1));
    // The same name opens again, under a new number.
    EXPECT_TRUE(AMQP().OpenChannelEx("ch", Timeout));
    EXPECT_TRUE(AMQP().DeclareQueueEx("ch", UniqueName("fresh"), false, false, false, true, false, Timeout));
}

TEST_F(LiveOperations, PausingAChannelMakesRabbitMQCloseTheConnectionClearly) {
    // RabbitMQ does not implement client-initiated flow control: it closes the connection with 540.
    AMQP().DisableChannel("ch");
    EXPECT_TRUE(Broker.Log.WaitFor("disconnect:540:NOT_IMPLEMENTED - active=false:broker") ||
                !Broker.Log.Events("disconnect:540:").empty());
    EXPECT_TRUE(WaitUntil([&] { return !Broker.Client->Active(); }));
}

TEST_F(LiveOperations, ASixteenMegabyteMessageIsCutByTheFrameSizeAndArrivesIntact) {
    const std::string queue = Queue();
    TBytes body(16 * 1024 * 1024);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>((i * 7) ^ (i >> 9));
    TMemoryStream stream(body);
    AMQP().PublishMessage("ch", "", queue, stream, false, false);
    ASSERT_TRUE(WaitUntil([&] { return AMQP().GetMessageEx("ch", queue, Timeout); }, 20000));
    ASSERT_TRUE(WaitUntil([&] { return Broker.Log.CountPrefix("getok:") == 1; }, 20000));
    const std::vector<TMessage> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].Body == std::string(body.begin(), body.end()));
    EXPECT_EQ(AMQP().Channels().Count(), 2); // the negotiated frame size came from the broker
}

} // namespace
