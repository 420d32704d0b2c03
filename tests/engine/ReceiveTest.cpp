#include "EngineTestBase.h"

#include <latch>

using namespace kez;
using namespace kez::test;

namespace {

class Receive : public EngineTest {
protected:
    void SetUp() override {
        Engine().OnAMQPException = [this](TObject*, const std::exception& E) {
            const auto* amqp = dynamic_cast<const TkezAMQPException*>(&E);
            Broker.Log.Add("exception:" + std::to_string(amqp ? amqp->Code() : 0) + ":" + E.what());
        };
    }
};

TEST_P(Receive, FrameErrorWhileConnectedIsReportedThenAnsweredWithClose501) {
    Engine().OnAMQPBasicRecoverOk = [this](TObject*, const std::string& c) {
        Broker.Log.Add("recover-ok:" + c);
    };
    Broker.Handshake();
    Broker.OpenChannel("ch");
    TBytes bad = MethodFrame(1, 60, 111);
    bad.back() = 0;
    Broker.Send(Join({bad, MethodFrame(1, 60, 111)}));
    EXPECT_TRUE(Broker.Log.WaitFor("exception:501:Frame Error"));
    const TWrittenFrame close = Broker.NextFrame();
    ASSERT_TRUE(close.Is(10, 50));
    EXPECT_EQ(close.Arguments(), Wire().Short(501).ShortStr("Frame Error").Short(0).Short(0).Bytes());
    if (GetParam() == splitWhole) {
        // The valid frame that followed in the same block went with it. (The stream is out of step after a
        // frame error, which is why the connection is closed.)
        EXPECT_TRUE(Broker.NoFrameWithin(20));
        EXPECT_EQ(Broker.Log.Count("recover-ok:ch"), 0u);
    }
}

TEST_P(Receive, FrameErrorsOfEveryCheck) {
    const std::pair<TBytes, const char*> cases[] = {
        {TBytes{4, 0, 1, 0, 0, 0, 0, 206}, "exception:-1:"},
        {Frame(2, 0, Wire().Short(60).Short(0).LongLong(0).Short(0)), "exception:504:Channel Error"},
        {TBytes{8, 0, 1, 0, 0, 0, 0, 206}, "exception:501:Frame Error"},
        // Larger than the negotiated 131072: refused from its header alone.
        {TBytes{3, 0, 1, 0, 2, 0, 1, 0}, "exception:501:Frame Error"},
    };
    for (const auto& [octets, event] : cases) {
        TScriptedBroker broker(GetParam());
        broker.Handshake();
        broker.Engine().OnAMQPException = [&](TObject*, const std::exception& E) {
            const auto* amqp = dynamic_cast<const TkezAMQPException*>(&E);
            broker.Log.Add("exception:" + std::to_string(amqp ? amqp->Code() : 0) + ":" + E.what());
        };
        broker.Send(octets);
        EXPECT_TRUE(broker.Log.WaitFor(event)) << event;
        const TWrittenFrame close = broker.NextFrame();
        EXPECT_TRUE(close.Is(10, 50)) << event;
    }
}

TEST_P(Receive, FrameErrorBeforeConnectSendsNoClose) {
    Broker.Send(TBytes{8, 0, 1, 0, 0, 0, 0, 206});
    EXPECT_TRUE(Broker.Log.WaitFor("exception:501:Frame Error"));
    EXPECT_TRUE(Broker.NoFrameWithin(50));
}

TEST_P(Receive, HeartBeats) {
    Engine().OnAMQPHeartBeat = [this](TObject*) { Broker.Log.Add("heartbeat"); };
    Broker.Handshake();
    const TBytes heartBeat{8, 0, 0, 0, 0, 0, 0, 206};
    // Heartbeats disabled: ignored. The SecureOk that answers the next frame on channel 0 shows it was
    // handled.
    Broker.Send(Join({heartBeat, MethodFrame(0, 10, 20, Wire().LongStr(""))}));
    EXPECT_TRUE(Broker.NextFrame().Is(10, 21));
    EXPECT_EQ(Broker.Log.Count("heartbeat"), 0u);

    Engine().HeartBeat().SetEnabled(true);
    Broker.Send(heartBeat);
    EXPECT_TRUE(Broker.Log.WaitFor("heartbeat"));
    // A heartbeat with a payload fails on the worker: reported, no Close.
    Broker.Send(TBytes{8, 0, 0, 0, 0, 0, 1, 0, 206});
    EXPECT_TRUE(Broker.Log.WaitFor("exception:501:Frame Error"));
    EXPECT_TRUE(Broker.NoFrameWithin(50));
    EXPECT_EQ(Broker.Log.Count("heartbeat"), 1u);

    Engine().Ping();
    EXPECT_EQ(Broker.Blocks().back(), heartBeat);
}

TEST_P(Receive, HandledFramesSkipDispatchButStillCompleteWaits) {
    Broker.Handshake();
    Engine().OnAMQPChannelOpen = [this](TObject*, const std::string& c) { Broker.Log.Add("open:" + c); };
    Engine().OnAMQPBeforeReadFrame = [this](TObject*, const TkezAMQPFrame& aFrame, bool& Handled) {
        const TkezAMQPFramePayload_Method* method =
            aFrame.Header().Type() == amqpFrameMethod
                ? const_cast<TkezAMQPFrame&>(aFrame).Payload_Method().Payload()
                : nullptr;
        if (method && method->MethodId() == amqpChannOpenOk) {
            Handled = true;
            Broker.Log.Add("handled");
        }
    };
    Broker.Respond(20, 10,
                   [](const TWrittenFrame& f) { return MethodFrame(f.Channel, 20, 11, Wire().Long(0)); });
    EXPECT_TRUE(Engine().OpenChannelEx("a", 5000));
    EXPECT_TRUE(Broker.Log.WaitFor("handled"));
    EXPECT_EQ(Broker.Log.Count("open:a"), 0u);
}

TEST_P(Receive, MethodsWithoutArgumentClassPassTheHookAndAreDropped) {
    Engine().OnAMQPBeforeReadFrame = [this](TObject*, const TkezAMQPFrame& aFrame, bool&) {
        auto& method = const_cast<TkezAMQPFrame&>(aFrame).Payload_Method();
        if (aFrame.Header().Type() == amqpFrameMethod && !method.Payload())
            Broker.Log.Add("unparsed:" + std::to_string(aFrame.Header().Channel()));
    };
    Broker.Handshake();
    Broker.OpenChannel("ch");
    Broker.Send(Join({MethodFrame(1, 60, 80, Wire().LongLong(1).Octet(0)),         // Basic.Ack
                      MethodFrame(1, 60, 120, Wire().LongLong(1).Octet(0)),        // Basic.Nack
                      MethodFrame(1, 60, 30, Wire().ShortStr("tag").Octet(0)),     // Basic.Cancel
                      MethodFrame(0, 10, 60, Wire().ShortStr("low on memory"))})); // Connection.Blocked
    EXPECT_TRUE(WaitUntil([&] { return Broker.Log.Events("unparsed").size() == 4; }));
    EXPECT_EQ(Broker.Log.Count("unparsed:1"), 3u);
    EXPECT_TRUE(Broker.NoFrameWithin(20));
    EXPECT_TRUE(Broker.Log.Events("exception").empty());
}

TEST_P(Receive, HandlerExceptionsAreReportedAndTheWorkerGoesOn) {
    Broker.Handshake();
    Broker.OpenChannel("ch");
    int calls = 0;
    Engine().OnAMQPBasicRecoverOk = [&](TObject*, const std::string&) {
        if (++calls == 1) throw std::runtime_error("handler failed");
        Broker.Log.Add("second");
    };
    Broker.Send(Join({MethodFrame(1, 60, 111), MethodFrame(1, 60, 111)}));
    EXPECT_TRUE(Broker.Log.WaitFor("exception:0:handler failed"));
    EXPECT_TRUE(Broker.Log.WaitFor("second"));
    EXPECT_TRUE(Broker.NoFrameWithin(20)); // nothing is sent for it
}

TEST_P(Receive, AFullChannelQueueThrottlesTheReceiverAndKeepsOrder) {
    Broker.Handshake();
    constexpr size_t Limit = 256;
    Engine().Channels().SetQueueLimit(Limit);
    const uint16_t channel = Broker.OpenChannel("slow");
    std::latch release(1);
    std::vector<uint64_t> tags;
    Engine().OnAMQPBasicDeliver = [&](TObject*, const std::string&,
                                      const TkezAMQPFramePayload_Method_BasicDeliver& d,
                                      TkezAMQPMessageContent&) {
        if (tags.empty()) release.wait();
        tags.push_back(d.DeliveryTag());
        if (tags.size() == 100) Broker.Log.Add("all");
    };
    TBytes all;
    for (uint64_t tag = 1; tag <= 100; ++tag) {
        const TBytes message =
            Join({MethodFrame(channel, 60, 60,
                              Wire().ShortStr("c").LongLong(tag).Octet(0).ShortStr("").ShortStr("q")),
                  ContentHeaderFrame(channel, 8), BodyFrame(channel, "12345678")});
        all.insert(all.end(), message.begin(), message.end());
    }
    Broker.SendAsync(all); // about 5 KB of payload for a queue of 256 octets
    const auto entry = Engine().Channels().GetChannel(channel);
    ASSERT_NE(entry, nullptr);
    // While the handler is held, the queue fills to its limit and no further: the receiver waits.
    const auto deadline = TkezClock::now() + std::chrono::seconds(10);
    while (entry->QueuedBytes() + 64 < Limit && TkezClock::now() < deadline)
        std::this_thread::yield();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_LE(entry->QueuedBytes(), Limit);
        std::this_thread::yield();
    }
    release.count_down();
    EXPECT_TRUE(Broker.Log.WaitFor("all", 10000));
    ASSERT_EQ(tags.size(), 100u);
    for (uint64_t tag = 1; tag <= 100; ++tag)
        EXPECT_EQ(tags[tag - 1], tag);
}

TEST_P(Receive, ClearDerivesTheNegotiatedValuesFromTheOptionsAgain) {
    Broker.Handshake();
    EXPECT_EQ(Engine().AMQPNegotiatedValues().MaxFrameSize(), 131072u);
    Engine().Clear();
    EXPECT_EQ(Engine().AMQPNegotiatedValues().MaxFrameSize(), Engine().AMQPOptions().MaxFrameSize());
}

KEZ_FOR_EVERY_SPLIT(Receive);

} // namespace
