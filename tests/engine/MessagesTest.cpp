#include "EngineTestBase.h"

using namespace kez;
using namespace kez::test;

namespace {

class Messages : public EngineTest {
protected:
    void SetUp() override {
        Broker.Handshake();
        Channel = Broker.OpenChannel("ch");
        Engine().OnAMQPException = [this](TObject*, const std::exception& E) {
            const auto* amqp = dynamic_cast<const TkezAMQPException*>(&E);
            Broker.Log.Add("exception:" + std::to_string(amqp ? amqp->Code() : 0));
        };
        Engine().OnAMQPBasicDeliver = [this](TObject*, const std::string& c,
                                             const TkezAMQPFramePayload_Method_BasicDeliver& d,
                                             TkezAMQPMessageContent& m) {
            Broker.Log.Add("deliver:" + c + ":" + std::to_string(d.DeliveryTag()) + ":" + Describe(m));
        };
        Engine().OnAMQPBasicGetOk = [this](TObject*, const std::string& c,
                                           const TkezAMQPFramePayload_Method_BasicGetOk& g,
                                           TkezAMQPMessageContent& m) {
            Broker.Log.Add("getok:" + c + ":" + std::to_string(g.MessageCount()) + ":" + Describe(m));
        };
        Engine().OnAMQPBasicReturn = [this](TObject*, const std::string& c,
                                            const TkezAMQPFramePayload_Method_BasicReturn& r,
                                            TkezAMQPMessageContent& m) {
            Broker.Log.Add("return:" + c + ":" + std::to_string(r.ReplyCode()) + ":" + Describe(m));
        };
    }

    // The body as text, its size, and that the stream was handed over at its start.
    static std::string Describe(TkezAMQPMessageContent& aMessage) {
        const bool atStart = aMessage.Body().Data().Position() == 0;
        return std::to_string(aMessage.Body().DataSize()) + ":" + aMessage.Body().AsString() +
               (atStart ? "" : ":moved");
    }

    uint16_t Channel = 0;
};

TBytes DeliverFrame(uint16_t aChannel, uint64_t aTag) {
    return MethodFrame(aChannel, 60, 60,
                       Wire().ShortStr("ctag").LongLong(aTag).Octet(0).ShortStr("x").ShortStr("k"));
}

TEST_P(Messages, PublishedTextGoesOutAsOneBlockWithDefaultProperties) {
    const size_t before = Broker.Blocks().size();
    Engine().PublishMessage("ch", "x", "k", "hello", true, false);
    const std::vector<TBytes> blocks = Broker.Blocks();
    ASSERT_EQ(blocks.size(), before + 1);
    const TBytes expected =
        Join({MethodFrame(Channel, 60, 40, Wire().Short(0).ShortStr("x").ShortStr("k").Octet(1)),
              ContentHeaderFrame(Channel, 5,
                                 Wire{0xD8, 0}.ShortStr("text/plain").ShortStr("utf-8").Octets({2, 1})),
              BodyFrame(Channel, "hello")});
    EXPECT_EQ(blocks.back(), expected);
}

TEST_P(Messages, EmptyBodyHasNoBodyFrameAndPropertiesAreCopied) {
    TkezAMQPBasicProperties properties;
    properties.SetContentType("application/json");
    properties.SetHeaders(R"({"n":1})");
    properties.SetDeliveryMode(amqpMDMNonPersistent);
    properties.SetPriority(0);
    properties.SetContentEncoding("");
    Engine().PublishMessage("ch", "", "q", &properties, std::string(), false, false);
    const TBytes expected =
        Join({MethodFrame(Channel, 60, 40, Wire().Short(0).ShortStr("").ShortStr("q").Octet(0)),
              ContentHeaderFrame(Channel, 0,
                                 Wire{0xB0, 0}
                                     .ShortStr("application/json")
                                     .Table(Wire().ShortStr("n").Octet('I').Long(1))
                                     .Octet(1))});
    EXPECT_EQ(Broker.Blocks().back(), expected);
}

TEST_P(Messages, LargeStreamIsCutAtTheNegotiatedFrameSize) {
    TMemoryStream stream;
    TBytes body(300000);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<uint8_t>(i % 251);
    stream.WriteBuffer(body.data(),
                       static_cast<int64_t>(body.size())); // left at its end: publishing rewinds it
    Engine().PublishMessage("ch", "", "q", stream, false, false);
    const TBytes block = Broker.Blocks().back();
    std::vector<int32_t> sizes;
    TBytes reassembled;
    for (int32_t at = 0; at < static_cast<int32_t>(block.size());) {
        TkezAMQPFrame frame;
        const int32_t n = frame.Read(block, at);
        ASSERT_GT(n, 0);
        if (frame.Header().Type() == amqpFrameBody) {
            sizes.push_back(frame.Header().Size());
            reassembled.insert(reassembled.end(), frame.Payload().Payload().begin(),
                               frame.Payload().Payload().end());
        }
        at += n;
    }
    EXPECT_EQ(sizes, (std::vector<int32_t>{131072 - 8, 131072 - 8, 37872}));
    EXPECT_EQ(reassembled, body);
}

TEST_P(Messages, LargeBodyGoesOutAsPiecesThatJoinToTheSameBlockWithoutCopyingIt) {
    const size_t chunk = 131072 - 8;
    for (const size_t size : {size_t{65535}, size_t{65536}, chunk, chunk + 1, 2 * chunk, size_t{300000}}) {
        SCOPED_TRACE(size);
        std::string body(size, '\0');
        for (size_t i = 0; i < size; ++i)
            body[i] = static_cast<char>(i % 253);
        Engine().PublishMessage("ch", "", "q", body, false, false);
        const TBytes whole = Broker.Blocks().back();

        std::vector<TBytes> pieces;
        size_t fromBody = 0;
        Engine().OnAMQPWritePieces = [&](TObject*, TBytesPieces aPieces) {
            for (const TBytesView piece : aPieces) {
                pieces.emplace_back(piece.begin(), piece.end());
                const auto* start = reinterpret_cast<const uint8_t*>(body.data());
                if (piece.data() >= start && piece.data() + piece.size() <= start + size)
                    fromBody += piece.size();
            }
        };
        const size_t before = Broker.Blocks().size();
        Engine().PublishMessage("ch", "", "q", nullptr, body, false, false);
        Engine().OnAMQPWritePieces = nullptr;

        TBytes joined;
        for (const TBytes& piece : pieces)
            joined.insert(joined.end(), piece.begin(), piece.end());
        if (size < 65536) {
            // Small enough to copy: one block as before, no pieces.
            EXPECT_TRUE(pieces.empty());
            EXPECT_EQ(Broker.Blocks().size(), before + 1);
            EXPECT_EQ(Broker.Blocks().back(), whole);
        } else {
            EXPECT_EQ(Broker.Blocks().size(), before);
            EXPECT_EQ(joined, whole);
            EXPECT_EQ(fromBody, size);
        }
    }
}

TEST_P(Messages, DeliverGetOkAndReturnWithZeroOneAndManyBodyFrames) {
    struct Kind {
        TBytes Method;
        std::string Event;
    };
    const Kind kinds[] = {
        {DeliverFrame(Channel, (1ULL << 40) + 3), "deliver:ch:1099511627779"},
        {MethodFrame(Channel, 60, 71, Wire().LongLong(4).Octet(1).ShortStr("").ShortStr("q").Long(9)),
         "getok:ch:9"},
        {MethodFrame(Channel, 60, 50, Wire().Short(312).ShortStr("NO_ROUTE").ShortStr("x").ShortStr("k")),
         "return:ch:312"},
    };
    const std::vector<std::vector<std::string>> bodies = {{}, {"hello"}, {"hel", "lo wo", "rld"}};
    for (const Kind& kind : kinds)
        for (const auto& parts : bodies) {
            std::string text;
            TBytes message = Join({kind.Method});
            for (const std::string& part : parts)
                text += part;
            const TBytes header = ContentHeaderFrame(Channel, text.size());
            message.insert(message.end(), header.begin(), header.end());
            for (const std::string& part : parts) {
                const TBytes body = BodyFrame(Channel, part);
                message.insert(message.end(), body.begin(), body.end());
            }
            Broker.Send(message);
            const std::string expected = kind.Event + ":" + std::to_string(text.size()) + ":" + text;
            EXPECT_TRUE(Broker.Log.WaitFor(expected)) << expected;
        }
    EXPECT_TRUE(Broker.Log.Events("exception").empty());
}

TEST_P(Messages, ContentWithoutAMethodIsUnexpectedAndTheChannelGoesOn) {
    Broker.Send(ContentHeaderFrame(Channel, 1));
    EXPECT_TRUE(Broker.Log.WaitFor("exception:505"));
    Broker.Send(Join({DeliverFrame(Channel, 5), ContentHeaderFrame(Channel, 1), BodyFrame(Channel, "!")}));
    EXPECT_TRUE(Broker.Log.WaitFor("deliver:ch:5:1:!"));
    // Nothing was sent back to the broker for the error.
    EXPECT_TRUE(Broker.NoFrameWithin(20));
}

TEST_P(Messages, ANewDeliverDiscardsAnUnfinishedMessage) {
    Broker.Send(
        Join({DeliverFrame(Channel, 1), ContentHeaderFrame(Channel, 10), BodyFrame(Channel, "part")}));
    Broker.Send(Join({DeliverFrame(Channel, 2), ContentHeaderFrame(Channel, 4), BodyFrame(Channel, "next")}));
    EXPECT_TRUE(Broker.Log.WaitFor("deliver:ch:2:4:next"));
    EXPECT_EQ(Broker.Log.Events("deliver").size(), 1u);
}

TEST_P(Messages, ManyMessagesArriveInOrder) {
    TBytes all;
    for (uint64_t tag = 1; tag <= 200; ++tag) {
        const TBytes message =
            Join({DeliverFrame(Channel, tag), ContentHeaderFrame(Channel, 3), BodyFrame(Channel, "abc")});
        all.insert(all.end(), message.begin(), message.end());
    }
    Broker.Send(all);
    ASSERT_TRUE(Broker.Log.WaitFor("deliver:ch:200:3:abc"));
    const std::vector<std::string> events = Broker.Log.Events("deliver");
    ASSERT_EQ(events.size(), 200u);
    for (uint64_t tag = 1; tag <= 200; ++tag)
        EXPECT_EQ(events[tag - 1], "deliver:ch:" + std::to_string(tag) + ":3:abc");
}

TEST_P(Messages, FramesUsedAgainCarryNothingOverFromTheirLastMessage) {
    // Received frames are recycled once handled. Messages of changing shape, in rounds that each wait for the
    // last, show that a frame used again starts empty: no property, body octet or size of an earlier message
    // shows up in a later one. The sizes go across the largest payload a recycled frame keeps.
    Engine().OnAMQPBasicDeliver = [this](TObject*, const std::string&,
                                         const TkezAMQPFramePayload_Method_BasicDeliver& d,
                                         TkezAMQPMessageContent& m) {
        Broker.Log.Add("deliver:" + std::to_string(d.DeliveryTag()) + ":" +
                       m.Header().Header().ContentType() + ":" + Describe(m));
    };
    const size_t sizes[] = {0, 1, 4095, 4096, 4097, 10000};
    uint64_t tag = 0;
    for (int round = 0; round < 3; ++round) {
        TBytes all;
        std::string last;
        for (const size_t size : sizes)
            for (const bool typed : {true, false}) {
                ++tag;
                const std::string body(size, static_cast<char>('a' + tag % 26));
                const std::string type = typed ? "t" + std::to_string(tag) : "text/plain";
                const TBytes header = ContentHeaderFrame(
                    Channel, size, typed ? Wire().Short(0x8000).ShortStr(type) : Wire{0, 0});
                // The largest body comes in two frames.
                const size_t cut = size > 4097 ? size / 2 : size;
                TBytes message = Join({DeliverFrame(Channel, tag), header});
                for (const std::string& part : {body.substr(0, cut), body.substr(cut)})
                    if (!part.empty()) {
                        const TBytes frame = BodyFrame(Channel, part);
                        message.insert(message.end(), frame.begin(), frame.end());
                    }
                all.insert(all.end(), message.begin(), message.end());
                last =
                    "deliver:" + std::to_string(tag) + ":" + type + ":" + std::to_string(size) + ":" + body;
            }
        Broker.Send(all);
        ASSERT_TRUE(Broker.Log.WaitFor(last)) << "round " << round;
    }
    const std::vector<std::string> events = Broker.Log.Events("deliver");
    ASSERT_EQ(events.size(), tag);
    for (uint64_t i = 1; i <= tag; ++i) {
        const size_t size = sizes[(i - 1) / 2 % std::size(sizes)];
        const std::string type = i % 2 == 1 ? "t" + std::to_string(i) : "text/plain";
        EXPECT_EQ(events[i - 1], "deliver:" + std::to_string(i) + ":" + type + ":" + std::to_string(size) +
                                     ":" + std::string(size, static_cast<char>('a' + i % 26)));
    }
}

KEZ_FOR_EVERY_SPLIT(Messages);

} // namespace
