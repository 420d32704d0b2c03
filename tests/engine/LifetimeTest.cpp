#include "EngineTestBase.h"

using namespace kez;
using namespace kez::test;

namespace {

class Lifetime : public EngineTest {};

bool WaitExpired(const std::weak_ptr<TkezAMQP_Client>& aEngine) {
    const auto deadline = TkezClock::now() + std::chrono::seconds(10);
    while (!aEngine.expired() && TkezClock::now() < deadline)
        std::this_thread::yield();
    return aEngine.expired();
}

TEST_P(Lifetime, EngineReleasedFromItsOwnHandlerGoesAfterTheHandler) {
    Broker.Handshake();
    Broker.OpenChannel("a");
    Broker.OpenChannel("b");
    std::weak_ptr<TkezAMQP_Client> observer = Broker.EnginePtr();
    std::shared_ptr<TkezAMQP_Client> last = Broker.EnginePtr();
    Broker.ReleaseEngine();
    last->OnAMQPBasicRecoverOk = [&last, this](TObject*, const std::string&) {
        last.reset(); // the worker still holds the engine while this frame is handled
        Broker.Log.Add("released");
    };
    Broker.SendMethod(1, 60, 111);
    EXPECT_TRUE(Broker.Log.WaitFor("released"));
    EXPECT_TRUE(WaitExpired(observer));
}

TEST_P(Lifetime, EngineReleasedWhileChannelsAreBusyStopsTheirWorkers) {
    Broker.Handshake();
    for (const char* name : {"a", "b", "c"})
        Broker.OpenChannel(name);
    std::atomic<int> delivered{0};
    Broker.Engine().OnAMQPBasicDeliver = [&](TObject*, const std::string&,
                                             const TkezAMQPFramePayload_Method_BasicDeliver&,
                                             TkezAMQPMessageContent&) { ++delivered; };
    TBytes all;
    for (uint64_t tag = 1; tag <= 300; ++tag) {
        const uint16_t channel = static_cast<uint16_t>(1 + tag % 3);
        const TBytes message =
            Join({MethodFrame(channel, 60, 60,
                              Wire().ShortStr("c").LongLong(tag).Octet(0).ShortStr("").ShortStr("q")),
                  ContentHeaderFrame(channel, 1), BodyFrame(channel, "x")});
        all.insert(all.end(), message.begin(), message.end());
    }
    Broker.Send(all);
    std::weak_ptr<TkezAMQP_Client> observer = Broker.EnginePtr();
    Broker.ReleaseEngine();
    EXPECT_TRUE(WaitExpired(observer));
    EXPECT_LE(delivered.load(), 300);
}

TEST_P(Lifetime, ClosedChannelsLeaveTheTable) {
    Broker.Handshake();
    Broker.Respond(20, 10,
                   [](const TWrittenFrame& f) { return MethodFrame(f.Channel, 20, 11, Wire().Long(0)); });
    Broker.Respond(20, 40, [](const TWrittenFrame& f) { return MethodFrame(f.Channel, 20, 41); });
    for (int i = 0; i < 50; ++i) {
        const std::string name = "c" + std::to_string(i);
        ASSERT_TRUE(Engine().OpenChannelEx(name, 5000));
        ASSERT_TRUE(Engine().CloseChannelEx(name, 200, "", amqpClassNone, amqpMethodNone, 5000));
    }
    // Only channel 0 remains once the last closed entry has left (right after its waiter was released).
    EXPECT_TRUE(WaitUntil([&] { return Engine().Channels().Count() == 1; }));
}

KEZ_FOR_EVERY_SPLIT(Lifetime);

} // namespace
