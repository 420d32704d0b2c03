// The socket client's base: the protocol components registered with it (each connection's events go to the
// ones whose name matches the connection's protocol), and the heartbeat, heartbeat time-out and watchdog
// timers with their events.
#pragma once

#include "kezWebSocket_Classes_Component.h"
#include "kezWebSocket_Classes_Threads.h"

#include <memory>
#include <string>
#include <vector>

namespace kez {

// What the socket client needs of a protocol component: its routing name and its heartbeat hook. The protocol
// components of the library derive from it.
class TkezWSProtocolObject : public TkezWSComponent_Base {
public:
    // Addressed as Guid + "." + Protocol when Guid is not empty.
    virtual std::string Guid() const;
    void SetGuid(std::string aGuid);
    // The routing name; several names may be separated by commas.
    std::string Protocol() const;
    // Asked at every heartbeat period; true when the component sent a keep-alive of its own.
    virtual bool DoHeartBeat() { return false; }

protected:
    void SetProtocol(std::string aProtocol);

private:
    mutable std::mutex FNamesLock;
    std::string FGuid;
    std::string FProtocol;
};

// A protocol object registered by name: it carries the client's event handlers for that protocol.
class TkezWSPlainProtocol : public TkezWSProtocolObject {
public:
    explicit TkezWSPlainProtocol(std::string aProtocol) { SetProtocol(std::move(aProtocol)); }
    ~TkezWSPlainProtocol() override { ShutdownEvents(); }
};

using TkezWSOnBeforeHeartBeatEvent =
    TkezEvent<void(TObject* Sender, const TkezWSConnectionPtr& Connection, bool& Handled)>;
using TkezWSOnBeforeWatchDogEvent = TkezEvent<void(TObject* Sender, bool& Handled)>;

class TkezWSComponent : public TkezWSComponent_Base {
public:
    TkezWSComponent();
    ~TkezWSComponent() override;

    // --- routing (each takes the event on the detecting thread) ---
    void DoNotifyConnect(const TkezWSConnectionPtr& aConnection) override;
    void DoNotifyDisconnect(const TkezWSConnectionPtr& aConnection) override;
    void DoNotifyMessage(const TkezWSConnectionPtr& aConnection) override;
    void DoNotifyBinary(const TkezWSConnectionPtr& aConnection) override;
    void DoNotifyFragmented(const TkezWSConnectionPtr& aConnection, TOpcode aOpCode,
                            bool aContinuation) override;
    void DoNotifyError(const TkezWSConnectionPtr& aConnection) override;
    void DoNotifyException(const TkezWSConnectionPtr& aConnection) override;

    // Case-insensitive: Guid.Protocol or Protocol equals aText, or one of its comma-separated names does.
    static bool MatchProtocol(const std::string& aText, const TkezWSProtocolObject& aComponent);
    // Lists the component (not owning it) and gives it this client's NotifyEvents.
    void DoRegisterProtocol(TkezWSProtocolObject* aComponent);
    void DoUnRegisterProtocol(TkezWSProtocolObject* aComponent);
    // By name: a plain protocol object with this client's event handlers, unless one of that name is listed.
    void RegisterProtocol(const std::string& aProtocol);
    // Takes out and frees every listed object of exactly that name.
    void UnRegisterProtocol(const std::string& aProtocol);
    std::vector<TkezWSProtocolObject*> ProtocolObjects() const;

    void SetNotifyEvents(TwsNotifyEvent aValue) override;

    // --- heartbeat and watchdog ---
    // A copy: the options are read by the timer threads.
    TkezWSHeartBeat_Options HeartBeat() const;
    virtual void SetHeartBeat(const TkezWSHeartBeat_Options& aValue);
    TkezWSWatchDogClient_Options& WatchDog() noexcept { return FWatchDog; }
    void SetWatchDog(const TkezWSWatchDogClient_Options& aValue) { FWatchDog.Assign(aValue); }
    virtual void StartHeartBeat();
    virtual void StopHeartBeat();
    void StartHeartBeatTimeout();
    void StopHeartBeatTimeout();
    virtual void StartWatchDog();
    // Frees the watchdog timer; works from the watchdog's own thread.
    virtual void StopWatchDog();
    // Copied from WatchDog.Enabled at every activation, cleared when deactivated.
    bool WatchDogEnabled() const noexcept { return FWatchDogEnabled.load(std::memory_order_acquire); }
    void SetWatchDogEnabled(bool aValue) noexcept {
        FWatchDogEnabled.store(aValue, std::memory_order_release);
    }
    int WatchDogAttempts() const noexcept { return FWatchDogAttempts.load(std::memory_order_acquire); }
    void SetWatchDogAttempts(int aValue) noexcept {
        FWatchDogAttempts.store(aValue, std::memory_order_release);
    }

    TkezWSOnBeforeHeartBeatEvent OnBeforeHeartBeat;
    TkezWSOnBeforeWatchDogEvent OnBeforeWatchDog;

protected:
    virtual void DoHeartBeatTimer() {}
    virtual void DoHeartBeatTimeoutTimer() {}
    virtual void DoWatchDogTimer() {}
    virtual void DoHeartBeatTimerException(const std::exception& E) { DoTimerException(E); }
    virtual void DoHeartBeatTimeoutTimerException(const std::exception& E) { DoTimerException(E); }
    virtual void DoWatchDogTimerException(const std::exception& E) { DoTimerException(E); }
    // The connection a timer works on.
    virtual TkezWSConnectionPtr CurrentConnection() { return nullptr; }
    // Asks the matching protocol components for their keep-alive; the last one asked answers.
    bool DoProtocolHeartBeat();
    // Frees the heartbeat timers (at every activation and on destruction).
    void FreeHeartBeatTimers();
    // Stops every timer; the destructors of descendants call it before their members go.
    void StopAllTimers();

private:
    void DoTimerException(const std::exception& E) { DoException(CurrentConnection(), E.what(), &E); }
    std::shared_ptr<TkezTimer> MakeTimer(const char* aName, void (TkezWSComponent::*aOnTimer)(),
                                         void (TkezWSComponent::*aOnException)(const std::exception&));
    // A matching component with an entry through its gate, taken under the list's lock: a component that
    // unregisters and closes its gate is never called afterwards, nor taken apart during a call.
    struct TRouted {
        TkezWSProtocolObject* Component;
        TkezCallGatePtr Gate;
        TkezCallGate::TEntry Entry;
    };
    std::vector<TRouted> Matching(const TkezWSConnectionPtr& aConnection) const;

    mutable std::mutex FHeartBeatLock;
    TkezWSHeartBeat_Options FHeartBeat;
    TkezWSWatchDogClient_Options FWatchDog;
    std::atomic<bool> FWatchDogEnabled{false};
    std::atomic<int> FWatchDogAttempts{0};
    std::mutex FTimersLock;
    std::shared_ptr<TkezTimer> FHeartBeatTimer;
    std::shared_ptr<TkezTimer> FHeartBeatTimeoutTimer;
    std::shared_ptr<TkezTimer> FWatchDogTimer;
    TkezThreadList<TkezWSProtocolObject*> FProtocolObjectList;
    std::mutex FOwnedLock;
    std::vector<std::unique_ptr<TkezWSPlainProtocol>> FOwnedProtocols;
};

} // namespace kez
