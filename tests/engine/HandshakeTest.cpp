#include "EngineTestBase.h"

using namespace kez;
using namespace kez::test;

namespace {

class Handshake : public EngineTest {
protected:
    void SetUp() override {
        Engine().OnAMQPException = [this](TObject*, const std::exception& E) {
            const auto* amqp = dynamic_cast<const TkezAMQPException*>(&E);
            Broker.Log.Add("exception:" + std::to_string(amqp ? amqp->Code() : 0) + ":" + E.what());
        };
        Engine().OnAMQPDisconnect =
            [this](TObject*, const TkezAMQPFramePayload_Method_ConnectionClose& aClose, bool aAck) {
                Broker.Log.Add("disconnect:" + std::to_string(aClose.ReplyCode()) + ":" + aClose.ReplyText() +
                               ":" + (aAck ? "ack" : "broker"));
            };
    }

    TStartOk StartWith(const std::string& aMechanisms, const std::string& aLocales = "en_US") {
        Broker.SendMethod(0, 10, 10, Wire{0, 9}.Table(Wire()).LongStr(aMechanisms).LongStr(aLocales));
        const TWrittenFrame frame = Broker.NextFrame();
        EXPECT_TRUE(frame.Is(10, 11));
        return ParseStartOk(frame);
    }
};

TEST_P(Handshake, ConnectWritesTheProtocolHeader) {
    Engine().Connect();
    EXPECT_TRUE(Engine().Connected());
    EXPECT_EQ(Broker.Blocks().at(0), (TBytes{'A', 'M', 'Q', 'P', 0, 0, 9, 1}));
}

TEST_P(Handshake, MechanismChoiceAndTheAuthenticationEvent) {
    struct Case {
        const char* Offered;
        const char* Chosen;
        bool Asked;
    } cases[] = {{"PLAIN AMQPLAIN", "AMQPLAIN", true},
                 {"PLAIN", "PLAIN", true},
                 {"EXTERNAL", "ANONYMOUS", false},
                 {"", "ANONYMOUS", false}};
    for (const Case& c : cases) {
        TScriptedBroker broker(GetParam());
        bool asked = false;
        broker.Engine().OnAMQPAuthentication = [&](TObject*, TkezAMQPAuthentications aOffered,
                                                   TkezAMQPAuthentication& aMechanism, std::string& aUser,
                                                   std::string& aPassword) {
            asked = true;
            EXPECT_EQ(aOffered, GetAMQPAuthentications(c.Offered));
            EXPECT_EQ(GetAMQPAuthenticationName(aMechanism), c.Chosen);
            aUser = "kez";
            aPassword = "juq";
        };
        broker.Engine().Connect();
        broker.SendMethod(0, 10, 10, Wire{0, 9}.Table(Wire()).LongStr(c.Offered).LongStr("en_US"));
        const TStartOk startOk = ParseStartOk(broker.NextFrame());
        EXPECT_EQ(startOk.Mechanism, c.Chosen) << c.Offered;
        EXPECT_EQ(asked, c.Asked) << c.Offered;
        if (!c.Asked) {
            EXPECT_EQ(startOk.Response, "") << c.Offered;
        }
    }
}

TEST_P(Handshake, TheHandlerMayChangeTheMechanism) {
    Engine().OnAMQPAuthentication = [](TObject*, TkezAMQPAuthentications, TkezAMQPAuthentication& aMechanism,
                                       std::string& aUser, std::string& aPassword) {
        aMechanism = amqpAuthPlain;
        aUser = "u";
        aPassword = "p";
    };
    Engine().Connect();
    const TStartOk startOk = StartWith("PLAIN AMQPLAIN");
    EXPECT_EQ(startOk.Mechanism, "PLAIN");
    EXPECT_EQ(startOk.Response, std::string("\0u\0p", 4));
}

TEST_P(Handshake, LocaleIsOursWhenTheBrokerOffersItElseEnUs) {
    const std::tuple<const char*, const char*, const char*> cases[] = {{"en_US", "en_US", "en_US"},
                                                                       {"de_DE", "en_US", "en_US"},
                                                                       {"EN_us", "en_US", "EN_us"},
                                                                       {"de_DE", "en_US de_DE", "de_DE"}};
    for (auto [ours, offered, negotiated] : cases) {
        TScriptedBroker broker(GetParam());
        broker.Engine().AMQPOptions().SetLocale(ours);
        broker.Engine().Connect();
        broker.SendMethod(0, 10, 10, Wire{0, 9}.Table(Wire()).LongStr("PLAIN").LongStr(offered));
        EXPECT_EQ(ParseStartOk(broker.NextFrame()).Locale, negotiated) << ours << " / " << offered;
        EXPECT_EQ(broker.Engine().AMQPNegotiatedValues().Locale(), negotiated);
    }
}

TEST_P(Handshake, UnsupportedVersionIsRefusedWithoutAnswer) {
    for (auto [major, minor] : {std::pair{0, 10}, std::pair{1, 0}}) {
        TScriptedBroker broker(GetParam());
        broker.Engine().OnAMQPException = [&](TObject*, const std::exception& E) {
            broker.Log.Add("exception:" + std::to_string(dynamic_cast<const TkezAMQPException&>(E).Code()) +
                           ":" + E.what());
        };
        broker.Engine().Connect();
        broker.SendMethod(0, 10, 10, Wire{major, minor}.Table(Wire()).LongStr("PLAIN").LongStr("en_US"));
        EXPECT_TRUE(broker.Log.WaitFor("exception:-1:"));
        EXPECT_TRUE(broker.NoFrameWithin(100));
    }
}

TEST_P(Handshake, SecureIsAnsweredWithTheChallengeHandlersResponse) {
    Engine().OnAMQPChallenge = [](TObject*, const std::string& aChallenge, std::string& aResponse) {
        aResponse = "re:" + aChallenge;
    };
    Engine().Connect();
    StartWith("PLAIN");
    Broker.SendMethod(0, 10, 20, Wire().LongStr("nonce"));
    const TWrittenFrame secureOk = Broker.NextFrame();
    ASSERT_TRUE(secureOk.Is(10, 21));
    EXPECT_EQ(secureOk.Arguments(), Wire().LongStr("re:nonce").Bytes());
}

struct TuneCase {
    const char* Name;
    bool HeartBeatEnabled;
    int32_t Interval;
    uint16_t MaxChannels;
    uint16_t BrokerChannels;
    uint32_t BrokerFrameMax;
    uint16_t BrokerHeartBeat;
    uint16_t Channels;
    uint32_t FrameMax;
    uint16_t HeartBeat;
};
void PrintTo(const TuneCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class Tune : public testing::TestWithParam<std::tuple<TuneCase, TSplit>> {};

TEST_P(Tune, NegotiatesTheSmallerValues) {
    const auto& [c, split] = GetParam();
    TScriptedBroker broker(split);
    broker.Engine().HeartBeat().SetEnabled(c.HeartBeatEnabled);
    broker.Engine().HeartBeat().SetInterval(c.Interval);
    broker.Engine().AMQPOptions().SetMaxChannels(c.MaxChannels);
    broker.Engine().Connect();
    broker.SendMethod(0, 10, 30,
                      Wire().Short(c.BrokerChannels).Long(c.BrokerFrameMax).Short(c.BrokerHeartBeat));
    // TuneOk and Open come as two blocks, TuneOk first.
    const TWrittenFrame tuneOk = broker.NextFrame();
    ASSERT_TRUE(tuneOk.Is(10, 31));
    EXPECT_EQ(tuneOk.Arguments(), Wire().Short(c.Channels).Long(c.FrameMax).Short(c.HeartBeat).Bytes());
    const TWrittenFrame open = broker.NextFrame();
    ASSERT_TRUE(open.Is(10, 40));
    EXPECT_EQ(open.Arguments(), (TBytes{1, '/', 0, 0}));
    EXPECT_EQ(broker.Blocks().size(), 3u);
    const TkezAMQPNegotiatedValues& values = broker.Engine().AMQPNegotiatedValues();
    EXPECT_EQ(values.MaxChannels(), c.Channels);
    EXPECT_EQ(values.MaxFrameSize(), c.FrameMax);
    EXPECT_EQ(values.HeartBeat(), c.HeartBeat);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Tune,
    testing::Combine(
        testing::Values(TuneCase{"Interval30", true, 30, 65535, 2047, 131072, 60, 2047, 131072, 30},
                        TuneCase{"HeartBeatOff", false, 30, 65535, 2047, 131072, 60, 2047, 131072, 0},
                        TuneCase{"Interval120", true, 120, 65535, 2047, 131072, 60, 2047, 131072, 60},
                        TuneCase{"BrokerHeartBeat0", true, 30, 65535, 2047, 131072, 0, 2047, 131072, 0},
                        TuneCase{"OurChannels100", false, 0, 100, 2047, 131072, 60, 100, 131072, 0},
                        // A broker's 0 means no limit: our own limits apply.
                        TuneCase{"BrokerUnlimited", false, 0, 100, 0, 0, 0, 100, 2147483647, 0}),
        testing::Values(splitWhole, splitOneByte, splitRandom)),
    [](const auto& aInfo) {
        return std::string(std::get<0>(aInfo.param).Name) + SplitName(std::get<1>(aInfo.param));
    });

TEST_P(Handshake, OpenOkRaisesConnectAndCarriesTheVirtualHost) {
    Engine().AMQPOptions().SetVirtualHost("vh");
    Engine().OnAMQPConnect = [this](TObject*) { Broker.Log.Add("connect"); };
    Engine().Connect();
    Broker.SendMethod(0, 10, 30, Wire().Short(0).Long(0).Short(0));
    Broker.NextFrame();
    EXPECT_EQ(Broker.NextFrame().Arguments(), (TBytes{2, 'v', 'h', 0, 0}));
    Broker.SendMethod(0, 10, 41, Wire().ShortStr(""));
    EXPECT_TRUE(Broker.Log.WaitFor("connect"));
}

TEST_P(Handshake, BrokerCloseIsAnsweredBeforeTheEvent) {
    Broker.Handshake();
    Engine().OnAMQPDisconnect = [this](TObject*, const TkezAMQPFramePayload_Method_ConnectionClose& aClose,
                                       bool aAck) {
        // The CloseOk is written before the event is raised.
        const TBytes written = Broker.Written();
        const bool answered =
            written.size() >= 12 && TBytes(written.end() - 12, written.end()) == MethodFrame(0, 10, 51);
        Broker.Log.Add(std::string("closeok-before:") + (answered ? "yes" : "no"));
        Broker.Log.Add("disconnect:" + std::to_string(aClose.ReplyCode()) + ":" + aClose.ReplyText() + ":" +
                       (aAck ? "ack" : "broker"));
    };
    Broker.SendMethod(0, 10, 50,
                      Wire().Short(320).ShortStr("CONNECTION_FORCED - shutdown").Short(0).Short(0));
    EXPECT_TRUE(Broker.NextFrame().Is(10, 51));
    EXPECT_TRUE(Broker.Log.WaitFor("disconnect:320:CONNECTION_FORCED - shutdown:broker"));
    EXPECT_TRUE(Broker.Log.WaitFor("closeok-before:yes"));
    EXPECT_EQ(Engine().ConnectionClose().ReplyCode(), 320);
}

TEST_P(Handshake, ClientCloseAndTheBrokersCloseOk) {
    Broker.Handshake();
    Engine().Close(200, "bye", amqpClassNone, amqpMethodNone);
    const TWrittenFrame close = Broker.NextFrame();
    ASSERT_TRUE(close.Is(10, 50));
    EXPECT_EQ(close.Arguments(), Wire().Short(200).ShortStr("bye").Short(0).Short(0).Bytes());
    Broker.SendMethod(0, 10, 51);
    EXPECT_TRUE(Broker.Log.WaitFor("disconnect:200:bye:ack"));
}

TEST_P(Handshake, CloseExWaitsForCloseOk) {
    Broker.Handshake();
    Broker.Respond(10, 50, [](const TWrittenFrame&) { return MethodFrame(0, 10, 51); });
    EXPECT_TRUE(Engine().CloseEx(200, "bye", amqpClassNone, amqpMethodNone, 5000));
    EXPECT_TRUE(Broker.Log.WaitFor("disconnect:200:bye:ack"));
}

TEST_P(Handshake, CloseExFalseCases) {
    // Before any frame there is no channel 0 to wait on.
    try {
        Engine().CloseEx(200, "", amqpClassNone, amqpMethodNone, 100);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Channel:  not exists.");
    }
    EXPECT_TRUE(Broker.Blocks().empty());

    Broker.Handshake();
    EXPECT_FALSE(Engine().CloseEx(200, "", amqpClassNone, amqpMethodNone, 0)); // written, not waited for
    EXPECT_TRUE(Broker.NextFrame().Is(10, 50));
    EXPECT_FALSE(Engine().CloseEx(200, "", amqpClassNone, amqpMethodNone, 50)); // no CloseOk comes
    EXPECT_TRUE(Broker.NextFrame().Is(10, 50));

    // Disconnect wakes the waiter, which then returns false.
    std::thread disconnect([&] {
        Broker.NextFrame();
        Engine().Disconnect();
    });
    EXPECT_FALSE(Engine().CloseEx(200, "", amqpClassNone, amqpMethodNone, 60000));
    disconnect.join();
}

KEZ_FOR_EVERY_SPLIT(Handshake);

} // namespace
