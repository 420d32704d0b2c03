#include "EngineTestBase.h"

using namespace kez;
using namespace kez::test;

namespace {

class Channels : public EngineTest {
protected:
    void SetUp() override {
        Broker.Handshake();
        Engine().OnAMQPChannelOpen = [this](TObject*, const std::string& aChannel) {
            Broker.Log.Add("open:" + aChannel);
        };
        Engine().OnAMQPChannelClose = [this](TObject*, const std::string& aChannel,
                                             const TkezAMQPFramePayload_Method_ChannelClose& aClose,
                                             bool aAck) {
            Broker.Log.Add("close:" + aChannel + ":" + std::to_string(aClose.ReplyCode()) + ":" +
                           aClose.ReplyText() + ":" + (aAck ? "ack" : "broker"));
        };
        Engine().OnAMQPChannelFlow = [this](TObject*, const std::string& aChannel, bool aFlow, bool aAck) {
            Broker.Log.Add("flow:" + aChannel + ":" + (aFlow ? "on" : "off") + ":" +
                           (aAck ? "ack" : "broker"));
        };
    }

    void ExpectRuntimeError(const std::function<void()>& aAction, const std::string& aMessage) {
        try {
            aAction();
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), aMessage);
        }
    }
};

TEST_P(Channels, NumbersAreGivenOnceAndNamesAreExact) {
    EXPECT_EQ(Broker.OpenChannel("a"), 1);
    EXPECT_TRUE(Broker.Log.WaitFor("open:a"));
    EXPECT_EQ(Broker.OpenChannel("b"), 2);
    EXPECT_EQ(Broker.OpenChannel("A"), 3); // names compare case-sensitively
    ExpectRuntimeError([&] { Engine().OpenChannel("a"); }, "Channel: a already exists.");
    EXPECT_TRUE(Broker.NoFrameWithin(50));

    Engine().CloseChannel("a", 200, "done", amqpClassNone, amqpMethodNone);
    const TWrittenFrame close = Broker.NextFrame();
    ASSERT_TRUE(close.Is(20, 40));
    EXPECT_EQ(close.Channel, 1);
    EXPECT_EQ(close.Arguments(), Wire().Short(200).ShortStr("done").Short(0).Short(0).Bytes());
    Broker.SendMethod(1, 20, 41);
    EXPECT_TRUE(Broker.Log.WaitFor("close:a:0::ack"));
    // The entry leaves the table right after the event.
    EXPECT_TRUE(WaitUntil([&] { return Engine().Channels().GetChannel(std::string("a")) == nullptr; }));
    EXPECT_EQ(Broker.OpenChannel("a"), 4);
}

TEST_P(Channels, OperationsOnUnknownNamesWriteNothing) {
    ExpectRuntimeError([&] { Engine().EnableChannel("nope"); }, "Channel: nope not exists.");
    ExpectRuntimeError([&] { Engine().DeclareQueue("nope", "q", false, false, false, false, false); },
                       "Channel: nope not exists.");
    ExpectRuntimeError([&] { Engine().PublishMessage("nope", "", "q", "x", false, false); },
                       "Channel: nope not exists.");
    EXPECT_TRUE(Broker.NoFrameWithin(50));
}

TEST_P(Channels, ExOperationsCompleteOnTheirReplies) {
    Broker.Respond(20, 10,
                   [](const TWrittenFrame& f) { return MethodFrame(f.Channel, 20, 11, Wire().Long(0)); });
    Broker.Respond(20, 20, [](const TWrittenFrame& f) {
        return MethodFrame(f.Channel, 20, 21, Wire{f.Arguments()[0]});
    });
    Broker.Respond(20, 40, [](const TWrittenFrame& f) { return MethodFrame(f.Channel, 20, 41); });
    EXPECT_TRUE(Engine().OpenChannelEx("a", 5000));
    EXPECT_TRUE(Broker.Log.WaitFor("open:a")); // raised before the wait returned
    EXPECT_EQ(Engine().Channels().GetChannel(std::string("a"))->MethodId(), amqpChannOpenOk);
    EXPECT_TRUE(Engine().DisableChannelEx("a", 5000));
    EXPECT_FALSE(Engine().Channels().GetChannel(std::string("a"))->Flow());
    EXPECT_TRUE(Broker.Log.WaitFor("flow:a:off:ack"));
    EXPECT_TRUE(Engine().EnableChannelEx("a", 5000));
    EXPECT_TRUE(Engine().Channels().GetChannel(std::string("a"))->Flow());
    EXPECT_TRUE(Engine().CloseChannelEx("a", 200, "", amqpClassNone, amqpMethodNone, 5000));
    EXPECT_TRUE(Broker.Log.WaitFor("close:a:0::ack"));
    // The name may be opened again at once, although the old entry leaves the table only after the wait.
    EXPECT_TRUE(Engine().OpenChannelEx("a", 5000));
    EXPECT_EQ(Engine().Channels().GetChannel(std::string("a"))->Number(), 2);
}

TEST_P(Channels, ExOperationsReturnFalseWithoutAReply) {
    Broker.OpenChannel("a");
    EXPECT_FALSE(Engine().EnableChannelEx("a", 0));   // written, not waited for
    EXPECT_FALSE(Engine().DisableChannelEx("a", 30)); // no reply comes
    EXPECT_TRUE(Broker.NextFrame().Is(20, 20));
    EXPECT_TRUE(Broker.NextFrame().Is(20, 20));
    EXPECT_FALSE(Engine().OpenChannelEx("b", 30));
    Engine().Disconnect();
    EXPECT_FALSE(Engine().EnableChannelEx("a", 60000)); // flagged down: returns at once after writing
    EXPECT_TRUE(Broker.NextFrame().Is(20, 10));
    EXPECT_TRUE(Broker.NextFrame().Is(20, 20));
}

TEST_P(Channels, BrokerFlowIsAnsweredAndFollowed) {
    Broker.OpenChannel("a");
    Broker.SendMethod(1, 20, 20, Wire{0});
    const TWrittenFrame flowOk = Broker.NextFrame();
    ASSERT_TRUE(flowOk.Is(20, 21));
    EXPECT_EQ(flowOk.Channel, 1);
    EXPECT_EQ(flowOk.Arguments(), TBytes{0});
    EXPECT_TRUE(Broker.Log.WaitFor("flow:a:off:broker"));
    EXPECT_FALSE(Engine().Channels().GetChannel(std::string("a"))->Flow());
    Broker.SendMethod(1, 20, 20, Wire{1});
    EXPECT_EQ(Broker.NextFrame().Arguments(), TBytes{1});
    EXPECT_TRUE(Broker.Log.WaitFor("flow:a:on:broker"));
    EXPECT_TRUE(Engine().Channels().GetChannel(std::string("a"))->Flow());
    // A flow on a number nobody opened is still answered.
    Broker.SendMethod(9, 20, 20, Wire{1});
    EXPECT_EQ(Broker.NextFrame().Channel, 9);
}

TEST_P(Channels, BrokerCloseKeepsTheEntryUntilTheNameIsOpenedAgain) {
    Broker.OpenChannel("a");
    Broker.SendMethod(1, 20, 40, Wire().Short(404).ShortStr("NOT_FOUND - no queue 'q'").Short(50).Short(10));
    const TWrittenFrame closeOk = Broker.NextFrame();
    ASSERT_TRUE(closeOk.Is(20, 41));
    EXPECT_EQ(closeOk.Channel, 1);
    EXPECT_TRUE(Broker.Log.WaitFor("close:a:404:NOT_FOUND - no queue 'q':broker"));
    const auto closed = Engine().Channels().GetChannel(std::string("a"));
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(closed->MethodId(), amqpChannClose);
    EXPECT_EQ(closed->ChannelClose().ReplyCode(), 404);
    EXPECT_EQ(closed->ChannelClose().FailMethodId(), amqpQueueDeclare);
    // Opening the name again gives a fresh channel under a new number; the old record stays with who holds
    // it.
    EXPECT_EQ(Broker.OpenChannel("a"), 2);
    EXPECT_TRUE(Broker.Log.WaitFor("open:a"));
    EXPECT_NE(Engine().Channels().GetChannel(std::string("a")), closed);
    EXPECT_EQ(closed->ChannelClose().ReplyCode(), 404);
}

TEST_P(Channels, ChannelNumbersRunOutWithAClearMessage) {
    Engine().Channels().Id().SetValue(65534);
    EXPECT_EQ(Broker.OpenChannel("last"), 65535);
    ExpectRuntimeError(
        [&] { Engine().OpenChannel("more"); },
        "Channel: more cannot be opened: all 65535 channel numbers of this connection have been used.");
    EXPECT_TRUE(Broker.NoFrameWithin(50));
}

TEST_P(Channels, RepliesOnUnknownNumbersGoToAnUnnamedEntry) {
    Broker.SendMethod(7, 20, 11, Wire().Long(0));
    EXPECT_TRUE(Broker.Log.WaitFor("open:"));
    const auto entry = Engine().Channels().GetChannel(uint16_t{7});
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Channel(), "");
    Broker.SendMethod(7, 20, 41);
    EXPECT_TRUE(Broker.Log.WaitFor("close::0::ack"));
    EXPECT_TRUE(WaitUntil([&] { return Engine().Channels().GetChannel(uint16_t{7}) == nullptr; }));
}

KEZ_FOR_EVERY_SPLIT(Channels);

} // namespace
