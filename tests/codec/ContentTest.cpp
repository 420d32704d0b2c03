#include "WireBuilder.h"
#include "kezAMQP_Classes.h"

#include <gtest/gtest.h>

using namespace kez;
using kez::test::Wire;

namespace {

TEST(BasicProperties, FreshObjectWritesItsFourDefaults) {
    TkezAMQPBasicProperties properties;
    EXPECT_EQ(properties.Write(),
              (Wire{216, 0}.ShortStr("text/plain").ShortStr("utf-8").Octets({2, 1}).Bytes()));
}

TEST(BasicProperties, AbsentValuesWriteNoFlags) {
    TkezAMQPBasicProperties properties;
    properties.SetContentType("");
    properties.SetContentEncoding("");
    properties.SetDeliveryMode(amqpMDMNone);
    properties.SetPriority(0);
    EXPECT_EQ(properties.Write(), (TBytes{0, 0}));
    properties.SetTimeStamp(1);
    EXPECT_EQ(properties.Write(), (TBytes{0, 0x40, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(BasicProperties, AllFourteenRoundTripInFlagOrder) {
    TkezAMQPBasicProperties sent;
    sent.SetContentType("application/json");
    sent.SetContentEncoding("gzip");
    sent.SetHeaders("{\"h\":\"v\"}");
    sent.SetDeliveryMode(amqpMDMNonPersistent);
    sent.SetPriority(9);
    sent.SetCorrelationId("corr");
    sent.SetReplyTo("reply");
    sent.SetExpiration("60000");
    sent.SetMessageId("mid");
    sent.SetTimeStamp(1700000000);
    sent.SetType("t");
    sent.SetUserId("guest");
    sent.SetAppId("app");
    sent.SetReserved("r");
    const TBytes bytes = sent.Write();
    const Wire expected = Wire{0xFF, 0xFC}
                              .ShortStr("application/json")
                              .ShortStr("gzip")
                              .Table(Wire().ShortStr("h").Octet('S').LongStr("v"))
                              .Octets({1, 9})
                              .ShortStr("corr")
                              .ShortStr("reply")
                              .ShortStr("60000")
                              .ShortStr("mid")
                              .LongLong(1700000000)
                              .ShortStr("t")
                              .ShortStr("guest")
                              .ShortStr("app")
                              .ShortStr("r");
    EXPECT_EQ(bytes, expected.Bytes());

    TkezAMQPBasicProperties received;
    received.Read(bytes, 0);
    EXPECT_EQ(received.Position(), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(received.ContentType(), "application/json");
    EXPECT_EQ(received.ContentEncoding(), "gzip");
    EXPECT_EQ(received.Headers(), "{\"h\": \"v\"}");
    EXPECT_EQ(received.DeliveryMode(), amqpMDMNonPersistent);
    EXPECT_EQ(received.Priority(), 9);
    EXPECT_EQ(received.CorrelationId(), "corr");
    EXPECT_EQ(received.ReplyTo(), "reply");
    EXPECT_EQ(received.Expiration(), "60000");
    EXPECT_EQ(received.MessageId(), "mid");
    EXPECT_EQ(received.TimeStamp(), 1700000000u);
    EXPECT_EQ(received.Type(), "t");
    EXPECT_EQ(received.UserId(), "guest");
    EXPECT_EQ(received.AppId(), "app");
    EXPECT_EQ(received.Reserved(), "r");
}

TEST(BasicProperties, ReadingNoFlagsKeepsTheDefaults) {
    TkezAMQPBasicProperties properties;
    properties.Read(TBytes{0, 0}, 0);
    EXPECT_EQ(properties.ContentType(), "text/plain");
    EXPECT_EQ(properties.DeliveryMode(), amqpMDMPersistent);
    EXPECT_EQ(properties.Priority(), 1);
}

TEST(BasicProperties, UnknownDeliveryModeIsKeptAndWrittenBackUnchanged) {
    TkezAMQPBasicProperties properties;
    properties.Read(TBytes{0x10, 0, 7}, 0);
    EXPECT_EQ(static_cast<int>(properties.DeliveryMode()), 7);
    properties.SetContentType("");
    properties.SetContentEncoding("");
    properties.SetPriority(0);
    EXPECT_EQ(properties.Write(), (TBytes{0x10, 0, 7}));
}

TEST(BasicProperties, ContinuationFlagWordsAreSteppedOver) {
    // First word: message id and a further word; the further word names one unknown property.
    const Wire bytes = Wire().Short(0x0081).Short(0x8000).ShortStr("m").Raw("unknown");
    TkezAMQPBasicProperties properties;
    properties.Read(bytes.Bytes(), 0);
    EXPECT_EQ(properties.MessageId(), "m");
}

TEST(ContentHeader, RefusesOtherClassesAndNonZeroWeight) {
    const Wire props{0, 0};
    for (const Wire& payload : {Wire().Short(50).Short(0).LongLong(0).Raw(props),
                                Wire().Short(60).Short(1).LongLong(0).Raw(props)}) {
        TkezAMQPFramePayloadType_ContentHeader header;
        try {
            header.Read(payload.Bytes());
            FAIL() << "no exception";
        } catch (const TkezAMQPException& e) {
            EXPECT_EQ(e.Code(), 501);
        }
    }
}

TEST(ContentHeader, WritesClassWeightSizeAndProperties) {
    TkezAMQPFramePayloadType_ContentHeader header;
    header.SetBodySize(5);
    EXPECT_EQ(header.Write(), Wire()
                                  .Short(60)
                                  .Short(0)
                                  .LongLong(5)
                                  .Octets({216, 0})
                                  .ShortStr("text/plain")
                                  .ShortStr("utf-8")
                                  .Octets({2, 1})
                                  .Bytes());
}

TEST(ContentBody, LargeBodyGoesOutInFrameSizedChunksFromOneStream) {
    constexpr int64_t BodySize = 300000;
    constexpr int64_t FrameMax = 131072;
    TMemoryStream stream;
    TBytes body(BodySize);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(i * 7);
    stream.WriteBuffer(body.data(), BodySize);

    std::vector<size_t> sizes;
    TBytes reassembled;
    for (int64_t offset = 0; offset < BodySize;) {
        const int64_t chunk = std::min(FrameMax - 8, BodySize - offset);
        TkezAMQPFrame frame;
        frame.Header().SetType(amqpFrameBody);
        frame.Header().SetChannel(1);
        frame.Payload_ContentBody().SetData(&stream);
        frame.Payload_ContentBody().SetDataSize(chunk);
        stream.SetPosition(offset);
        const TBytes bytes = frame.Write();
        sizes.push_back(bytes.size());
        reassembled.insert(reassembled.end(), bytes.begin() + 7, bytes.end() - 1);
        offset += chunk;
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{FrameMax, FrameMax, 37872 + 8}));
    EXPECT_EQ(reassembled, body);
}

TEST(ContentBody, MissingTailIsWrittenAsZeros) {
    TMemoryStream stream;
    stream.WriteBuffer("abc", 3);
    stream.SetPosition(1);
    TkezAMQPFramePayloadType_ContentBody body;
    body.SetData(&stream);
    body.SetDataSize(4);
    EXPECT_EQ(body.Write(), (TBytes{'b', 'c', 0, 0}));
}

TEST(ContentBody, AsStringReturnsTheUtf8TextAndRewinds) {
    TkezAMQPFramePayloadType_ContentBody body;
    EXPECT_EQ(body.AsString(), "");
    const std::string text = "caf\xC3\xA9 \xE2\x98\x95";
    body.Read(TBytesView(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    EXPECT_EQ(body.AsString(), text);
    EXPECT_EQ(body.Data().Position(), 0);
}

TEST(MessageContent, BodiesAccumulateInArrivalOrder) {
    TkezAMQPMessageContent message;
    TkezAMQPFramePayloadType_ContentBody first, second;
    first.Read(Wire().Raw("0123456789").Bytes());
    second.Read(Wire().Raw("abcde").Bytes());
    message.SetBody(&first);
    message.SetBody(&second);
    message.SetBody(nullptr);
    EXPECT_EQ(message.Body().DataSize(), 15);
    EXPECT_EQ(message.Body().AsString(), "0123456789abcde");
}

TEST(MessageContent, TakeBodyAdoptsTheFirstFrameAndAppendsTheRest) {
    TkezAMQPMessageContent message;
    TkezAMQPFramePayloadType_ContentBody first, second;
    first.Read(Wire().Raw("0123456789").Bytes());
    const uint8_t* octets = static_cast<TMemoryStream&>(first.Data()).Memory();
    second.Read(Wire().Raw("abcde").Bytes());
    message.TakeBody(first);
    EXPECT_EQ(static_cast<TMemoryStream&>(message.Body().Data()).Memory(), octets); // not copied
    EXPECT_FALSE(first.HasData());
    message.TakeBody(second);
    EXPECT_EQ(message.Body().DataSize(), 15);
    EXPECT_EQ(message.Body().AsString(), "0123456789abcde");
}

TEST(MessageContent, CopiesDeliverGetOkAndReturnOnly) {
    TkezAMQPMessageContent message;
    TkezAMQPFramePayload_Method_BasicDeliver deliver;
    deliver.Read(
        Wire::Method(60, 60, Wire().ShortStr("c").LongLong(77).Octet(1).ShortStr("x").ShortStr("k")).Bytes());
    message.SetPayload(&deliver);
    auto* copy = dynamic_cast<TkezAMQPFramePayload_Method_BasicDeliver*>(message.Payload());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, &deliver);
    EXPECT_EQ(copy->DeliveryTag(), 77u);
    EXPECT_EQ(copy->RoutingKey(), "k");

    TkezAMQPFramePayload_Method_BasicQoSOk qosOk;
    try {
        message.SetPayload(&qosOk);
        FAIL() << "no exception";
    } catch (const TkezAMQPException& e) {
        EXPECT_EQ(e.Code(), 505);
    }
    EXPECT_EQ(message.Payload(), nullptr);
}

TEST(MessageContent, HeaderIsCopiedAndClearForgetsEverything) {
    TkezAMQPFramePayloadType_ContentHeader header;
    header.SetBodySize(3);
    header.Header().SetAppId("a");
    TkezAMQPMessageContent message;
    message.SetHeader(&header);
    header.Header().SetAppId("changed");
    EXPECT_EQ(message.Header().BodySize(), 3u);
    EXPECT_EQ(message.Header().Header().AppId(), "a");
    message.Clear();
    EXPECT_EQ(message.Header().BodySize(), 0u);
    EXPECT_EQ(message.Body().DataSize(), 0);
}

} // namespace
