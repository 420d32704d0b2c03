// The window against the live broker, driven through its controls as a person would.
#include "WindowFixture.h"

#include <QDir>

#include <atomic>
#include <thread>

using namespace kez;
using namespace kez::test;

namespace {

TEST_F(WindowTest, StartConnectsAndStopDisconnects) {
    ASSERT_TRUE(Start()) << testing::PrintToString(LogLines());
    EXPECT_FALSE(Window->pnlClientOptions->isEnabled());
    Click(Window->btnStop);
    // The socket's close code and one blank.
    EXPECT_TRUE(WaitLine("#AMQP_disconnected: 0 ")) << testing::PrintToString(LogLines());
    EXPECT_TRUE(Window->pnlClientOptions->isEnabled());
    EXPECT_FALSE(Window->WSClient->Active());
}

TEST_F(WindowTest, StartWithNothingListeningLogsTheExceptionAndKeepsThePanel) {
    Type(Window->txtDefaultPort, "26689");
    Click(Window->btnStart);
    // The message's second line ("Connection refused.") stands on a line of its own in the log.
    EXPECT_TRUE(WaitLine("#exception:Socket Error # 111")) << testing::PrintToString(LogLines());
    EXPECT_TRUE(Window->pnlClientOptions->isEnabled());
    EXPECT_FALSE(Window->WSClient->Active());
}

// A box the command cannot use shows the error display and sends nothing.
struct TRefusedBox {
    const char* Name;
    QLineEdit* TfrmClientPROTOCOL::*Box;
    const char* Text;
    QPushButton* TfrmClientPROTOCOL::*Button;
    const char* Message;
};
void PrintTo(const TRefusedBox& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class WindowRefusesBox : public WindowTest, public testing::WithParamInterface<TRefusedBox> {};

TEST_P(WindowRefusesBox, ShowsTheErrorAndSendsNothing) {
    const TRefusedBox& c = GetParam();
    const bool needsConnection = c.Button != &TfrmClientPROTOCOL::btnStart;
    if (needsConnection) {
        ASSERT_TRUE(Start());
        Click(Window->btnChannelOpen);
        ASSERT_TRUE(WaitLine("#AMQP_channel_open: MyChannel"));
    }
    const size_t before = LogCount();
    Type((*Window).*c.Box, c.Text);
    EXPECT_EQ(ModalBoxText([&] { Click((*Window).*c.Button); }), c.Message);
    if (needsConnection) {
        // A round trip on the channel: a reply to anything sent before would have come first.
        Click(Window->btnSelectTransaction);
        ASSERT_TRUE(WaitLine("#AMQP_transaction_ok: [MyChannel] select"));
        for (const std::string& line : LogLines()) {
            EXPECT_THAT(line, testing::Not(testing::StartsWith("#AMQP_basic_qos")));
            EXPECT_THAT(line, testing::Not(testing::StartsWith("#AMQP_channel_Close")));
        }
    } else {
        EXPECT_FALSE(Window->WSClient->Active());
        EXPECT_TRUE(Window->pnlClientOptions->isEnabled());
        EXPECT_EQ(LogCount(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    , WindowRefusesBox,
    testing::Values(TRefusedBox{"PortNotANumber", &TfrmClientPROTOCOL::txtDefaultPort, "56x72",
                                &TfrmClientPROTOCOL::btnStart, "'56x72' is not a valid integer value"},
                    TRefusedBox{"PortOutOfRange", &TfrmClientPROTOCOL::txtDefaultPort, "70000",
                                &TfrmClientPROTOCOL::btnStart,
                                "'70000' is not a valid port: it must lie between 1 and 65535"},
                    TRefusedBox{"PrefetchCountOutOfRange", &TfrmClientPROTOCOL::txtQoSPrefetchCount, "70000",
                                &TfrmClientPROTOCOL::btnSetQoS,
                                "'70000' is not a valid prefetch count: it must lie between 0 and 65535"},
                    TRefusedBox{"PrefetchSizeNegative", &TfrmClientPROTOCOL::txtQoSPrefetchSize, "-1",
                                &TfrmClientPROTOCOL::btnSetQoS,
                                "'-1' is not a valid prefetch size: it must lie between 0 and 4294967295"},
                    TRefusedBox{
                        "DeliveryTagNegative", &TfrmClientPROTOCOL::txtDeliveryTag, "-1",
                        &TfrmClientPROTOCOL::btnAckMessage,
                        "'-1' is not a valid delivery tag: it must lie between 0 and 9223372036854775807"}),
    [](const auto& aInfo) { return std::string(aInfo.param.Name); });

TEST_F(WindowTest, WorksABrokerByHand) {
    ASSERT_TRUE(Start());
    const std::string channel = UniqueName("ch");
    const std::string exchange = UniqueName("ex");
    const std::string queue = UniqueName("q");
    Type(Window->txtChannelName, channel);
    Type(Window->txtExchangeName, exchange);
    Type(Window->txtQueueName, queue);
    Window->chkQueueAutoDelete->setChecked(true);

    Click(Window->btnChannelOpen);
    ASSERT_TRUE(WaitLine("#AMQP_channel_open: " + channel));
    EXPECT_TRUE(
        PumpUntil([&] { return Captions(Window->listChannels) == std::vector<std::string>{channel}; }));
    Click(Window->btnExchangeDeclare);
    EXPECT_TRUE(WaitLine("#AMQP_exchange_declare: [" + channel + "] " + exchange));
    Click(Window->btnQueueDeclare);
    EXPECT_TRUE(WaitLine("#AMQP_queue_declare: [" + channel + "] " + queue));
    EXPECT_TRUE(PumpUntil([&] { return Captions(Window->listQueues) == std::vector<std::string>{queue}; }));
    Click(Window->btnQueueBind); // blocks until the broker confirms
    EXPECT_TRUE(HasLine("#AMQP_queue_bind: [" + channel + "] " + queue + " --><-- " + exchange) ||
                WaitLine("#AMQP_queue_bind: [" + channel + "] " + queue + " --><-- " + exchange));

    // Publish, get: the delivery tag box is filled; ack it.
    Type(Window->txtRoutingKey, "direct");
    Type(Window->txtPublishMessage, "hello window");
    Click(Window->btnPublishMessage);
    EXPECT_TRUE(PumpUntil([&] {
        Click(Window->btnGetMessage);
        return PumpUntil([&] { return CountPrefix("#AMQP_basic_GetOk: ") > 0; }, 500);
    }));
    EXPECT_TRUE(HasLine("#AMQP_basic_GetOk: " + channel + " 0 hello window"))
        << testing::PrintToString(LogLines());
    EXPECT_TRUE(PumpUntil([&] { return Window->txtDeliveryTag->text() == "1"; }));
    Click(Window->btnAckMessage);
    Click(Window->btnGetMessage);
    EXPECT_TRUE(WaitLine("#AMQP_basic_GetEmpty: " + channel));

    // QoS with Global.
    Type(Window->txtQoSPrefetchCount, "10");
    Window->chkQoSGlobal->setChecked(true);
    Click(Window->btnSetQoS);
    EXPECT_TRUE(WaitLine("#AMQP_basic_qos: " + channel + " 0 10 -1"));

    // Consume: the deliver line has two blanks before the body.
    Type(Window->txtConsumeConsumerTag, "window-consumer");
    Window->chkConsumeNoAck->setChecked(true);
    Click(Window->btnConsume);
    EXPECT_TRUE(WaitLine("#AMQP_basic_consume: " + channel + " window-consumer"));
    Type(Window->txtPublishMessage, "to the consumer");
    Click(Window->btnPublishMessage);
    EXPECT_TRUE(WaitLine("#AMQP_basic_deliver: " + channel + " window-consumer  to the consumer"));
    Click(Window->btnCancelConsume);
    EXPECT_TRUE(WaitLine("#AMQP_basic_cancel_consume: " + channel + " window-consumer"));

    // Transactions.
    Click(Window->btnSelectTransaction); // blocks until Select-Ok
    Click(Window->btnCommitTransaction);
    Click(Window->btnRollbackTransaction);
    EXPECT_TRUE(WaitLine("#AMQP_transaction_ok: [" + channel + "] rollback"));
    EXPECT_TRUE(HasLine("#AMQP_transaction_ok: [" + channel + "] select"));
    EXPECT_TRUE(HasLine("#AMQP_transaction_ok: [" + channel + "] commit"));

    // Recover shows "ok" (RabbitMQ recovers only with requeue).
    Window->chkRecoverRequeue->setChecked(true);
    EXPECT_EQ(ModalBoxText([&] { Click(Window->btnRecoverMessage); }), "ok")
        << testing::PrintToString(LogLines());

    // Deleting empties the lists; closing the channel removes it.
    Window->DeleteExchange1->trigger();
    EXPECT_TRUE(WaitLine("#AMQP_exchange_delete: [" + channel + "] " + exchange));
    EXPECT_TRUE(PumpUntil([&] { return Window->listExchanges->count() == 0; }));
    Window->DeleteQueue1->trigger();
    EXPECT_TRUE(WaitLine("#AMQP_queue_delete: [" + channel + "] " + queue));
    EXPECT_TRUE(PumpUntil([&] { return Window->listQueues->count() == 0; }));
    Window->ChannelClose1->trigger();
    EXPECT_TRUE(WaitLine("#AMQP_channel_Close: " + channel + " "));
    EXPECT_TRUE(PumpUntil([&] { return Window->listChannels->count() == 0; }));
}

TEST_F(WindowTest, ListsFollowTheBookkeeping) {
    ASSERT_TRUE(Start());
    const std::string channel = UniqueName("ch");
    const std::string exchange = UniqueName("ex");
    Type(Window->txtChannelName, channel);
    Type(Window->txtExchangeName, exchange);
    Window->chkExchangeAutoDelete->setChecked(true);
    Click(Window->btnChannelOpen);
    ASSERT_TRUE(WaitLine("#AMQP_channel_open: " + channel));
    Click(Window->btnQueueDeclare); // MyQueue, on this channel
    ASSERT_TRUE(WaitLine("#AMQP_queue_declare: [" + channel + "] MyQueue"));
    // Two confirmed declarations: the name twice.
    Click(Window->btnExchangeDeclare);
    Click(Window->btnExchangeDeclare);
    EXPECT_TRUE(PumpUntil([&] {
        return Captions(Window->listExchanges) == std::vector<std::string>{exchange, exchange};
    }));
    // Clicking empty space in the channel list empties the exchange list only.
    Window->listChannels->setCurrentRow(0);
    QTest::mouseClick(Window->listChannels->viewport(), Qt::LeftButton, {}, QPoint(60, 170));
    EXPECT_EQ(Window->listExchanges->count(), 0);
    EXPECT_EQ(Captions(Window->listQueues), std::vector<std::string>{"MyQueue"});
    // Clicking the channel shows its exchanges again.
    const QRect item = Window->listChannels->visualItemRect(Window->listChannels->item(0));
    QTest::mouseClick(Window->listChannels->viewport(), Qt::LeftButton, {}, item.center());
    EXPECT_EQ(Window->txtChannelName->text().toStdString(), channel);
    EXPECT_EQ(Captions(Window->listExchanges), (std::vector<std::string>{exchange, exchange}));
    // One confirmed deletion removes one line.
    Window->DeleteExchange1->trigger();
    EXPECT_TRUE(
        PumpUntil([&] { return Captions(Window->listExchanges) == std::vector<std::string>{exchange}; }));
    Window->DeleteQueue1->trigger();
    EXPECT_TRUE(WaitLine("#AMQP_queue_delete: [" + channel + "] MyQueue"));
    // The connection's end empties the channel and exchange lists.
    Click(Window->btnStop);
    EXPECT_TRUE(
        PumpUntil([&] { return Window->listChannels->count() == 0 && Window->listExchanges->count() == 0; }));
}

} // namespace

namespace {

// The window as a person sees it after a short session, as a picture in the temporary folder (not a check: a
// way to look). KEZ_WINDOW_PICTURE names another file.
TEST_F(WindowTest, RendersTheWindowAfterAShortSession) {
    ASSERT_TRUE(Start());
    Click(Window->btnChannelOpen);
    ASSERT_TRUE(WaitLine("#AMQP_channel_open: MyChannel"));
    Window->chkExchangeAutoDelete->setChecked(true);
    Click(Window->btnExchangeDeclare);
    Window->chkQueueAutoDelete->setChecked(true);
    Click(Window->btnQueueDeclare);
    ASSERT_TRUE(WaitLine("#AMQP_queue_declare: [MyChannel] MyQueue"));
    ASSERT_TRUE(
        PumpUntil([&] { return Window->listExchanges->count() == 1 && Window->listQueues->count() == 1; }));
    Click(Window->btnQueueBind);
    ASSERT_TRUE(WaitLine("#AMQP_queue_bind: [MyChannel] MyQueue --><-- MyExchange"));
    const QByteArray chosen = qgetenv("KEZ_WINDOW_PICTURE");
    const QString file = chosen.isEmpty() ? QDir::temp().filePath("kez-amqp-window.png") : QString(chosen);
    ASSERT_TRUE(Window->grab().save(file));
    std::printf("window picture: %s\n", file.toStdString().c_str());
    Window->DeleteExchange1->trigger();
    Window->DeleteQueue1->trigger();
    EXPECT_TRUE(WaitLine("#AMQP_queue_delete: [MyChannel] MyQueue"));
}

} // namespace

namespace {

// A publisher of the test's own, beside the window: 10,000 messages a second to a queue for aSeconds.
class TPacedPublisher {
public:
    TPacedPublisher() {
        FClient.SetNotifyEvents(neNoSync);
        FClient.Specifications().SetRFC6455(false);
        FClient.SetHost("127.0.0.1");
        FClient.SetPort(KEZ_TEST_AMQP_PORT);
        FAMQP.OnAMQPAuthentication = [](TObject*, TkezAMQPAuthentications, TkezAMQPAuthentication&,
                                        std::string& User, std::string& Password) {
            User = "kez";
            Password = "juq";
        };
        FAMQP.OnAMQPConnect = [this](TObject*) { FConnected = true; };
        FAMQP.SetClient(&FClient);
    }
    ~TPacedPublisher() {
        if (FThread.joinable()) FThread.join();
        FClient.SetActive(false);
    }
    bool Connect() {
        FClient.SetActive(true);
        return PumpUntil([&] { return FConnected.load(); }) && FAMQP.OpenChannelEx("pub", 5000);
    }
    void Start(const std::string& aQueue, int aPerSecond, int aSeconds) {
        FThread = std::thread([this, aQueue, aPerSecond, aSeconds] {
            const auto start = std::chrono::steady_clock::now();
            const int total = aPerSecond * aSeconds;
            for (int i = 0; i < total; ++i) {
                // Paced in steps of a millisecond's worth.
                if (i % (aPerSecond / 1000) == 0)
                    std::this_thread::sleep_until(
                        start + std::chrono::microseconds(int64_t{i} * 1000000 / aPerSecond));
                FAMQP.PublishMessage("pub", "", aQueue, "m" + std::to_string(i), false, false);
            }
            FDone = true;
        });
    }
    bool Done() const { return FDone.load(); }

private:
    TkezWebSocketClient FClient;
    TkezWSPClient_AMQP FAMQP;
    std::atomic<bool> FConnected{false};
    std::atomic<bool> FDone{false};
    std::thread FThread;
};

TEST_F(WindowTest, StaysResponsiveWhileAConsumerReceivesTenThousandMessagesASecond) {
    ASSERT_TRUE(Start());
    const std::string queue = UniqueName("flood");
    Type(Window->txtQueueName, queue);
    Window->chkQueueAutoDelete->setChecked(true);
    Click(Window->btnChannelOpen);
    Click(Window->btnQueueDeclare);
    ASSERT_TRUE(WaitLine("#AMQP_queue_declare: [MyChannel] " + queue));
    Type(Window->txtConsumeConsumerTag, "flood");
    Window->chkConsumeNoAck->setChecked(true);
    Click(Window->btnConsume);
    ASSERT_TRUE(WaitLine("#AMQP_basic_consume: MyChannel flood"));

    TPacedPublisher publisher;
    ASSERT_TRUE(publisher.Connect());
    constexpr int PerSecond = 10000, Seconds = 3;
    // A timer of the GUI thread ticks through the flood; each tick notes how many lines the log shows.
    std::vector<std::pair<std::chrono::steady_clock::time_point, int>> ticks;
    QTimer ticker;
    ticker.setInterval(50);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ticks.emplace_back(std::chrono::steady_clock::now(), Window->memoLog->blockCount());
    });
    ticker.start();
    publisher.Start(queue, PerSecond, Seconds);
    PumpUntil([&] { return publisher.Done(); }, 60000);
    EXPECT_TRUE(PumpUntil(
        [&] { return CountPrefix("#AMQP_basic_deliver: MyChannel flood  m") >= PerSecond * Seconds; },
        60000));
    ticker.stop();

    ASSERT_GE(ticks.size(), 2u);
    std::chrono::steady_clock::duration longestGap{};
    int stalls = 0;
    for (size_t i = 1; i < ticks.size(); ++i) {
        longestGap = std::max(longestGap, ticks[i].first - ticks[i - 1].first);
        // A second of ticks without a new line while messages still come would be a log that stopped.
        if (i >= 20 && ticks[i].second == ticks[i - 20].second && ticks[i].second < PerSecond * Seconds)
            ++stalls;
    }
    EXPECT_LT(longestGap, std::chrono::seconds(1));
    EXPECT_EQ(stalls, 0);
    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(CountPrefix("#AMQP_basic_deliver: MyChannel flood  m"),
              static_cast<size_t>(PerSecond * Seconds));
    // In order, none lost.
    int expected = 0;
    for (const std::string& line : lines)
        if (line.rfind("#AMQP_basic_deliver: MyChannel flood  m", 0) == 0) {
            EXPECT_EQ(line, "#AMQP_basic_deliver: MyChannel flood  m" + std::to_string(expected++));
        }
}

} // namespace
