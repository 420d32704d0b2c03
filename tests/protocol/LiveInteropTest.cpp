// Interop with an independent client: pika publishes what this library reads, and reads what it publishes.
#include "LiveBroker.h"

using namespace kez;
using namespace kez::test;

namespace {

constexpr int Timeout = 5000;

// Runs the pika peer with aArguments and returns its standard output.
std::string Pika(const std::string& aArguments) {
    return CommandOutput("/usr/bin/python3 " KEZ_TEST_PIKA_PEER " " + aArguments);
}

class LiveInterop : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Broker.Connect()) << testing::PrintToString(Broker.Log.Events());
        ASSERT_TRUE(AMQP().OpenChannelEx("ch", Timeout));
        // Shared with pika's connection, so neither exclusive nor auto-delete; removed at the end.
        ASSERT_TRUE(AMQP().DeclareQueueEx("ch", Queue, false, false, false, false, false, Timeout));
    }
    void TearDown() override { AMQP().DeleteQueueEx("ch", Queue, false, false, false, Timeout); }
    TkezWSPClient_AMQP& AMQP() { return *Broker.AMQP; }
    std::string Port() const { return std::to_string(TestBrokerPort()); }

    TLiveBroker Broker;
    const std::string Queue = UniqueName("interop");
};

TEST_F(LiveInterop, WhatPikaPublishesArrivesWithIdenticalFields) {
    TkezAMQPBasicProperties received;
    std::string body;
    AMQP().OnAMQPBasicGetOk = [&](TObject*, const std::string&, const TkezAMQPFramePayload_Method_BasicGetOk&,
                                  TkezAMQPMessageContent& aContent) {
        received = aContent.Header().Header();
        body = aContent.Body().AsString();
        Broker.Log.Add("getok");
    };
    ASSERT_EQ(Pika("publish " + Port() + " " + Queue), "");
    ASSERT_TRUE(WaitUntil([&] { return AMQP().GetMessageEx("ch", Queue, Timeout); }));
    ASSERT_TRUE(Broker.Log.WaitFor("getok"));
    EXPECT_EQ(body, "from pika");
    EXPECT_EQ(received.ContentType(), "application/x-kez");
    EXPECT_EQ(received.ContentEncoding(), "gzip");
    EXPECT_EQ(received.DeliveryMode(), amqpMDMPersistent);
    EXPECT_EQ(received.Priority(), 7);
    EXPECT_EQ(received.CorrelationId(), "corr-42");
    EXPECT_EQ(received.ReplyTo(), "reply-queue");
    EXPECT_EQ(received.Expiration(), "60000");
    EXPECT_EQ(received.MessageId(), "msg-42");
    EXPECT_EQ(received.TimeStamp(), 1700000000u);
    EXPECT_EQ(received.Type(), "kez.test");
    EXPECT_EQ(received.UserId(), "guest");
    EXPECT_EQ(received.AppId(), "pika-peer");
    // Every field type pika writes, in the header text's notation: a timestamp as its seconds, octets as hex,
    // void as an empty string.
    EXPECT_EQ(
        received.Headers(),
        R"({"text": "Grüße", "int32": 42, "negative": -7, "int64": 5000000000, "true": true, )"
        R"("false": false, "decimal": 1.5, "stamp": 1700000000, )"
        R"("table": {"inner": 1, "deeper": {"name": "x"}}, "array": [1, "two", true], "bytes": "01fe", )"
        R"("void": ""})");
}

TEST_F(LiveInterop, WhatThisLibraryPublishesPikaReadsWithIdenticalFields) {
    TkezAMQPBasicProperties properties;
    properties.SetContentType("application/x-kez");
    properties.SetContentEncoding("gzip");
    properties.SetDeliveryMode(amqpMDMNonPersistent);
    properties.SetPriority(7);
    properties.SetCorrelationId("corr-42");
    properties.SetReplyTo("reply-queue");
    properties.SetExpiration("60000");
    properties.SetMessageId("msg-42");
    properties.SetTimeStamp(1700000000);
    properties.SetType("kez.test");
    properties.SetUserId("guest");
    properties.SetAppId("kez");
    properties.SetHeaders(R"({"text": "Grüße \"quoted\"", "int32": 42, "int64": 5000000000, "negative": -7,
                              "true": true, "double": -2.0e3, "table": {"inner": 1}, "array": [1, "two"], "void": null})");
    TBytes binary(256);
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<uint8_t>(i);
    TMemoryStream stream(binary);
    AMQP().PublishMessage("ch", "", Queue, &properties, std::string("from kez"), false, false);
    AMQP().PublishMessage("ch", "", Queue, &properties, stream, false, false);

    // pika reads a double as its integer part; an integral one still shows type and value arrived.
    std::string hex;
    for (uint8_t octet : binary) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[octet >> 4];
        hex += digits[octet & 15];
    }
    const std::string fields =
        R"("headers": {"array": [1, "two"], "double": -2000, "int32": 42, "int64": 5000000000, "negative": -7, )"
        R"("table": {"inner": 1}, "text": "Gr\u00fc\u00dfe \"quoted\"", "true": true, "void": null}, )"
        R"("properties": {"app_id": "kez", "content_encoding": "gzip", "content_type": "application/x-kez", )"
        R"("correlation_id": "corr-42", "delivery_mode": 1, "expiration": "60000", "message_id": "msg-42", )"
        R"("priority": 7, "reply_to": "reply-queue", "timestamp": 1700000000, "type": "kez.test", )"
        R"("user_id": "guest"}})";
    EXPECT_EQ(Pika("read " + Port() + " " + Queue + " 2"), R"({"body": "66726f6d206b657a", )" + fields +
                                                               "\n" + R"({"body": ")" + hex + R"(", )" +
                                                               fields + "\n");
}

} // namespace
