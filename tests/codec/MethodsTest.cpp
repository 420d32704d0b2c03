#include "WireBuilder.h"
#include "kezAMQP_Classes.h"

#include <gtest/gtest.h>

using namespace kez;
using kez::test::Wire;

namespace {

// --- sent methods: the exact arguments each one writes ---

struct WriteCase {
    const char* Name;
    std::function<std::unique_ptr<TkezAMQPFramePayload_Method>()> Make;
    uint16_t ClassId;
    uint16_t MethodId;
    Wire Arguments;
};
void PrintTo(const WriteCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

template <typename T>
std::function<std::unique_ptr<TkezAMQPFramePayload_Method>()> Make(std::function<void(T&)> aFill = nullptr) {
    return [aFill] {
        auto args = std::make_unique<T>();
        if (aFill) aFill(*args);
        return std::unique_ptr<TkezAMQPFramePayload_Method>(std::move(args));
    };
}

class SentMethods : public testing::TestWithParam<WriteCase> {};

TEST_P(SentMethods, WriteTheirExactLayout) {
    const WriteCase& c = GetParam();
    TkezAMQPFrame frame;
    frame.Header().SetType(amqpFrameMethod);
    frame.Header().SetChannel(3);
    frame.Payload_Method().SetPayload(c.Make());
    EXPECT_EQ(frame.Write(), Wire::Frame(1, 3, Wire::Method(c.ClassId, c.MethodId, c.Arguments)).Bytes());
}

const Wire EmptyTable = Wire().Long(0);

INSTANTIATE_TEST_SUITE_P(
    Connection, SentMethods,
    testing::Values(
        WriteCase{"TuneOk", Make<TkezAMQPFramePayload_Method_ConnectionTuneOk>([](auto& a) {
                      a.SetChannelMax(2047);
                      a.SetFrameMax(131072);
                      a.SetHeartBeat(60);
                  }),
                  10, 31, Wire{7, 255, 0, 2, 0, 0, 0, 60}},
        WriteCase{"OpenDefaults", Make<TkezAMQPFramePayload_Method_ConnectionOpen>(), 10, 40,
                  Wire{1, 47, 0, 0}},
        WriteCase{"OpenVhost", Make<TkezAMQPFramePayload_Method_ConnectionOpen>([](auto& a) {
                      a.SetVirtualHost("v");
                      a.SetReserved2(true);
                  }),
                  10, 40, Wire{1, 'v', 0, 1}},
        WriteCase{"SecureOk",
                  Make<TkezAMQPFramePayload_Method_ConnectionSecureOk>([](auto& a) { a.SetChallenge("r"); }),
                  10, 21, Wire().LongStr("r")},
        WriteCase{"Close", Make<TkezAMQPFramePayload_Method_ConnectionClose>([](auto& a) {
                      a.SetReplyCode(404);
                      a.SetReplyText("gone");
                      a.SetFailClassId(amqpClassBasic);
                      a.SetFailMethodId(amqpBasicPublish);
                  }),
                  10, 50, Wire().Short(404).ShortStr("gone").Short(60).Short(40)},
        WriteCase{"CloseWithoutFailingMethod",
                  Make<TkezAMQPFramePayload_Method_ConnectionClose>([](auto& a) { a.SetReplyCode(200); }), 10,
                  50, Wire().Short(200).ShortStr("").Short(0).Short(0)},
        WriteCase{"CloseOk", Make<TkezAMQPFramePayload_Method_ConnectionCloseOk>(), 10, 51, Wire()},
        WriteCase{"ChannelOpen", Make<TkezAMQPFramePayload_Method_ChannelOpen>(), 20, 10, Wire{0}},
        WriteCase{"ChannelFlow",
                  Make<TkezAMQPFramePayload_Method_ChannelFlow>([](auto& a) { a.SetActive(true); }), 20, 20,
                  Wire{1}},
        WriteCase{"ChannelFlowOk", Make<TkezAMQPFramePayload_Method_ChannelFlowOk>(), 20, 21, Wire{0}},
        WriteCase{"ChannelClose", Make<TkezAMQPFramePayload_Method_ChannelClose>([](auto& a) {
                      a.SetReplyCode(406);
                      a.SetFailClassId(amqpClassQueue);
                      a.SetFailMethodId(amqpQueueUnBind);
                  }),
                  20, 40, Wire().Short(406).ShortStr("").Short(50).Short(50)},
        WriteCase{"ChannelCloseOk", Make<TkezAMQPFramePayload_Method_ChannelCloseOk>(), 20, 41, Wire()}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    ExchangeAndQueue, SentMethods,
    testing::Values(
        WriteCase{"ExchangeDeclareAllFlags", Make<TkezAMQPFramePayload_Method_ExchangeDeclare>([](auto& a) {
                      a.SetExchange("x");
                      a.SetExchangeType("topic");
                      a.SetPassive(true);
                      a.SetDurable(true);
                      a.SetAutoDelete(true);
                      a.SetInternal(true);
                      a.SetNoWait(true);
                  }),
                  40, 10, Wire().Short(0).ShortStr("x").ShortStr("topic").Octet(31).Raw(EmptyTable)},
        WriteCase{"ExchangeDeclareArguments", Make<TkezAMQPFramePayload_Method_ExchangeDeclare>([](auto& a) {
                      a.SetExchange("x");
                      a.SetExchangeType("direct");
                      a.SetAutoDelete(true);
                      a.SetArguments("{\"alternate-exchange\":\"ae\"}");
                  }),
                  40, 10,
                  Wire().Short(0).ShortStr("x").ShortStr("direct").Octet(4).Table(
                      Wire().ShortStr("alternate-exchange").Octet('S').LongStr("ae"))},
        WriteCase{"ExchangeDelete", Make<TkezAMQPFramePayload_Method_ExchangeDelete>([](auto& a) {
                      a.SetExchange("x");
                      a.SetIfUnused(true);
                  }),
                  40, 20, Wire().Short(0).ShortStr("x").Octet(1)},
        WriteCase{"QueueDeclare", Make<TkezAMQPFramePayload_Method_QueueDeclare>([](auto& a) {
                      a.SetQueue("q");
                      a.SetDurable(true);
                      a.SetAutoDelete(true);
                  }),
                  50, 10, Wire{0, 0, 1, 113, 10, 0, 0, 0, 0}},
        WriteCase{"QueueDeclareTtl", Make<TkezAMQPFramePayload_Method_QueueDeclare>([](auto& a) {
                      a.SetExclusive(true);
                      a.SetArguments("{\"x-message-ttl\": 60000}");
                  }),
                  50, 10,
                  Wire().Short(0).ShortStr("").Octet(4).Table(
                      Wire().ShortStr("x-message-ttl").Octet('I').Long(60000))},
        WriteCase{"QueueBind", Make<TkezAMQPFramePayload_Method_QueueBind>([](auto& a) {
                      a.SetQueue("q");
                      a.SetExchange("x");
                      a.SetRoutingKey("k");
                      a.SetNoWait(true);
                      a.SetArguments("{\"x-match\":\"any\"}");
                  }),
                  50, 20,
                  Wire().Short(0).ShortStr("q").ShortStr("x").ShortStr("k").Octet(1).Table(
                      Wire().ShortStr("x-match").Octet('S').LongStr("any"))},
        WriteCase{"QueueUnBindHasNoFlags", Make<TkezAMQPFramePayload_Method_QueueUnBind>([](auto& a) {
                      a.SetQueue("q");
                      a.SetExchange("x");
                      a.SetRoutingKey("k");
                  }),
                  50, 50, Wire().Short(0).ShortStr("q").ShortStr("x").ShortStr("k").Raw(EmptyTable)},
        WriteCase{"QueuePurge",
                  Make<TkezAMQPFramePayload_Method_QueuePurge>([](auto& a) { a.SetQueue("q"); }), 50, 30,
                  Wire().Short(0).ShortStr("q").Octet(0)},
        WriteCase{"QueueDeleteNoWait", Make<TkezAMQPFramePayload_Method_QueueDelete>([](auto& a) {
                      a.SetQueue("q");
                      a.SetNoWait(true);
                  }),
                  50, 40, Wire().Short(0).ShortStr("q").Octet(4)},
        WriteCase{"QueueDeleteIfUnusedIfEmpty", Make<TkezAMQPFramePayload_Method_QueueDelete>([](auto& a) {
                      a.SetIfUnused(true);
                      a.SetIfEmpty(true);
                  }),
                  50, 40, Wire().Short(0).ShortStr("").Octet(3)}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    BasicAndTx, SentMethods,
    testing::Values(
        WriteCase{"QoS", Make<TkezAMQPFramePayload_Method_BasicQoS>([](auto& a) { a.SetPrefetchCount(10); }),
                  60, 10, Wire{0, 0, 0, 0, 0, 10, 0}},
        WriteCase{"QoSGlobal", Make<TkezAMQPFramePayload_Method_BasicQoS>([](auto& a) {
                      a.SetPrefetchSize(0x01020304);
                      a.SetGlobal(true);
                  }),
                  60, 10, Wire{1, 2, 3, 4, 0, 0, 1}},
        WriteCase{"Consume", Make<TkezAMQPFramePayload_Method_BasicConsume>([](auto& a) {
                      a.SetQueue("q");
                      a.SetConsumerTag("c");
                      a.SetNoAck(true);
                      a.SetNoWait(true);
                  }),
                  60, 20, Wire().Short(0).ShortStr("q").ShortStr("c").Octet(10).Raw(EmptyTable)},
        WriteCase{"ConsumeNoLocalExclusive", Make<TkezAMQPFramePayload_Method_BasicConsume>([](auto& a) {
                      a.SetNoLocal(true);
                      a.SetExclusive(true);
                  }),
                  60, 20, Wire().Short(0).ShortStr("").ShortStr("").Octet(5).Raw(EmptyTable)},
        WriteCase{"Cancel", Make<TkezAMQPFramePayload_Method_BasicCancel>([](auto& a) {
                      a.SetConsumerTag("c");
                      a.SetNoWait(true);
                  }),
                  60, 30, Wire().ShortStr("c").Octet(1)},
        WriteCase{"PublishImmediate", Make<TkezAMQPFramePayload_Method_BasicPublish>([](auto& a) {
                      a.SetExchange("x");
                      a.SetRoutingKey("k");
                      a.SetImmediate(true);
                  }),
                  60, 40, Wire().Short(0).ShortStr("x").ShortStr("k").Octet(2)},
        WriteCase{"PublishMandatory",
                  Make<TkezAMQPFramePayload_Method_BasicPublish>([](auto& a) { a.SetMandatory(true); }), 60,
                  40, Wire().Short(0).ShortStr("").ShortStr("").Octet(1)},
        WriteCase{"Get", Make<TkezAMQPFramePayload_Method_BasicGet>([](auto& a) {
                      a.SetQueue("q");
                      a.SetNoAck(true);
                  }),
                  60, 70, Wire().Short(0).ShortStr("q").Octet(1)},
        WriteCase{"Ack", Make<TkezAMQPFramePayload_Method_BasicAck>([](auto& a) { a.SetDeliveryTag(1); }), 60,
                  80, Wire{0, 0, 0, 0, 0, 0, 0, 1, 0}},
        WriteCase{"AckMultipleBigTag", Make<TkezAMQPFramePayload_Method_BasicAck>([](auto& a) {
                      a.SetDeliveryTag(1ULL << 33);
                      a.SetMultiple(true);
                  }),
                  60, 80, Wire{0, 0, 0, 2, 0, 0, 0, 0, 1}},
        WriteCase{"Reject", Make<TkezAMQPFramePayload_Method_BasicReject>([](auto& a) {
                      a.SetDeliveryTag(0xFFFFFFFFFFFFFFFFULL);
                      a.SetRequeue(true);
                  }),
                  60, 90, Wire{255, 255, 255, 255, 255, 255, 255, 255, 1}},
        WriteCase{"RecoverAsync",
                  Make<TkezAMQPFramePayload_Method_BasicRecoverAsync>([](auto& a) { a.SetRequeue(true); }),
                  60, 100, Wire{1}},
        WriteCase{"Recover", Make<TkezAMQPFramePayload_Method_BasicRecover>(), 60, 110, Wire{0}},
        WriteCase{"TxSelect", Make<TkezAMQPFramePayload_Method_TxSelect>(), 90, 10, Wire()},
        WriteCase{"TxCommit", Make<TkezAMQPFramePayload_Method_TxCommit>(), 90, 20, Wire()},
        WriteCase{"TxRollback", Make<TkezAMQPFramePayload_Method_TxRollback>(), 90, 30, Wire()}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.Name); });

// --- Connection.StartOk: client properties and the SASL response ---

Wire StartOkArguments(const Wire& aMechanismAndResponse) {
    TkezAMQPFramePayload_Method_ConnectionStartOk defaults;
    TBytes table;
    WriteFieldTable(defaults.ClientProperties(), table);
    return Wire().Raw(table).Raw(aMechanismAndResponse).ShortStr("en_US");
}

TEST(StartOk, ClientPropertiesDefaults) {
    TkezAMQPFramePayload_Method_ConnectionStartOk startOk;
    const TkezStringList& properties = startOk.ClientProperties();
    ASSERT_EQ(properties.Count(), 5);
    EXPECT_EQ(properties[0], "product=Lumbrix");
    EXPECT_EQ(properties[1], "version=2023.5.0");
    EXPECT_EQ(properties.Names(2), "platform");
    EXPECT_FALSE(properties.ValueFromIndex(2).empty());
    EXPECT_EQ(properties.Names(3), "copyright");
    EXPECT_NE(properties.ValueFromIndex(3).find("Lumbrix"), std::string_view::npos);
    EXPECT_EQ(properties[4], "information=Built with Lumbrix 2023.5.0.");
}

TEST(StartOk, ResponseFollowsTheMechanism) {
    struct Case {
        const char* Mechanism;
        const char* User;
        Wire Expected;
    } cases[] = {
        {"PLAIN", "u", Wire().ShortStr("PLAIN").Long(4).Octets({0, 'u', 0, 'p'})},
        {"AMQPLAIN", "u",
         Wire()
             .ShortStr("AMQPLAIN")
             .Table(Wire()
                        .ShortStr("LOGIN")
                        .Octet('S')
                        .LongStr("u")
                        .ShortStr("PASSWORD")
                        .Octet('S')
                        .LongStr("p"))},
        {"AMQPLAIN", "",
         Wire()
             .ShortStr("AMQPLAIN")
             .Table(
                 Wire().ShortStr("LOGIN").Octet('S').Long(0).ShortStr("PASSWORD").Octet('S').LongStr("p"))},
        {"", "u", Wire().ShortStr("").Long(0)},
        {"EXTERNAL", "u", Wire().ShortStr("EXTERNAL").Long(0)},
    };
    for (const Case& c : cases) {
        TkezAMQPFramePayload_Method_ConnectionStartOk startOk;
        startOk.SetMechanism(c.Mechanism);
        startOk.SetUser(c.User);
        startOk.SetPassword("p");
        EXPECT_EQ(startOk.Write(), StartOkArguments(c.Expected).Bytes()) << c.Mechanism;
    }
}

TEST(StartOk, NonAsciiCredentialsAreSentAsUtf8) {
    TkezAMQPFramePayload_Method_ConnectionStartOk startOk;
    startOk.SetMechanism("PLAIN");
    startOk.SetUser("j\xC3\xBCrgen");
    startOk.SetPassword("\xE2\x82\xAC");
    EXPECT_EQ(startOk.Write(), StartOkArguments(Wire().ShortStr("PLAIN").LongStr(
                                                    std::string("\0j\xC3\xBCrgen\0\xE2\x82\xAC", 12)))
                                   .Bytes());
}

// --- received methods: the layouts each one reads ---

template <typename T>
T* ReadArguments(TkezAMQPFrame& aFrame, uint16_t aClass, uint16_t aMethod, const Wire& aArguments) {
    const Wire bytes = Wire::Frame(1, 1, Wire::Method(aClass, aMethod, aArguments));
    EXPECT_EQ(aFrame.Read(bytes.Bytes(), 0), static_cast<int32_t>(bytes.Size()));
    aFrame.DoReadPayload();
    return aFrame.Payload_Method().PayloadAs<T>();
}

TEST(ReceivedMethods, ConnectionStartReadsPropertiesMechanismsAndLocales) {
    const Wire start = Wire{0, 9}
                           .Table(Wire()
                                      .ShortStr("product")
                                      .Octet('S')
                                      .LongStr("RabbitMQ")
                                      .ShortStr("capabilities")
                                      .Octet('F')
                                      .Table(Wire().ShortStr("publisher_confirms").Octet('t').Octet(1)))
                           .LongStr("PLAIN AMQPLAIN")
                           .LongStr("en_US");
    TkezAMQPFrame frame;
    auto* args = ReadArguments<TkezAMQPFramePayload_Method_ConnectionStart>(frame, 10, 10, start);
    ASSERT_NE(args, nullptr);
    EXPECT_EQ(args->VersionMajor(), 0);
    EXPECT_EQ(args->VersionMinor(), 9);
    EXPECT_EQ(args->Mechanisms(), "PLAIN AMQPLAIN");
    EXPECT_EQ(args->Locales(), "en_US");
    ASSERT_EQ(args->ServerProperties().Count(), 2);
    EXPECT_EQ(args->ServerProperties().Values("product"), "RabbitMQ");
    EXPECT_EQ(args->ServerProperties().Values("capabilities"), "{\"publisher_confirms\": true}");

    // Reading again replaces the lines rather than adding to them.
    const Wire second =
        Wire{0, 9}.Table(Wire().ShortStr("only").Octet('S').LongStr("1")).LongStr("").LongStr("");
    args->Read(Wire::Method(10, 10, second).Bytes());
    ASSERT_EQ(args->ServerProperties().Count(), 1);
    EXPECT_EQ(args->ServerProperties()[0], "only=1");
}

TEST(ReceivedMethods, ConnectionCloseReadsAndWritesBackTheSameOctets) {
    const Wire arguments = Wire().Short(404).ShortStr("NOT_FOUND - no queue 'q'").Short(60).Short(40);
    TkezAMQPFrame frame;
    auto* close = ReadArguments<TkezAMQPFramePayload_Method_ConnectionClose>(frame, 10, 50, arguments);
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->ReplyCode(), 404);
    EXPECT_EQ(close->FailClassId(), amqpClassBasic);
    EXPECT_EQ(close->FailMethodId(), amqpBasicPublish);
    EXPECT_EQ(close->Write(), arguments.Bytes());
}

TEST(ReceivedMethods, EveryReceivedLayout) {
    TkezAMQPFrame f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12;

    auto* secure =
        ReadArguments<TkezAMQPFramePayload_Method_ConnectionSecure>(f1, 10, 20, Wire().LongStr("ch"));
    ASSERT_NE(secure, nullptr);
    EXPECT_EQ(secure->Challenge(), "ch");

    auto* openOk =
        ReadArguments<TkezAMQPFramePayload_Method_ConnectionOpenOk>(f2, 10, 41, Wire().ShortStr(""));
    ASSERT_NE(openOk, nullptr);

    // The broker sends a long string here; its first length octet reads as an empty short string.
    auto* channelOpenOk =
        ReadArguments<TkezAMQPFramePayload_Method_ChannelOpenOk>(f3, 20, 11, Wire().Long(0));
    ASSERT_NE(channelOpenOk, nullptr);
    EXPECT_EQ(channelOpenOk->Reserved1(), "");

    auto* flow = ReadArguments<TkezAMQPFramePayload_Method_ChannelFlow>(f4, 20, 20, Wire{2});
    ASSERT_NE(flow, nullptr);
    EXPECT_FALSE(flow->Active());

    auto* declareOk = ReadArguments<TkezAMQPFramePayload_Method_QueueDeclareOk>(
        f5, 50, 11, Wire().ShortStr("amq.gen-1").Long(7).Long(2));
    ASSERT_NE(declareOk, nullptr);
    EXPECT_EQ(declareOk->Queue(), "amq.gen-1");
    EXPECT_EQ(declareOk->MessageCount(), 7);
    EXPECT_EQ(declareOk->ConsumerCount(), 2);

    auto* purgeOk = ReadArguments<TkezAMQPFramePayload_Method_QueuePurgeOk>(f6, 50, 31, Wire().Long(12));
    ASSERT_NE(purgeOk, nullptr);
    EXPECT_EQ(purgeOk->MessageCount(), 12);

    auto* deleteOk = ReadArguments<TkezAMQPFramePayload_Method_QueueDeleteOk>(f7, 50, 41, Wire().Long(3));
    ASSERT_NE(deleteOk, nullptr);
    EXPECT_EQ(deleteOk->MessageCount(), 3);

    auto* consumeOk =
        ReadArguments<TkezAMQPFramePayload_Method_BasicConsumeOk>(f8, 60, 21, Wire().ShortStr("amq.ctag-x"));
    ASSERT_NE(consumeOk, nullptr);
    EXPECT_EQ(consumeOk->ConsumerTag(), "amq.ctag-x");

    auto* ret = ReadArguments<TkezAMQPFramePayload_Method_BasicReturn>(
        f9, 60, 50, Wire().Short(312).ShortStr("NO_ROUTE").ShortStr("x").ShortStr("k"));
    ASSERT_NE(ret, nullptr);
    EXPECT_EQ(ret->ReplyCode(), 312);
    EXPECT_EQ(ret->ReplyText(), "NO_ROUTE");
    EXPECT_EQ(ret->Exchange(), "x");
    EXPECT_EQ(ret->RoutingKey(), "k");

    auto* deliver = ReadArguments<TkezAMQPFramePayload_Method_BasicDeliver>(
        f10, 60, 60, Wire().ShortStr("c").LongLong((1ULL << 32) + 5).Octet(1).ShortStr("x").ShortStr("k"));
    ASSERT_NE(deliver, nullptr);
    EXPECT_EQ(deliver->ConsumerTag(), "c");
    EXPECT_EQ(deliver->DeliveryTag(), (1ULL << 32) + 5);
    EXPECT_TRUE(deliver->Redelivered());
    EXPECT_EQ(deliver->Exchange(), "x");
    EXPECT_EQ(deliver->RoutingKey(), "k");

    auto* getOk = ReadArguments<TkezAMQPFramePayload_Method_BasicGetOk>(
        f11, 60, 71, Wire().LongLong(9).Octet(0).ShortStr("").ShortStr("q").Long(4));
    ASSERT_NE(getOk, nullptr);
    EXPECT_EQ(getOk->DeliveryTag(), 9u);
    EXPECT_FALSE(getOk->Redelivered());
    EXPECT_EQ(getOk->RoutingKey(), "q");
    EXPECT_EQ(getOk->MessageCount(), 4);

    // Ids and an empty short string: five octets, nothing read beyond them.
    auto* getEmpty = ReadArguments<TkezAMQPFramePayload_Method_BasicGetEmpty>(f12, 60, 72, Wire{0});
    ASSERT_NE(getEmpty, nullptr);
    EXPECT_EQ(getEmpty->Reserved1(), 0);
}

TEST(ReceivedMethods, ArgumentlessRepliesGetTheirClass) {
    const std::pair<TkezAMQPMethod, uint16_t> replies[] = {
        {amqpConnCloseOk, 10},   {amqpChannFlowOk, 20},    {amqpChannCloseOk, 20},  {amqpExchDeclareOk, 40},
        {amqpExchDeleteOk, 40},  {amqpQueueBindOk, 50},    {amqpQueueUnBindOk, 50}, {amqpBasicQosOk, 60},
        {amqpBasicCancelOk, 60}, {amqpBasicRecoverOk, 60}, {amqpTxSelectOk, 90},    {amqpTxCommitOk, 90},
        {amqpTxRollbackOk, 90}};
    for (auto [method, classId] : replies) {
        Wire arguments;
        if (method == amqpChannFlowOk) arguments.Octet(1);
        if (method == amqpBasicCancelOk) arguments.ShortStr("c");
        TkezAMQPFrame frame;
        const Wire bytes = Wire::Frame(1, 1, Wire::Method(classId, GetAMQPMethodId(method), arguments));
        frame.Read(bytes.Bytes(), 0);
        frame.DoReadPayload();
        ASSERT_NE(frame.Payload_Method().Payload(), nullptr) << int(method);
        EXPECT_EQ(frame.Payload_Method().MethodId(), method);
        EXPECT_EQ(frame.Payload_Method().Payload()->MethodId(), method);
    }
}

} // namespace
