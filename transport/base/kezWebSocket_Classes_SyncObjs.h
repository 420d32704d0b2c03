// Locks and guarded values shared by the transport, the event base and the AMQP engine.
#pragma once

#include "kezBase_Classes.h"
#include "kezBase_StringList.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kez {

// A lock that the holding thread may take again. Also a std Lockable, so std::lock_guard works with it.
class TkezCriticalSection {
public:
    void Acquire() { FMutex.lock(); }
    void Release() { FMutex.unlock(); }
    bool TryAcquire() { return FMutex.try_lock(); }

    void lock() { Acquire(); }
    void unlock() { Release(); }
    bool try_lock() { return TryAcquire(); }

private:
    std::recursive_mutex FMutex;
};

// An object that carries its own critical section.
class TkezThreadSafeBase : public TObject {
public:
    virtual void EnterCS() { FCS.Acquire(); }
    virtual void LeaveCS() { FCS.Release(); }

protected:
    TkezCriticalSection FCS;
};

class TkezThreadSafe : public TkezThreadSafeBase {};

// A 64-bit counter; Value is read without the lock.
class TkezThreadSafeInteger : public TObject {
public:
    int64_t Value() const noexcept { return FValue.load(std::memory_order_acquire); }
    void SetValue(int64_t aValue) noexcept { FValue.store(aValue, std::memory_order_release); }
    // Return the new value.
    int64_t Inc() noexcept { return FValue.fetch_add(1, std::memory_order_acq_rel) + 1; }
    int64_t Dec() noexcept { return FValue.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
    std::atomic<int64_t> FValue{0};
};

// A string list whose changes and look-ups run under its own lock.
class TkezThreadSafeStringList : public TkezStringList {
public:
    int Add(std::string aLine) {
        std::lock_guard guard(FLock);
        return TkezStringList::Add(std::move(aLine));
    }
    void Clear() {
        std::lock_guard guard(FLock);
        TkezStringList::Clear();
    }
    void Delete(int aIndex) {
        std::lock_guard guard(FLock);
        TkezStringList::Delete(aIndex);
    }
    int IndexOf(std::string_view aLine) const {
        std::lock_guard guard(FLock);
        return TkezStringList::IndexOf(aLine);
    }
    int IndexOfName(std::string_view aName) const {
        std::lock_guard guard(FLock);
        return TkezStringList::IndexOfName(aName);
    }

private:
    mutable TkezCriticalSection FLock;
};

} // namespace kez
