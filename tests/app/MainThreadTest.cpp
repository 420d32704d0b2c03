// The library's main-thread dispatch on Qt's event loop.
#include "WindowFixture.h"
#include "kezBase_MainThread.h"

#include <QThread>

#include <atomic>
#include <thread>

using namespace kez;
using namespace kez::test;

namespace {

TEST(QtMainThread, PostsInOrderSendsAndWaitsAndRunsAtOnceOnTheGuiThread) {
    QThread* gui = QThread::currentThread();
    // On the GUI thread both run at once.
    int direct = 0;
    MainThreadPost([&] { ++direct; });
    MainThreadSend([&] { ++direct; });
    EXPECT_EQ(direct, 2);

    std::vector<int> order;
    std::atomic<bool> sent{false};
    std::atomic<bool> elsewhere{false};
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            MainThreadPost([&order, i, gui] {
                EXPECT_EQ(QThread::currentThread(), gui);
                order.push_back(i);
            });
        MainThreadSend([&] { elsewhere = QThread::currentThread() == gui; });
        sent = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return sent.load(); }));
    worker.join();
    EXPECT_TRUE(elsewhere);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(QtMainThread, AGuiThreadThatWaitsForAWorkerRunsTheWorkersSentCalls) {
    // Without the GUI thread's help the worker would wait for a loop that does not run: a deadlock.
    std::atomic<bool> ran{false};
    std::thread worker([&] { MainThreadSend([&] { ran = true; }); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ran && std::chrono::steady_clock::now() < deadline) {
        if (const auto dispatcher = MainThreadDispatcher()) dispatcher->RunWaitingCalls();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_TRUE(ran);
}

} // namespace
