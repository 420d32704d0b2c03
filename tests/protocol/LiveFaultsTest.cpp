// Faults on the line between client and broker, made by the tests' own proxy.
#include "FaultProxy.h"
#include "LiveBroker.h"

using namespace kez;
using namespace kez::test;

namespace {

constexpr int Timeout = 5000;

std::string Replace(std::string aText, const std::string& aWhat, const std::string& aWith) {
    for (size_t at = aText.find(aWhat); at != std::string::npos; at = aText.find(aWhat, at + aWith.size()))
        aText.replace(at, aWhat.size(), aWith);
    return aText;
}

// A session that touches every path of the receive side: handshake, methods with and without replies, a
// message with properties, one larger than a frame, an empty one, a get-empty and the close. Returns the
// events the client reported, with the queue's random name taken out.
std::vector<std::string> Session(uint16_t aPort) {
    TLiveBroker broker;
    broker.Client->SetPort(aPort);
    TkezWSPClient_AMQP& amqp = *broker.AMQP;
    amqp.OnAMQPQueueDeclare = [&](TObject*, const std::string& c, const std::string& q, int32_t m,
                                  int32_t n) {
        broker.Log.Add("queue-declare:" + c + ":" + q + ":" + std::to_string(m) + ":" + std::to_string(n));
    };
    amqp.OnAMQPBasicConsume = [&](TObject*, const std::string& c, const std::string& t) {
        broker.Log.Add("consume:" + c + ":" + t);
    };
    amqp.OnAMQPBasicCancelConsume = [&](TObject*, const std::string& c, const std::string& t) {
        broker.Log.Add("cancel:" + c + ":" + t);
    };
    amqp.OnAMQPBasicGetEmpty = [&](TObject*, const std::string& c) { broker.Log.Add("get-empty:" + c); };
    amqp.OnAMQPBasicDeliver = [&](TObject*, const std::string& c,
                                  const TkezAMQPFramePayload_Method_BasicDeliver& d,
                                  TkezAMQPMessageContent& m) {
        const std::string body = m.Body().AsString();
        size_t sum = 0;
        for (unsigned char octet : body)
            sum = sum * 31 + octet;
        broker.Log.Add("deliver:" + c + ":" + std::to_string(d.DeliveryTag()) + ":" +
                       std::to_string(body.size()) + ":" + std::to_string(sum) + ":" +
                       m.Header().Header().ContentType() + ":" + m.Header().Header().Headers());
    };
    if (!broker.Connect()) return broker.Log.Events();
    const std::string queue = UniqueName("sliced");
    EXPECT_TRUE(amqp.OpenChannelEx("ch", Timeout));
    EXPECT_TRUE(amqp.DeclareQueueEx("ch", queue, false, false, true, false, false, Timeout));
    TkezAMQPBasicProperties properties;
    properties.SetContentType("application/json");
    properties.SetHeaders(R"({"n":1,"s":"x","t":{"a":[1,2]}})");
    amqp.PublishMessage("ch", "", queue, &properties, std::string("with properties"), false, false);
    std::string large(140 * 1024, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 13);
    amqp.PublishMessage("ch", "", queue, large, false, false);
    amqp.PublishMessage("ch", "", queue, std::string(), false, false);
    EXPECT_TRUE(amqp.ConsumeEx("ch", queue, "tag", false, true, false, Timeout));
    EXPECT_TRUE(broker.Log.WaitForCount("deliver:", 3, 20000));
    EXPECT_TRUE(amqp.CancelConsumeEx("ch", "tag", Timeout));
    EXPECT_FALSE(amqp.GetMessageEx("ch", queue, Timeout));
    EXPECT_TRUE(amqp.CloseEx(200, "bye", amqpClassNone, amqpMethodNone));
    EXPECT_TRUE(broker.Log.WaitForCount("disconnect:", 2));
    std::vector<std::string> events = broker.Log.Events();
    for (std::string& event : events)
        event = Replace(event, queue, "Q");
    return events;
}

TEST(LiveFaults, OneByteSlicesChangeNothingTheClientReports) {
    TFaultProxy whole(static_cast<uint16_t>(TestBrokerPort()));
    TFaultProxy sliced(static_cast<uint16_t>(TestBrokerPort()));
    sliced.SetSliceSize(1);
    const std::vector<std::string> reference = Session(whole.Port());
    ASSERT_EQ(std::count_if(reference.begin(), reference.end(),
                            [](const std::string& e) { return e.rfind("deliver:", 0) == 0; }),
              3)
        << testing::PrintToString(reference);
    EXPECT_EQ(Session(sliced.Port()), reference);
}

TEST(LiveFaults, AResetInTheMiddleOfAMegabyteBodyDeliversNothingAndDisconnectsOnce) {
    TFaultProxy proxy(static_cast<uint16_t>(TestBrokerPort()));
    TLiveBroker consumer;
    consumer.Client->SetPort(proxy.Port());
    consumer.AMQP->OnAMQPBasicDeliver = [&](TObject*, const std::string&,
                                            const TkezAMQPFramePayload_Method_BasicDeliver&,
                                            TkezAMQPMessageContent& m) {
        consumer.Log.Add("deliver:" + std::to_string(m.Body().AsString().size()));
    };
    ASSERT_TRUE(consumer.Connect());
    const std::string queue = UniqueName("cut");
    ASSERT_TRUE(consumer.AMQP->OpenChannelEx("ch", Timeout));
    ASSERT_TRUE(consumer.AMQP->DeclareQueueEx("ch", queue, false, false, false, true, false, Timeout));
    ASSERT_TRUE(consumer.AMQP->ConsumeEx("ch", queue, "", false, true, false, Timeout));
    proxy.CutAfter(512 * 1024);

    TLiveBroker publisher;
    ASSERT_TRUE(publisher.Connect());
    ASSERT_TRUE(publisher.AMQP->OpenChannelEx("ch", Timeout));
    publisher.AMQP->PublishMessage("ch", "", queue, std::string(1024 * 1024, 'm'), false, false);

    EXPECT_TRUE(consumer.Log.WaitForCount("disconnect:", 1, 10000));
    EXPECT_TRUE(WaitUntil([&] { return !consumer.Client->Active(); }));
    consumer.Log.Quiesce();
    EXPECT_EQ(consumer.Log.CountPrefix("deliver:"), 0u);
    EXPECT_EQ(consumer.Log.CountPrefix("disconnect:"), 1u) << testing::PrintToString(consumer.Log.Events());
    EXPECT_GE(proxy.Downstream(), 512u * 1024u);
}

TEST(LiveFaults, AStalledLineTimesAnExCallOutAndTheLateReplyStillArrives) {
    TFaultProxy proxy(static_cast<uint16_t>(TestBrokerPort()));
    TLiveBroker broker;
    broker.Client->SetPort(proxy.Port());
    broker.AMQP->OnAMQPBasicQoS = [&](TObject*, const std::string&,
                                      const TkezAMQPFramePayload_Method_BasicQoS& q) {
        broker.Log.Add("qos:" + std::to_string(q.PrefetchCount()));
    };
    ASSERT_TRUE(broker.Connect());
    ASSERT_TRUE(broker.AMQP->OpenChannelEx("ch", Timeout));
    proxy.SetStalled(true);
    EXPECT_FALSE(broker.AMQP->SetQoSEx("ch", 0, 7, false, 200));
    proxy.SetStalled(false);
    EXPECT_TRUE(broker.Log.WaitFor("qos:7"));
    EXPECT_TRUE(broker.AMQP->SetQoSEx("ch", 0, 8, false, Timeout));
    EXPECT_EQ(broker.Log.CountPrefix("disconnect:"), 0u);
}

} // namespace
