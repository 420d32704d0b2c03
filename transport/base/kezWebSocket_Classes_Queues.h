// Guarded lists and keyed queues. Every operation takes the list's lock for its whole duration; LockList and
// UnlockList let a caller hold it across several steps. Queue items are held in shared ownership, so an item
// that a caller still uses outlives its removal from the queue.
#pragma once

#include "kezBase_Classes.h"
#include "kezWebSocket_Classes_SyncObjs.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace kez {

enum TDuplicates : uint8_t { dupIgnore, dupAccept, dupError };
enum TkezThreadListType : uint8_t { tdlThreadDictionary, tdlOnlyThread, tdlOnlyDictionary };
enum TkezListDirection : uint8_t { FromBeginning, FromEnd };

template <typename T>
class TkezThreadList : public TObject {
public:
    TDuplicates Duplicates() const noexcept { return FDuplicates; }
    void SetDuplicates(TDuplicates aValue) noexcept { FDuplicates = aValue; }
    // Only the plain list kind exists; the setter keeps it whatever it is given.
    TkezThreadListType ListType() const noexcept { return tdlOnlyThread; }
    void SetListType(TkezThreadListType) noexcept {}

    // Appends unless the item is listed already: dupIgnore then does nothing, dupError raises.
    void Add(const T& aItem) {
        std::lock_guard guard(FLock);
        if (FDuplicates != dupAccept && std::find(FList.begin(), FList.end(), aItem) != FList.end()) {
            if (FDuplicates == dupIgnore) return;
            char text[64];
            std::snprintf(text, sizeof text, "List does not allow duplicates ($0%llx)",
                          static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(AddressOf(aItem))));
            throw std::runtime_error(text);
        }
        FList.push_back(aItem);
    }
    // The key is not kept: these act as Add and Delete.
    void AddKey(const T& aItem, const std::string& /*aKey*/) { Add(aItem); }
    void DeleteKey(int aIndex, const std::string& /*aKey*/) { Delete(aIndex); }
    T GetValue(const std::string& /*aKey*/) const { return T{}; }

    void Delete(int aIndex) {
        std::lock_guard guard(FLock);
        if (aIndex >= 0 && static_cast<size_t>(aIndex) < FList.size()) FList.erase(FList.begin() + aIndex);
    }
    void Remove(const T& aItem) { RemoveItem(aItem, FromBeginning); }
    void RemoveItem(const T& aItem, TkezListDirection aDirection) {
        std::lock_guard guard(FLock);
        if (aDirection == FromBeginning) {
            auto it = std::find(FList.begin(), FList.end(), aItem);
            if (it != FList.end()) FList.erase(it);
        } else {
            auto it = std::find(FList.rbegin(), FList.rend(), aItem);
            if (it != FList.rend()) FList.erase(std::next(it).base());
        }
    }
    virtual void Clear() {
        std::lock_guard guard(FLock);
        FList.clear();
    }

    // Takes the lock and hands out the plain list; UnlockList releases it.
    std::vector<T>& LockList() {
        FLock.Acquire();
        return FList;
    }
    void UnlockList() { FLock.Release(); }

    bool IsEmpty() const {
        std::lock_guard guard(FLock);
        return FList.empty();
    }
    int Count() const {
        std::lock_guard guard(FLock);
        return static_cast<int>(FList.size());
    }

protected:
    static const void* AddressOf(const T& aItem) {
        if constexpr (std::is_pointer_v<T>)
            return aItem;
        else
            return aItem.get();
    }

    mutable TkezCriticalSection FLock;
    std::vector<T> FList;

private:
    TDuplicates FDuplicates = dupIgnore;
};

class TkezQueueItemBase : public TObject {
public:
    virtual int64_t Order() const { return FOrder; }
    void SetOrder(int64_t aOrder) { FOrder = aOrder; }
    virtual const std::string& ID() const { return FID; }
    void SetID(std::string aID) { FID = std::move(aID); }

private:
    int64_t FOrder = 0;
    std::string FID;
};

template <typename Item>
class TkezQueueCommon : public TkezThreadList<std::shared_ptr<Item>> {};

template <typename Item = TkezQueueItemBase>
class TkezQueueBase : public TkezQueueCommon<Item> {
public:
    using TItemPtr = std::shared_ptr<Item>;

    virtual TItemPtr GetItemByIndex(int aIndex) const { return GetItem(aIndex); }
    virtual void AddItem(TItemPtr aItem) {
        std::lock_guard guard(this->FLock);
        this->FList.push_back(std::move(aItem));
    }
    // The first item whose ID equals aID exactly, or null.
    TItemPtr GetItem(const std::string& aID) const {
        std::lock_guard guard(this->FLock);
        for (const TItemPtr& item : this->FList)
            if (item->ID() == aID) return item;
        return nullptr;
    }
    TItemPtr GetItem(int aIndex) const {
        std::lock_guard guard(this->FLock);
        return aIndex >= 0 && static_cast<size_t>(aIndex) < this->FList.size()
                   ? this->FList[static_cast<size_t>(aIndex)]
                   : nullptr;
    }
    // Removes the first item whose ID equals aID; true when there was one.
    bool DeleteItem(const std::string& aID) {
        TItemPtr removed; // released after the lock, so that an item's destructor never runs under it
        std::lock_guard guard(this->FLock);
        for (auto it = this->FList.begin(); it != this->FList.end(); ++it)
            if ((*it)->ID() == aID) {
                removed = std::move(*it);
                this->FList.erase(it);
                return true;
            }
        return false;
    }
    bool DeleteItem(int aIndex) {
        TItemPtr removed;
        std::lock_guard guard(this->FLock);
        if (aIndex < 0 || static_cast<size_t>(aIndex) >= this->FList.size()) return false;
        removed = std::move(this->FList[static_cast<size_t>(aIndex)]);
        this->FList.erase(this->FList.begin() + aIndex);
        return true;
    }
    // Releases the items from the back to the front.
    void Clear() override {
        std::vector<TItemPtr> removed;
        {
            std::lock_guard guard(this->FLock);
            removed.swap(this->FList);
        }
        while (!removed.empty())
            removed.pop_back();
    }
};

template <typename Item = TkezQueueItemBase>
class TkezQueue : public TkezQueueBase<Item> {
public:
    void SortByOrder(bool aAscending) {
        std::lock_guard guard(this->FLock);
        std::stable_sort(this->FList.begin(), this->FList.end(), [aAscending](const auto& a, const auto& b) {
            return aAscending ? a->Order() < b->Order() : a->Order() > b->Order();
        });
    }
};

// Drops its oldest item when a new one would pass MaxItems (0: no limit).
template <typename Item = TkezQueueItemBase>
class TkezFIFOQueue : public TkezQueueBase<Item> {
public:
    int MaxItems() const noexcept { return FMaxItems; }
    void SetMaxItems(int aValue) noexcept { FMaxItems = aValue; }
    void AddItem(typename TkezQueueBase<Item>::TItemPtr aItem) override {
        std::lock_guard guard(this->FLock);
        if (FMaxItems > 0 && static_cast<int>(this->FList.size()) >= FMaxItems && !this->FList.empty())
            this->DeleteItem(this->FList.front()->ID());
        this->FList.push_back(std::move(aItem));
    }

private:
    int FMaxItems = 0;
};

} // namespace kez
