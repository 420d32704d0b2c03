#include "LiveBroker.h"

using namespace kez;
using namespace kez::test;

namespace {

TEST(Live, ConnectsOpensAChannelPublishesAndGets) {
    TLiveBroker broker;
    ASSERT_TRUE(broker.Connect()) << testing::PrintToString(broker.Log.Events());
    TkezWSPClient_AMQP& amqp = *broker.AMQP;
    std::string received;
    amqp.OnAMQPBasicGetOk = [&](TObject*, const std::string&, const TkezAMQPFramePayload_Method_BasicGetOk&,
                                TkezAMQPMessageContent& aContent) {
        received = aContent.Body().AsString();
        broker.Log.Add("getok");
    };
    ASSERT_TRUE(amqp.OpenChannelEx("ch", 5000));
    const std::string queue = UniqueName("smoke");
    ASSERT_TRUE(amqp.DeclareQueueEx("ch", queue, false, false, false, true, false, 5000));
    amqp.PublishMessage("ch", "", queue, "hello", false, false);
    ASSERT_TRUE(WaitUntil([&] { return amqp.GetMessageEx("ch", queue, 2000); }, 10000));
    EXPECT_TRUE(broker.Log.WaitFor("getok"));
    EXPECT_EQ(received, "hello");
    EXPECT_TRUE(amqp.DeleteQueueEx("ch", queue, false, false, false, 5000));
    broker.Client->SetActive(false);
    // The socket's close code (0 in raw TCP mode) and an empty text.
    EXPECT_TRUE(broker.Log.WaitFor("disconnect:0::broker"));
    EXPECT_EQ(broker.Log.CountPrefix("disconnect"), 1u);
}

} // namespace
