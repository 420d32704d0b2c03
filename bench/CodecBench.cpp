// Codec throughput: receiving (frames cut, checked and parsed as the engine's read loop and channel worker
// do) and sending (frames built into one block as the engine's publish does). Run with scripts/bench.
#include "kezAMQP_Classes.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

using namespace kez;

namespace {

constexpr int32_t FrameMax = 131072;

void AppendFrame(TBytes& aOut, TkezAMQPFrameType aType, uint16_t aChannel,
                 const std::function<void(TkezAMQPFrame&)>& aFill) {
    TkezAMQPFrame frame;
    frame.Header().SetType(aType);
    frame.Header().SetChannel(aChannel);
    aFill(frame);
    frame.WriteTo(aOut);
}

// A received method frame written as a broker would: ids, then arguments.
TBytes MethodFrame(uint16_t aChannel, uint16_t aClass, uint16_t aMethod, const TBytes& aArguments) {
    TBytes payload;
    WriteShort(aClass, payload);
    WriteShort(aMethod, payload);
    payload.insert(payload.end(), aArguments.begin(), aArguments.end());
    TBytes frame{1};
    WriteShort(aChannel, frame);
    WriteLong(static_cast<uint32_t>(payload.size()), frame);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(AMQPFrameEnd);
    return frame;
}

TBytes DeliverArguments(uint64_t aTag) {
    TBytes args;
    WriteShortString("amq.ctag-Lm2x7QbJ1kV3", args);
    WriteLongLong(aTag, args);
    WriteOctet(0, args);
    WriteShortString("amq.direct", args);
    WriteShortString("orders.created", args);
    return args;
}

// Cuts every frame out of aBlock and parses it: what one received block costs the engine.
template <typename OnFrame>
size_t ReadBlock(const TBytes& aBlock, OnFrame&& aOnFrame) {
    size_t frames = 0;
    int32_t offset = 0;
    while (aBlock.size() - static_cast<size_t>(offset) >= AMQPFrameOverhead) {
        auto frame = std::make_unique<TkezAMQPFrame>();
        frame->SetMaxSize(FrameMax);
        const int32_t n = frame->Read(aBlock, offset);
        if (n == 0) break;
        offset += n;
        frame->DoReadPayload();
        aOnFrame(*frame);
        ++frames;
    }
    return frames;
}

void BM_ReadSmallMethodFrames(benchmark::State& aState) {
    // A mix of the small replies a busy client sees most: deliveries' method frames, consume and declare oks.
    TBytes block;
    for (int i = 0; i < 1000; ++i) {
        TBytes frame;
        switch (i % 4) {
        case 0:
        case 1: frame = MethodFrame(1, 60, 60, DeliverArguments(static_cast<uint64_t>(i))); break;
        case 2: {
            TBytes args;
            WriteShortString("amq.ctag-Lm2x7QbJ1kV3", args);
            frame = MethodFrame(1, 60, 21, args);
            break;
        }
        default: {
            TBytes args;
            WriteShortString("orders", args);
            WriteLong(12, args);
            WriteLong(1, args);
            frame = MethodFrame(1, 50, 11, args);
        }
        }
        block.insert(block.end(), frame.begin(), frame.end());
    }
    size_t frames = 0;
    for (auto _ : aState) {
        frames += ReadBlock(block, [](TkezAMQPFrame& aFrame) {
            benchmark::DoNotOptimize(aFrame.Payload_Method().Payload());
        });
    }
    aState.SetItemsProcessed(static_cast<int64_t>(frames));
}
BENCHMARK(BM_ReadSmallMethodFrames);

void BM_ReadDeliverHeaderBody16(benchmark::State& aState) {
    // Basic.Deliver, content header, one 16-byte body: read, parsed and assembled into the channel's message.
    TBytes block;
    for (int i = 0; i < 300; ++i) {
        const TBytes deliver = MethodFrame(1, 60, 60, DeliverArguments(static_cast<uint64_t>(i)));
        block.insert(block.end(), deliver.begin(), deliver.end());
        AppendFrame(block, amqpFrameHeader, 1,
                    [](TkezAMQPFrame& f) { f.Payload_ContentHeader().SetBodySize(16); });
        TMemoryStream body(TBytes(16, 'x'));
        AppendFrame(block, amqpFrameBody, 1, [&](TkezAMQPFrame& f) {
            f.Payload_ContentBody().SetData(&body);
            f.Payload_ContentBody().SetDataSize(16);
        });
    }
    TkezAMQPMessageContent message;
    size_t messages = 0;
    for (auto _ : aState) {
        ReadBlock(block, [&](TkezAMQPFrame& aFrame) {
            switch (aFrame.Header().Type()) {
            case amqpFrameMethod:
                message.Clear();
                message.SetPayload(aFrame.Payload_Method().PayloadAs<TkezAMQPFramePayload_Method_Basic>());
                break;
            case amqpFrameHeader: message.SetHeader(&aFrame.Payload_ContentHeader()); break;
            case amqpFrameBody:
                message.SetBody(&aFrame.Payload_ContentBody());
                if (static_cast<uint64_t>(message.Body().DataSize()) == message.Header().BodySize())
                    ++messages;
                break;
            default: break;
            }
        });
    }
    aState.SetItemsProcessed(static_cast<int64_t>(messages));
}
BENCHMARK(BM_ReadDeliverHeaderBody16);

constexpr size_t BodyFrameSize = 128 * 1024;

TBytes BodyFramesBlock(int aCount) {
    TBytes payload(BodyFrameSize);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i);
    TMemoryStream stream(payload);
    TBytes block;
    for (int i = 0; i < aCount; ++i) {
        stream.SetPosition(0);
        AppendFrame(block, amqpFrameBody, 1, [&](TkezAMQPFrame& f) {
            f.Payload_ContentBody().SetData(&stream);
            f.Payload_ContentBody().SetDataSize(static_cast<int64_t>(BodyFrameSize));
        });
    }
    return block;
}

void BM_ReadBodyFrames128KiB(benchmark::State& aState) {
    const TBytes block = BodyFramesBlock(8);
    int64_t bytes = 0;
    for (auto _ : aState) {
        ReadBlock(block, [&](TkezAMQPFrame& aFrame) {
            bytes += aFrame.Payload_ContentBody().DataSize();
            benchmark::DoNotOptimize(aFrame.Payload_ContentBody().Data());
        });
    }
    aState.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ReadBodyFrames128KiB)->MinTime(1.0);

// The yardstick for the body path: the same payload octets, copied with plain memcpy into a buffer.
void BM_Memcpy128KiB(benchmark::State& aState) {
    const TBytes block = BodyFramesBlock(8);
    TBytes target(BodyFrameSize);
    int64_t bytes = 0;
    for (auto _ : aState) {
        for (size_t offset = 0; offset + BodyFrameSize + 8 <= block.size(); offset += BodyFrameSize + 8) {
            std::memcpy(target.data(), block.data() + offset + 7, BodyFrameSize);
            benchmark::DoNotOptimize(target.data());
            benchmark::ClobberMemory();
            bytes += static_cast<int64_t>(BodyFrameSize);
        }
    }
    aState.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Memcpy128KiB)->MinTime(1.0);

// Basic.Publish, content header and body frames of at most FrameMax octets, built into one block.
void WritePublish(TBytes& aBlock, TMemoryStream& aBody) {
    aBlock.clear();
    AppendFrame(aBlock, amqpFrameMethod, 1, [](TkezAMQPFrame& f) {
        auto publish = std::make_unique<TkezAMQPFramePayload_Method_BasicPublish>();
        publish->SetExchange("amq.direct");
        publish->SetRoutingKey("orders.created");
        f.Payload_Method().SetPayload(std::move(publish));
    });
    const int64_t size = aBody.Size();
    AppendFrame(aBlock, amqpFrameHeader, 1, [&](TkezAMQPFrame& f) {
        f.Payload_ContentHeader().SetBodySize(static_cast<uint64_t>(size));
    });
    for (int64_t offset = 0; offset < size;) {
        const int64_t chunk = std::min<int64_t>(FrameMax - AMQPFrameOverhead, size - offset);
        aBody.SetPosition(offset);
        AppendFrame(aBlock, amqpFrameBody, 1, [&](TkezAMQPFrame& f) {
            f.Payload_ContentBody().SetData(&aBody);
            f.Payload_ContentBody().SetDataSize(chunk);
        });
        offset += chunk;
    }
}

void BM_WritePublish(benchmark::State& aState) {
    TMemoryStream body(TBytes(static_cast<size_t>(aState.range(0)), 'b'));
    TBytes block;
    for (auto _ : aState) {
        WritePublish(block, body);
        benchmark::DoNotOptimize(block.data());
    }
    aState.SetItemsProcessed(static_cast<int64_t>(aState.iterations()));
    aState.SetBytesProcessed(static_cast<int64_t>(aState.iterations()) * aState.range(0));
}
BENCHMARK(BM_WritePublish)->Arg(16)->Arg(1 << 20);

} // namespace

BENCHMARK_MAIN();
