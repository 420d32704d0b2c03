// The engine fed from memory: received messages from Read (64 KiB blocks) to OnAMQPBasicDeliver, published
// messages into a counting OnAMQPWriteBytes, and the CPU an idle engine with 100 channels takes.
#include "kezAMQP_Client.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

using namespace kez;

namespace {

constexpr size_t BlockSize = 64 * 1024;

TBytes MethodFrame(uint16_t aChannel, uint16_t aClass, uint16_t aMethod, const TBytes& aArguments) {
    TBytes frame{1};
    WriteShort(aChannel, frame);
    WriteLong(static_cast<uint32_t>(aArguments.size() + 4), frame);
    WriteShort(aClass, frame);
    WriteShort(aMethod, frame);
    frame.insert(frame.end(), aArguments.begin(), aArguments.end());
    frame.push_back(AMQPFrameEnd);
    return frame;
}

// Deliver, content header and body frames of aBodySize octets (cut at 131072) for aCount messages, spread
// over channels 1..aChannels in turn.
TBytes DeliveryStream(size_t aCount, int aChannels, size_t aBodySize) {
    TBytes stream;
    const TBytes body(aBodySize, 'b');
    for (size_t i = 0; i < aCount; ++i) {
        const auto channel = static_cast<uint16_t>(1 + i % static_cast<size_t>(aChannels));
        TBytes args;
        WriteShortString("amq.ctag-Lm2x7QbJ1kV3", args);
        WriteLongLong(i + 1, args);
        WriteOctet(0, args);
        WriteShortString("amq.direct", args);
        WriteShortString("orders.created", args);
        const TBytes deliver = MethodFrame(channel, 60, 60, args);
        stream.insert(stream.end(), deliver.begin(), deliver.end());

        TkezAMQPFrame header;
        header.Header().SetType(amqpFrameHeader);
        header.Header().SetChannel(channel);
        header.Payload_ContentHeader().SetBodySize(aBodySize);
        header.WriteTo(stream);

        TMemoryStream data(body);
        for (size_t offset = 0; offset < aBodySize; offset += 131072 - 8) {
            TkezAMQPFrame frame;
            frame.Header().SetType(amqpFrameBody);
            frame.Header().SetChannel(channel);
            data.SetPosition(static_cast<int64_t>(offset));
            frame.Payload_ContentBody().SetData(&data);
            frame.Payload_ContentBody().SetDataSize(
                static_cast<int64_t>(std::min<size_t>(131072 - 8, aBodySize - offset)));
            frame.WriteTo(stream);
        }
    }
    return stream;
}

// Counts deliveries and lets the feeding thread wait for all of them.
struct DeliveryCounter {
    std::mutex Lock;
    std::condition_variable Done;
    size_t Count = 0;
    size_t Expected = 0;

    void Add() {
        std::lock_guard guard(Lock);
        if (++Count == Expected) Done.notify_all();
    }
    void Reset(size_t aExpected) {
        std::lock_guard guard(Lock);
        Count = 0;
        Expected = aExpected;
    }
    void Wait() {
        std::unique_lock lock(Lock);
        Done.wait(lock, [&] { return Count >= Expected; });
    }
};

void ReceiveDeliveries(benchmark::State& aState, int aChannels, size_t aBodySize, size_t aMessages) {
    const TBytes stream = DeliveryStream(aMessages, aChannels, aBodySize);
    auto engine = TkezAMQP_Client::Create();
    DeliveryCounter counter;
    std::atomic<int64_t> received{0};
    engine->OnAMQPBasicDeliver = [&](TObject*, const std::string&,
                                     const TkezAMQPFramePayload_Method_BasicDeliver&,
                                     TkezAMQPMessageContent& aContent) {
        received += aContent.Body().Data().Size();
        counter.Add();
    };
    for (auto _ : aState) {
        counter.Reset(aMessages);
        for (size_t at = 0; at < stream.size(); at += BlockSize)
            engine->Read(TBytesView(stream).subspan(at, std::min(BlockSize, stream.size() - at)));
        counter.Wait();
    }
    if (received.load() != static_cast<int64_t>(aState.iterations() * aMessages * aBodySize))
        aState.SkipWithError("the bodies delivered do not add up");
    aState.SetItemsProcessed(static_cast<int64_t>(aState.iterations() * aMessages));
    aState.SetBytesProcessed(received.load());
}

void BM_ReceiveDeliveries16(benchmark::State& aState) {
    ReceiveDeliveries(aState, static_cast<int>(aState.range(0)), 16, 100000);
}
BENCHMARK(BM_ReceiveDeliveries16)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ReceiveDeliveries1MiB(benchmark::State& aState) { ReceiveDeliveries(aState, 1, 1 << 20, 200); }
BENCHMARK(BM_ReceiveDeliveries1MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PublishMessage16(benchmark::State& aState) {
    auto engine = TkezAMQP_Client::Create();
    size_t written = 0;
    engine->OnAMQPWriteBytes = [&](TObject*, const TBytes& aBytes) { written += aBytes.size(); };
    engine->OpenChannel("bench");
    const std::string text(16, 't');
    for (auto _ : aState)
        engine->PublishMessage("bench", "amq.direct", "orders.created", text, false, false);
    benchmark::DoNotOptimize(written);
    aState.SetItemsProcessed(static_cast<int64_t>(aState.iterations()));
}
BENCHMARK(BM_PublishMessage16);

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// An engine with 100 channel workers and nothing to do. The time itself is what is measured here.
void BM_IdleEngine100Channels(benchmark::State& aState) {
    auto engine = TkezAMQP_Client::Create();
    for (uint16_t channel = 1; channel <= 100; ++channel)
        engine->Read(MethodFrame(channel, 20, 11, TBytes{0, 0, 0, 0}));
    double cpu = 0;
    for (auto _ : aState) {
        const double before = ProcessCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        cpu = ProcessCpuSeconds() - before;
    }
    aState.counters["cpu_percent_of_one_core"] = cpu / 10.0 * 100.0;
    aState.counters["workers"] = static_cast<double>(engine->Channels().Count());
}
BENCHMARK(BM_IdleEngine100Channels)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace
