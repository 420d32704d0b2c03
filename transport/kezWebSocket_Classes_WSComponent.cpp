#include "kezWebSocket_Classes_WSComponent.h"

#include <algorithm>

namespace kez {

namespace {
// Protocol names are ASCII tokens: folded without the locale, which std::tolower would consult per character.
char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

// aText is aName, or aName qualified by the component's GUID ("GUID.name").
bool NamesProtocol(std::string_view aText, std::string_view aGuid, std::string_view aName) {
    if (SameText(aName, aText)) return true;
    return aText.size() == aGuid.size() + 1 + aName.size() && aText[aGuid.size()] == '.' &&
           SameText(aText.substr(0, aGuid.size()), aGuid) && SameText(aText.substr(aGuid.size() + 1), aName);
}
} // namespace

// --- protocol objects ---

std::string TkezWSProtocolObject::Guid() const {
    std::lock_guard guard(FNamesLock);
    return FGuid;
}

void TkezWSProtocolObject::SetGuid(std::string aGuid) {
    std::lock_guard guard(FNamesLock);
    FGuid = std::move(aGuid);
}

std::string TkezWSProtocolObject::Protocol() const {
    std::lock_guard guard(FNamesLock);
    return FProtocol;
}

void TkezWSProtocolObject::SetProtocol(std::string aProtocol) {
    std::lock_guard guard(FNamesLock);
    FProtocol = std::move(aProtocol);
}

// --- TkezWSComponent ---

TkezWSComponent::TkezWSComponent() { FProtocolObjectList.SetDuplicates(dupIgnore); }

TkezWSComponent::~TkezWSComponent() {
    ShutdownEvents();
    StopAllTimers();
}

bool TkezWSComponent::MatchProtocol(const std::string& aText, const TkezWSProtocolObject& aComponent) {
    const std::string guid = aComponent.Guid();
    const std::string protocol = aComponent.Protocol();
    const auto matches = [&](std::string_view aName) { return NamesProtocol(aText, guid, aName); };
    if (matches(protocol)) return true;
    if (protocol.find(',') == std::string::npos) return false;
    size_t start = 0;
    for (;;) {
        const size_t comma = protocol.find(',', start);
        if (matches(std::string_view(protocol).substr(start, comma - start))) return true;
        if (comma == std::string::npos) return false;
        start = comma + 1;
    }
}

std::vector<TkezWSProtocolObject*> TkezWSComponent::ProtocolObjects() const {
    auto& list = const_cast<TkezThreadList<TkezWSProtocolObject*>&>(FProtocolObjectList);
    const std::vector<TkezWSProtocolObject*> copy = list.LockList();
    list.UnlockList();
    return copy;
}

std::vector<TkezWSComponent::TRouted>
TkezWSComponent::Matching(const TkezWSConnectionPtr& aConnection) const {
    std::vector<TRouted> matching;
    const std::string protocol = aConnection->Protocol();
    auto& list = const_cast<TkezThreadList<TkezWSProtocolObject*>&>(FProtocolObjectList);
    const std::vector<TkezWSProtocolObject*>& components = list.LockList();
    for (TkezWSProtocolObject* component : components) {
        if (!MatchProtocol(protocol, *component)) continue;
        TkezCallGatePtr gate = component->Gate();
        TkezCallGate::TEntry entry = gate->Enter();
        if (entry) matching.push_back({component, std::move(gate), std::move(entry)});
    }
    list.UnlockList();
    return matching;
}

void TkezWSComponent::DoRegisterProtocol(TkezWSProtocolObject* aComponent) {
    if (!aComponent) return;
    aComponent->SetNotifyEvents(NotifyEvents());
    FProtocolObjectList.Add(aComponent);
}

void TkezWSComponent::DoUnRegisterProtocol(TkezWSProtocolObject* aComponent) {
    FProtocolObjectList.Remove(aComponent);
}

void TkezWSComponent::RegisterProtocol(const std::string& aProtocol) {
    for (TkezWSProtocolObject* component : ProtocolObjects())
        if (component->Protocol() == aProtocol) return;
    auto plain = std::make_unique<TkezWSPlainProtocol>(aProtocol);
    plain->OnConnect = OnConnect;
    plain->OnDisconnect = OnDisconnect;
    plain->OnMessage = OnMessage;
    plain->OnBinary = OnBinary;
    plain->OnFragmented = OnFragmented;
    plain->OnError = OnError;
    plain->OnException = OnException;
    DoRegisterProtocol(plain.get());
    std::lock_guard guard(FOwnedLock);
    FOwnedProtocols.push_back(std::move(plain));
}

void TkezWSComponent::UnRegisterProtocol(const std::string& aProtocol) {
    std::vector<TkezWSProtocolObject*> components = ProtocolObjects();
    for (auto it = components.rbegin(); it != components.rend(); ++it) {
        if ((*it)->Protocol() != aProtocol) continue;
        DoUnRegisterProtocol(*it);
        std::lock_guard guard(FOwnedLock);
        std::erase_if(FOwnedProtocols, [&](const auto& aOwned) { return aOwned.get() == *it; });
    }
}

void TkezWSComponent::SetNotifyEvents(TwsNotifyEvent aValue) {
    TkezWSComponent_Base::SetNotifyEvents(aValue);
    std::lock_guard guard(FTimersLock);
    for (auto* timer : {&FHeartBeatTimer, &FHeartBeatTimeoutTimer, &FWatchDogTimer})
        if (*timer) (*timer)->SetNotifyEvents(aValue);
}

// --- routing ---

#define KEZ_ROUTE(Call, ...)                                                                                 \
    if (IsDestroying()) return;                                                                              \
    if (aConnection && !aConnection->Protocol().empty()) {                                                   \
        for (TRouted & routed : Matching(aConnection))                                                       \
            routed.Component->Call(aConnection __VA_ARGS__);                                                 \
        return;                                                                                              \
    }                                                                                                        \
    TkezWSComponent_Base::Call(aConnection __VA_ARGS__);

void TkezWSComponent::DoNotifyConnect(const TkezWSConnectionPtr& aConnection) { KEZ_ROUTE(DoNotifyConnect) }
void TkezWSComponent::DoNotifyMessage(const TkezWSConnectionPtr& aConnection) { KEZ_ROUTE(DoNotifyMessage) }
void TkezWSComponent::DoNotifyBinary(const TkezWSConnectionPtr& aConnection) { KEZ_ROUTE(DoNotifyBinary) }
void TkezWSComponent::DoNotifyError(const TkezWSConnectionPtr& aConnection) { KEZ_ROUTE(DoNotifyError) }
void TkezWSComponent::DoNotifyException(const TkezWSConnectionPtr& aConnection) {
    KEZ_ROUTE(DoNotifyException)
}
void TkezWSComponent::DoNotifyFragmented(const TkezWSConnectionPtr& aConnection, TOpcode aOpCode,
                                         bool aContinuation) {
    KEZ_ROUTE(DoNotifyFragmented, , aOpCode, aContinuation)
}
#undef KEZ_ROUTE

void TkezWSComponent::DoNotifyDisconnect(const TkezWSConnectionPtr& aConnection) {
    if (IsDestroying()) return;
    // A disconnect goes to the first matching component only; without one the client delivers it itself.
    if (aConnection && !aConnection->Protocol().empty()) {
        std::vector<TRouted> matching = Matching(aConnection);
        if (!matching.empty()) return matching.front().Component->DoNotifyDisconnect(aConnection);
    }
    TkezWSComponent_Base::DoNotifyDisconnect(aConnection);
}

// --- heartbeat and watchdog ---

std::shared_ptr<TkezTimer>
TkezWSComponent::MakeTimer(const char* aName, void (TkezWSComponent::*aOnTimer)(),
                           void (TkezWSComponent::*aOnException)(const std::exception&)) {
    auto timer = std::make_shared<TkezTimer>();
    timer->SetDebugName(aName);
    timer->SetNotifyEvents(NotifyEvents());
    timer->OnTimer = [gate = FGate, this, aOnTimer](TObject*) {
        if (const auto entry = gate->Enter()) (this->*aOnTimer)();
    };
    timer->OnException = [gate = FGate, this, aOnException](TObject*, const std::exception& E) {
        if (const auto entry = gate->Enter()) (this->*aOnException)(E);
    };
    return timer;
}

TkezWSHeartBeat_Options TkezWSComponent::HeartBeat() const {
    std::lock_guard guard(FHeartBeatLock);
    return FHeartBeat;
}

void TkezWSComponent::SetHeartBeat(const TkezWSHeartBeat_Options& aValue) {
    std::lock_guard guard(FHeartBeatLock);
    FHeartBeat.Assign(aValue);
}

void TkezWSComponent::StartHeartBeat() {
    const TkezWSHeartBeat_Options options = HeartBeat();
    if (!options.Enabled()) return;
    std::shared_ptr<TkezTimer> stale;
    std::lock_guard guard(FTimersLock);
    // A stopped timer cannot start again: a fresh one takes its place.
    if (FHeartBeatTimer && FHeartBeatTimer->Terminated()) stale = std::move(FHeartBeatTimer);
    if (!FHeartBeatTimer)
        FHeartBeatTimer = MakeTimer("HeartBeat", &TkezWSComponent::DoHeartBeatTimer,
                                    &TkezWSComponent::DoHeartBeatTimerException);
    FHeartBeatTimer->SetInterval(options.Interval() * 1000);
    if (FHeartBeatTimer->Interval() > 0 && !FHeartBeatTimer->Enabled()) FHeartBeatTimer->SetEnabled(true);
}

void TkezWSComponent::StopHeartBeat() {
    std::lock_guard guard(FTimersLock);
    if (FHeartBeatTimer) FHeartBeatTimer->SetEnabled(false);
}

void TkezWSComponent::StartHeartBeatTimeout() {
    const TkezWSHeartBeat_Options options = HeartBeat();
    if (options.Timeout() < 1) return;
    std::shared_ptr<TkezTimer> stale;
    std::lock_guard guard(FTimersLock);
    if (FHeartBeatTimeoutTimer && FHeartBeatTimeoutTimer->Terminated())
        stale = std::move(FHeartBeatTimeoutTimer);
    if (!FHeartBeatTimeoutTimer)
        FHeartBeatTimeoutTimer = MakeTimer("HeartBeatTimeout", &TkezWSComponent::DoHeartBeatTimeoutTimer,
                                           &TkezWSComponent::DoHeartBeatTimeoutTimerException);
    FHeartBeatTimeoutTimer->SetInterval(options.Timeout() * 1000);
    if (FHeartBeatTimeoutTimer->Interval() > 0 && !FHeartBeatTimeoutTimer->Enabled())
        FHeartBeatTimeoutTimer->SetEnabled(true);
}

void TkezWSComponent::StopHeartBeatTimeout() {
    std::lock_guard guard(FTimersLock);
    if (FHeartBeatTimeoutTimer) FHeartBeatTimeoutTimer->SetEnabled(false);
}

void TkezWSComponent::StartWatchDog() {
    if (!FWatchDog.Enabled()) return;
    std::lock_guard guard(FTimersLock);
    if (!FWatchDogTimer)
        FWatchDogTimer = MakeTimer("WatchDog", &TkezWSComponent::DoWatchDogTimer,
                                   &TkezWSComponent::DoWatchDogTimerException);
    FWatchDogTimer->SetInterval(FWatchDog.Interval() * 1000);
    if (FWatchDogTimer->Interval() > 0 && !FWatchDogTimer->Enabled()) FWatchDogTimer->SetEnabled(true);
}

void TkezWSComponent::StopWatchDog() {
    std::shared_ptr<TkezTimer> timer;
    {
        std::lock_guard guard(FTimersLock);
        timer = std::move(FWatchDogTimer);
    }
    // Outside the lock: the timer's own handler may be the one stopping it, and may need the lock.
    FreeAndNilThread(timer);
}

void TkezWSComponent::FreeHeartBeatTimers() {
    std::shared_ptr<TkezTimer> heartBeat, timeout;
    {
        std::lock_guard guard(FTimersLock);
        heartBeat = std::move(FHeartBeatTimer);
        timeout = std::move(FHeartBeatTimeoutTimer);
    }
    FreeAndNilThread(timeout);
    FreeAndNilThread(heartBeat);
}

void TkezWSComponent::StopAllTimers() {
    FreeHeartBeatTimers();
    StopWatchDog();
}

bool TkezWSComponent::DoProtocolHeartBeat() {
    const TkezWSConnectionPtr connection = CurrentConnection();
    if (!connection || connection->Protocol().empty()) return false;
    bool sent = false;
    for (TRouted& routed : Matching(connection))
        sent = routed.Component->DoHeartBeat();
    return sent;
}

} // namespace kez
