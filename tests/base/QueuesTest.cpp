#include "kezWebSocket_Classes_Queues.h"
#include "kezWebSocket_Classes_SyncObjs.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kez;

namespace {

std::shared_ptr<TkezQueueItemBase> Item(const std::string& aID, int64_t aOrder = 0) {
    auto item = std::make_shared<TkezQueueItemBase>();
    item->SetID(aID);
    item->SetOrder(aOrder);
    return item;
}

TEST(ThreadList, DuplicatesPolicy) {
    int a = 0;
    TkezThreadList<int*> list;
    list.Add(&a);
    list.Add(&a);
    EXPECT_EQ(list.Count(), 1);
    list.SetDuplicates(dupAccept);
    list.Add(&a);
    EXPECT_EQ(list.Count(), 2);
    list.SetDuplicates(dupError);
    try {
        list.Add(&a);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("List does not allow duplicates ($0", 0), 0u) << e.what();
    }
    list.RemoveItem(&a, FromEnd);
    EXPECT_EQ(list.Count(), 1);
    list.SetListType(tdlOnlyDictionary);
    EXPECT_EQ(list.ListType(), tdlOnlyThread);
}

TEST(Queue, LookUpAndDeleteByIdAndIndex) {
    TkezQueue<> queue;
    const auto first = Item("7", 3);
    queue.AddItem(first);
    queue.AddItem(Item("7", 1));
    queue.AddItem(Item("8", 2));
    EXPECT_EQ(queue.GetItem(std::string("7")), first);
    EXPECT_EQ(queue.GetItem(std::string("9")), nullptr);
    EXPECT_TRUE(queue.DeleteItem(std::string("7")));
    EXPECT_EQ(queue.Count(), 2);
    EXPECT_NE(queue.GetItem(std::string("7")), first);
    EXPECT_FALSE(queue.DeleteItem(5));
    EXPECT_EQ(queue.GetItem(5), nullptr);
    queue.SortByOrder(false);
    EXPECT_EQ(queue.GetItemByIndex(0)->ID(), "8");
    queue.SortByOrder(true);
    EXPECT_EQ(queue.GetItemByIndex(0)->ID(), "7");
    // A removed item stays usable by whoever still holds it.
    EXPECT_EQ(first->ID(), "7");
    queue.Clear();
    EXPECT_TRUE(queue.IsEmpty());
}

TEST(Queue, FifoDropsTheOldestBeyondMaxItems) {
    TkezFIFOQueue<> queue;
    queue.SetMaxItems(3);
    for (const char* id : {"a", "b", "c", "d"})
        queue.AddItem(Item(id));
    ASSERT_EQ(queue.Count(), 3);
    EXPECT_EQ(queue.GetItem(0)->ID(), "b");
    EXPECT_EQ(queue.GetItem(2)->ID(), "d");
}

TEST(SyncObjs, CounterIsSixtyFourBitAndSafeAcrossThreads) {
    TkezThreadSafeInteger counter;
    counter.SetValue(65535);
    EXPECT_EQ(counter.Inc(), 65536);
    EXPECT_EQ(static_cast<uint16_t>(counter.Value()), 0);
    counter.SetValue(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i)
                counter.Inc();
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter.Value(), 40000);
}

TEST(SyncObjs, CriticalSectionIsReentrant) {
    TkezCriticalSection cs;
    cs.Acquire();
    EXPECT_TRUE(cs.TryAcquire());
    cs.Release();
    cs.Release();
    bool other = true;
    std::thread([&] {
        other = cs.TryAcquire();
        if (other) cs.Release();
    }).join();
    EXPECT_TRUE(other);
}

} // namespace
