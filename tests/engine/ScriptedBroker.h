// Plays the broker in-process for an engine: collects and decodes every block the engine writes, answers with
// scripted frames through Read on a thread of its own (as a socket's read thread would), cut into blocks of
// one octet, of random sizes or whole, and answers requests automatically by rules.
#pragma once

#include "../codec/WireBuilder.h"
#include "../common/EventLog.h"
#include "kezAMQP_Client.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kez::test {

enum TSplit { splitWhole, splitOneByte, splitRandom };
std::string SplitName(TSplit aSplit);

// One frame the engine wrote.
struct TWrittenFrame {
    uint8_t Type = 0;
    uint16_t Channel = 0;
    TBytes Payload;
    uint16_t ClassId() const;
    uint16_t MethodId() const;
    // The method's arguments, after the two ids.
    TBytes Arguments() const;
    bool Is(uint16_t aClass, uint16_t aMethod) const {
        return Type == 1 && ClassId() == aClass && MethodId() == aMethod;
    }
};

class TScriptedBroker {
public:
    explicit TScriptedBroker(TSplit aSplit,
                             std::shared_ptr<TkezAMQP_Client> aEngine = TkezAMQP_Client::Create());
    ~TScriptedBroker();

    TkezAMQP_Client& Engine() { return *FEngine; }
    std::shared_ptr<TkezAMQP_Client> EnginePtr() { return FEngine; }
    // Lets the engine go: the broker no longer holds it, but goes on feeding it while it lives.
    void ReleaseEngine();

    // Hands octets to the engine on the broker thread and waits until Read has returned for all of them.
    void Send(const TBytes& aOctets);
    // The same, without waiting.
    void SendAsync(const TBytes& aOctets);
    void SendMethod(uint16_t aChannel, uint16_t aClass, uint16_t aMethod, const Wire& aArguments = {});

    // The next frame the engine wrote (after the protocol header), waiting up to aTimeoutMs; fails the test
    // and returns an empty frame on time-out.
    TWrittenFrame NextFrame(int aTimeoutMs = 5000);
    // True when no further frame arrives within aTimeoutMs.
    bool NoFrameWithin(int aTimeoutMs);
    std::vector<TBytes> Blocks() const;
    // Octets written in all, the protocol header included.
    TBytes Written() const;

    // From now on, answers every request aClass.aMethod with the frames aReply makes of it.
    void Respond(uint16_t aClass, uint16_t aMethod, std::function<TBytes(const TWrittenFrame&)> aReply);

    // Connect, Start (PLAIN AMQPLAIN), Tune (2047, 131072, aHeartBeat), OpenOk; waits for OnAMQPConnect.
    void Handshake(uint16_t aHeartBeat = 0);
    // OpenChannel and its OpenOk; returns the channel number.
    uint16_t OpenChannel(const std::string& aName);

    TEventLog Log;

private:
    void OnWrite(const TBytes& aBytes);
    void Feed();
    std::vector<size_t> Cut(size_t aSize);

    TSplit FSplit;
    std::shared_ptr<TkezAMQP_Client> FEngine;
    std::weak_ptr<TkezAMQP_Client> FFedEngine;
    std::mt19937 FRandom{12345};

    mutable std::mutex FWriteLock;
    std::condition_variable FWritten;
    std::vector<TBytes> FBlocks;
    TBytes FStream;
    bool FStarted = false;
    size_t FParsed = 0;
    std::deque<TWrittenFrame> FFrames;
    std::vector<std::tuple<uint16_t, uint16_t, std::function<TBytes(const TWrittenFrame&)>>> FRules;

    std::mutex FFeedLock;
    std::condition_variable FFeedChanged;
    std::deque<TBytes> FToSend;
    uint64_t FQueued = 0;
    uint64_t FFed = 0;
    bool FStop = false;
    std::thread FFeeder;
};

// A frame as the broker writes it.
TBytes Frame(uint8_t aType, uint16_t aChannel, const Wire& aPayload);
TBytes MethodFrame(uint16_t aChannel, uint16_t aClass, uint16_t aMethod, const Wire& aArguments = {});
TBytes ContentHeaderFrame(uint16_t aChannel, uint64_t aBodySize, const Wire& aProperties = Wire{0, 0});
TBytes BodyFrame(uint16_t aChannel, const std::string& aOctets);
TBytes Join(std::initializer_list<TBytes> aParts);

} // namespace kez::test
