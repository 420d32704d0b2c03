#include "ScriptedBroker.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kez::test {

std::string SplitName(TSplit aSplit) {
    switch (aSplit) {
    case splitWhole: return "Whole";
    case splitOneByte: return "OneByte";
    case splitRandom: return "Random";
    }
    return "?";
}

uint16_t TWrittenFrame::ClassId() const {
    return Payload.size() >= 2 ? static_cast<uint16_t>(Payload[0] << 8 | Payload[1]) : 0;
}
uint16_t TWrittenFrame::MethodId() const {
    return Payload.size() >= 4 ? static_cast<uint16_t>(Payload[2] << 8 | Payload[3]) : 0;
}
TBytes TWrittenFrame::Arguments() const {
    return Payload.size() >= 4 ? TBytes(Payload.begin() + 4, Payload.end()) : TBytes();
}

// --- broker ---

TScriptedBroker::TScriptedBroker(TSplit aSplit, std::shared_ptr<TkezAMQP_Client> aEngine)
    : FSplit(aSplit), FEngine(std::move(aEngine)), FFedEngine(FEngine) {
    FEngine->OnAMQPWriteBytes = [this](TObject*, const TBytes& aBytes) { OnWrite(aBytes); };
    FFeeder = std::thread([this] { Feed(); });
}

TScriptedBroker::~TScriptedBroker() {
    {
        std::lock_guard guard(FFeedLock);
        FStop = true;
    }
    FFeedChanged.notify_all();
    FFeeder.join();
    // A worker may still be handling a frame, holding the engine and calling handlers that use this broker;
    // the broker's members must outlive that.
    FEngine.reset();
    EXPECT_TRUE(WaitUntil([&] { return FFedEngine.expired(); }, 10000)) << "the engine outlived its test";
    // Handlers touch the broker only under these locks: taking them orders their last touch before teardown.
    { std::lock_guard guard(FWriteLock); }
    Log.Quiesce();
}

void TScriptedBroker::ReleaseEngine() { FEngine.reset(); }

std::vector<size_t> TScriptedBroker::Cut(size_t aSize) {
    std::vector<size_t> sizes;
    switch (FSplit) {
    case splitWhole: sizes.push_back(aSize); break;
    case splitOneByte: sizes.assign(aSize, 1); break;
    case splitRandom:
        for (size_t left = aSize; left > 0;) {
            const size_t size = std::min<size_t>(left, 1 + FRandom() % 23);
            sizes.push_back(size);
            left -= size;
        }
        break;
    }
    return sizes;
}

void TScriptedBroker::SendAsync(const TBytes& aOctets) {
    {
        std::lock_guard guard(FFeedLock);
        FToSend.push_back(aOctets);
        ++FQueued;
    }
    FFeedChanged.notify_all();
}

void TScriptedBroker::Send(const TBytes& aOctets) {
    uint64_t ticket = 0;
    {
        std::lock_guard guard(FFeedLock);
        FToSend.push_back(aOctets);
        ticket = ++FQueued;
    }
    FFeedChanged.notify_all();
    std::unique_lock lock(FFeedLock);
    ASSERT_TRUE(FFeedChanged.wait_for(lock, std::chrono::seconds(30), [&] { return FFed >= ticket; }));
}

void TScriptedBroker::SendMethod(uint16_t aChannel, uint16_t aClass, uint16_t aMethod,
                                 const Wire& aArguments) {
    Send(MethodFrame(aChannel, aClass, aMethod, aArguments));
}

// The broker's one reading thread: every Read of the engine happens here, in order.
void TScriptedBroker::Feed() {
    std::unique_lock lock(FFeedLock);
    for (;;) {
        FFeedChanged.wait(lock, [&] { return FStop || !FToSend.empty(); });
        if (FToSend.empty()) return;
        TBytes octets = std::move(FToSend.front());
        FToSend.pop_front();
        std::shared_ptr<TkezAMQP_Client> engine = FFedEngine.lock();
        lock.unlock();
        size_t at = 0;
        if (engine)
            for (size_t size : Cut(octets.size())) {
                engine->Read(TBytesView(octets).subspan(at, size));
                at += size;
            }
        engine.reset();
        lock.lock();
        ++FFed;
        FFeedChanged.notify_all();
    }
}

void TScriptedBroker::OnWrite(const TBytes& aBytes) {
    std::vector<TBytes> replies;
    {
        std::lock_guard guard(FWriteLock);
        FBlocks.push_back(aBytes);
        FStream.insert(FStream.end(), aBytes.begin(), aBytes.end());
        if (!FStarted) {
            FStarted = true;
            if (FStream[0] == 'A') FParsed = 8; // the protocol header, written as a block of its own
        }
        while (FStream.size() - FParsed >= 8) {
            TkezAMQPFrame frame;
            const int32_t n = frame.Read(TBytesView(FStream).subspan(FParsed), 0);
            if (n == 0) break;
            TWrittenFrame written{GetAMQPFrameTypeId(frame.Header().Type()), frame.Header().Channel(),
                                  frame.Payload().Payload()};
            for (auto& [cls, method, reply] : FRules)
                if (written.Is(cls, method)) replies.push_back(reply(written));
            FFrames.push_back(std::move(written));
            FParsed += static_cast<size_t>(n);
        }
        FWritten.notify_all();
    }
    for (TBytes& reply : replies)
        SendAsync(reply);
}

TWrittenFrame TScriptedBroker::NextFrame(int aTimeoutMs) {
    std::unique_lock lock(FWriteLock);
    if (!FWritten.wait_for(lock, std::chrono::milliseconds(aTimeoutMs), [&] { return !FFrames.empty(); })) {
        ADD_FAILURE() << "the engine wrote no frame within " << aTimeoutMs << " ms";
        return {};
    }
    TWrittenFrame frame = std::move(FFrames.front());
    FFrames.pop_front();
    return frame;
}

bool TScriptedBroker::NoFrameWithin(int aTimeoutMs) {
    std::unique_lock lock(FWriteLock);
    return !FWritten.wait_for(lock, std::chrono::milliseconds(aTimeoutMs), [&] { return !FFrames.empty(); });
}

std::vector<TBytes> TScriptedBroker::Blocks() const {
    std::lock_guard guard(FWriteLock);
    return FBlocks;
}

TBytes TScriptedBroker::Written() const {
    std::lock_guard guard(FWriteLock);
    return FStream;
}

void TScriptedBroker::Respond(uint16_t aClass, uint16_t aMethod,
                              std::function<TBytes(const TWrittenFrame&)> aReply) {
    std::lock_guard guard(FWriteLock);
    FRules.emplace_back(aClass, aMethod, std::move(aReply));
}

void TScriptedBroker::Handshake(uint16_t aHeartBeat) {
    FEngine->OnAMQPConnect = [this](TObject*) { Log.Add("connect"); };
    FEngine->Connect();
    SendMethod(0, 10, 10, Wire{0, 9}.Table(Wire()).LongStr("PLAIN AMQPLAIN").LongStr("en_US"));
    EXPECT_TRUE(NextFrame().Is(10, 11));
    SendMethod(0, 10, 30, Wire().Short(2047).Long(131072).Short(aHeartBeat));
    EXPECT_TRUE(NextFrame().Is(10, 31));
    EXPECT_TRUE(NextFrame().Is(10, 40));
    SendMethod(0, 10, 41, Wire().ShortStr(""));
    EXPECT_TRUE(Log.WaitFor("connect"));
}

uint16_t TScriptedBroker::OpenChannel(const std::string& aName) {
    FEngine->OpenChannel(aName);
    const TWrittenFrame open = NextFrame();
    EXPECT_TRUE(open.Is(20, 10));
    SendMethod(open.Channel, 20, 11, Wire().Long(0));
    return open.Channel;
}

// --- frames ---

TBytes Frame(uint8_t aType, uint16_t aChannel, const Wire& aPayload) {
    return Wire::Frame(aType, aChannel, aPayload).Bytes();
}

TBytes MethodFrame(uint16_t aChannel, uint16_t aClass, uint16_t aMethod, const Wire& aArguments) {
    return Frame(1, aChannel, Wire::Method(aClass, aMethod, aArguments));
}

TBytes ContentHeaderFrame(uint16_t aChannel, uint64_t aBodySize, const Wire& aProperties) {
    return Frame(2, aChannel, Wire().Short(60).Short(0).LongLong(aBodySize).Raw(aProperties.Bytes()));
}

TBytes BodyFrame(uint16_t aChannel, const std::string& aOctets) {
    return Frame(3, aChannel, Wire().Raw(aOctets));
}

TBytes Join(std::initializer_list<TBytes> aParts) {
    TBytes all;
    for (const TBytes& part : aParts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace kez::test

#include "EngineTestBase.h"

namespace kez::test {

TStartOk ParseStartOk(const TWrittenFrame& aFrame) {
    const TBytes arguments = aFrame.Arguments();
    int32_t pos = 0;
    TkezStringList properties;
    ReadFieldTable(arguments, pos, properties);
    TStartOk startOk;
    startOk.Mechanism = ReadShortString(arguments, pos);
    startOk.Response = ReadLongString(arguments, pos);
    startOk.Locale = ReadShortString(arguments, pos);
    return startOk;
}

} // namespace kez::test
