#include "WireBuilder.h"
#include "kezAMQP_Classes.h"
#include "kezAMQP_Const.h"

#include <gtest/gtest.h>

#include <random>

using namespace kez;
using kez::test::Wire;

namespace {

int32_t ExpectCode(const std::function<void()>& aAction) {
    try {
        aAction();
    } catch (const TkezAMQPException& e) {
        return e.Code();
    }
    ADD_FAILURE() << "no TkezAMQPException";
    return 0;
}

const Wire HeartBeat{8, 0, 0, 0, 0, 0, 0, 206};

TEST(FrameRead, HeartBeat) {
    TkezAMQPFrame frame;
    EXPECT_EQ(frame.Read(HeartBeat.Bytes(), 0), 8);
    EXPECT_EQ(frame.Header().Type(), amqpFrameHeartBeat);
    EXPECT_EQ(frame.Header().Channel(), 0);
    EXPECT_EQ(frame.Header().Size(), 0);
}

struct CheckCase {
    const char* Name;
    Wire Bytes;
    int32_t MaxSize;
    int32_t Code;
};
void PrintTo(const CheckCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class FrameChecks : public testing::TestWithParam<CheckCase> {};

TEST_P(FrameChecks, RaiseTheirCodes) {
    TkezAMQPFrame frame;
    frame.SetMaxSize(GetParam().MaxSize);
    try {
        frame.Read(GetParam().Bytes.Bytes(), 0);
        FAIL() << "no exception";
    } catch (const TkezAMQPException& e) {
        EXPECT_EQ(e.Code(), GetParam().Code);
        EXPECT_EQ(e.what(), GetAMQPReplyText(GetParam().Code));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameChecks,
    testing::Values(CheckCase{"TypeFour", Wire{4, 0, 1, 0, 0, 0, 0, 206}, INT32_MAX, -1},
                    CheckCase{"TypeFive", Wire{5, 0, 1, 0, 0, 0, 0, 206}, INT32_MAX, -1},
                    CheckCase{"HeartBeatOnChannelOne", Wire{8, 0, 1, 0, 0, 0, 0, 206}, INT32_MAX, 501},
                    CheckCase{"HeaderOnChannelZero", Wire::Frame(2, 0, Wire{1}), INT32_MAX, 504},
                    CheckCase{"BodyOnChannelZero", Wire::Frame(3, 0, Wire{1}), INT32_MAX, 504},
                    CheckCase{"BadFrameEnd", Wire{8, 0, 0, 0, 0, 0, 0, 0}, INT32_MAX, 501},
                    CheckCase{"SizeAboveMaxSize", Wire::Frame(3, 1, Wire().Raw(std::string(4097, 'x'))), 4096,
                              501},
                    // Refused from the header alone: nothing waits for two gigabytes to arrive.
                    CheckCase{"HugeSizeHeaderOnly", Wire{3, 0, 1, 0x7F, 0xFF, 0xFF, 0xFF}, 131072, 501},
                    CheckCase{"TopBitSize", Wire{1, 0, 1, 0x80, 0, 0, 0, 206}, INT32_MAX, 501},
                    // The type is checked before the channel, the channel before the size.
                    CheckCase{"CheckOrder", Wire{2, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}, 10, 504}),
    [](const testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.Name); });

TEST(FrameRead, IncompleteFramesReturnZero) {
    const Wire method = Wire::Frame(1, 1, Wire::Method(20, 11, Wire().Long(0).Raw("xxxx"))); // size 12
    ASSERT_EQ(method.Size(), 20u);
    TkezAMQPFrame frame;
    const TBytes& all = method.Bytes();
    for (size_t available : {0u, 3u, 7u, 8u, 15u, 19u}) {
        EXPECT_EQ(frame.Read(TBytesView(all).first(available), 0), 0) << available;
    }
    EXPECT_EQ(frame.Read(all, 0), 20);
    EXPECT_EQ(frame.Payload().Payload().size(), 12u);

    TkezAMQPFrame limited;
    limited.SetMaxSize(4096);
    const Wire atLimit = Wire::Frame(3, 1, Wire().Raw(std::string(4096, 'x')));
    EXPECT_EQ(limited.Read(atLimit.Bytes(), 0), 4096 + 8);
}

TEST(FrameRead, FramesBackToBack) {
    const Wire block = Wire().Raw(Wire::Frame(1, 1, Wire::Method(20, 10, Wire{0}))).Raw(HeartBeat);
    TkezAMQPFrame first;
    const int32_t n = first.Read(block.Bytes(), 0);
    EXPECT_EQ(n, 13);
    TkezAMQPFrame second;
    EXPECT_EQ(second.Read(block.Bytes(), n), 8);
    EXPECT_EQ(second.Header().Type(), amqpFrameHeartBeat);
    EXPECT_EQ(ExpectCode([&] { second.Read(block.Bytes(), -1); }), 501);
}

// Cuts a stream the way the engine does: pending octets plus each new block, frames read while they complete.
std::vector<TBytes> CutFrames(const TBytes& aStream, const std::vector<size_t>& aBlockSizes) {
    std::vector<TBytes> payloads;
    TBytes pending;
    size_t at = 0;
    for (size_t size : aBlockSizes) {
        pending.insert(pending.end(), aStream.begin() + at, aStream.begin() + at + size);
        at += size;
        int32_t offset = 0;
        for (;;) {
            TkezAMQPFrame frame;
            const int32_t n = frame.Read(pending, offset);
            if (n == 0) break;
            payloads.push_back(frame.Payload().Payload());
            offset += n;
        }
        pending.erase(pending.begin(), pending.begin() + offset);
    }
    EXPECT_TRUE(pending.empty());
    return payloads;
}

TEST(FrameRead, AnySplitOfAStreamYieldsTheSameFrames) {
    const Wire deliver =
        Wire::Method(60, 60, Wire().ShortStr("ctag").LongLong(1).Octet(0).ShortStr("").ShortStr("q"));
    const Wire stream =
        Wire()
            .Raw(Wire::Frame(1, 1, deliver))
            .Raw(Wire::Frame(2, 1, Wire().Short(60).Short(0).LongLong(3).Short(0)))
            .Raw(Wire::Frame(3, 1, Wire().Raw("abc")))
            .Raw(HeartBeat)
            .Raw(Wire::Frame(1, 0, Wire::Method(10, 30, Wire().Short(0).Long(131072).Short(60))));
    const std::vector<TBytes> whole = CutFrames(stream, {stream.Size()});
    ASSERT_EQ(whole.size(), 5u);
    EXPECT_EQ(whole[2], (TBytes{'a', 'b', 'c'}));

    std::vector<std::vector<size_t>> splits;
    splits.push_back(std::vector<size_t>(stream.Size(), 1));
    for (size_t cut = 1; cut < stream.Size(); ++cut)
        splits.push_back({cut, stream.Size() - cut});
    std::mt19937 random(7);
    for (int i = 0; i < 50; ++i) {
        std::vector<size_t> sizes;
        for (size_t left = stream.Size(); left > 0;) {
            const size_t size = std::min<size_t>(left, 1 + random() % 16);
            sizes.push_back(size);
            left -= size;
        }
        splits.push_back(sizes);
    }
    for (const auto& sizes : splits)
        EXPECT_EQ(CutFrames(stream, sizes), whole);
}

TEST(FrameParse, TuneFiresOnReadFrameOnceWithItsArguments) {
    const Wire tune = Wire::Frame(1, 0, Wire::Method(10, 30, Wire().Short(2047).Long(131072).Short(60)));
    TkezAMQPFrame frame;
    int fired = 0;
    frame.OnReadFrame = [&](TObject* aSender) {
        ++fired;
        EXPECT_EQ(aSender, &frame);
    };
    ASSERT_EQ(frame.Read(tune.Bytes(), 0), static_cast<int32_t>(tune.Size()));
    frame.DoReadPayload();
    EXPECT_EQ(fired, 1);
    auto& method = frame.Payload_Method();
    EXPECT_EQ(method.ClassId(), amqpClassConnection);
    EXPECT_EQ(method.MethodId(), amqpConnTune);
    auto* args = method.PayloadAs<TkezAMQPFramePayload_Method_ConnectionTune>();
    ASSERT_NE(args, nullptr);
    EXPECT_EQ(args->ChannelMax(), 2047);
    EXPECT_EQ(args->FrameMax(), 131072u);
    EXPECT_EQ(args->HeartBeat(), 60);
}

TEST(FrameParse, HeartBeatAndUnknownMethodsReachOnReadFrameWithoutArguments) {
    int fired = 0;
    TkezAMQPFrame heartBeat;
    heartBeat.OnReadFrame = [&](TObject*) { ++fired; };
    heartBeat.Read(HeartBeat.Bytes(), 0);
    heartBeat.DoReadPayload();
    EXPECT_EQ(fired, 1);

    // Basic.Ack sent by a broker has no argument class here.
    const Wire ack = Wire::Frame(1, 1, Wire::Method(60, 80, Wire().LongLong(5).Octet(0)));
    TkezAMQPFrame frame;
    frame.OnReadFrame = [&](TObject*) { ++fired; };
    frame.Read(ack.Bytes(), 0);
    frame.DoReadPayload();
    EXPECT_EQ(fired, 2);
    EXPECT_EQ(frame.Payload_Method().MethodId(), amqpBasicAck);
    EXPECT_EQ(frame.Payload_Method().Payload(), nullptr);

    const Wire unknownClass = Wire::Frame(1, 1, Wire::Method(85, 10));
    TkezAMQPFrame other;
    other.Read(unknownClass.Bytes(), 0);
    other.DoReadPayload();
    EXPECT_EQ(other.Payload_Method().ClassId(), amqpClassNone);
    EXPECT_EQ(other.Payload_Method().Payload(), nullptr);
}

TEST(FrameParse, TruncatedMethodPayloadsAreFrameErrors) {
    for (const Wire& payload : {Wire{0, 20}, Wire::Method(60, 60, Wire().ShortStr("ctag").Long(1)),
                                Wire::Method(10, 10, Wire{0, 9}.Long(50))}) {
        TkezAMQPFrame frame;
        const Wire bytes = Wire::Frame(1, 1, payload);
        ASSERT_GT(frame.Read(bytes.Bytes(), 0), 0);
        EXPECT_EQ(ExpectCode([&] { frame.DoReadPayload(); }), 501);
    }
}

TEST(FrameParse, BodyFrameHandsItsOctetsToTheBody) {
    const Wire body = Wire::Frame(3, 5, Wire().Raw("hello"));
    TkezAMQPFrame frame;
    frame.Read(body.Bytes(), 0);
    frame.DoReadPayload();
    auto& content = frame.Payload_ContentBody();
    EXPECT_EQ(content.DataSize(), 5);
    EXPECT_EQ(content.Data().Position(), 0);
    EXPECT_EQ(content.AsString(), "hello");
}

TEST(FrameWrite, ChannelOpenAndHeartBeat) {
    TkezAMQPFrame open;
    open.Header().SetType(amqpFrameMethod);
    open.Header().SetChannel(1);
    open.Payload_Method().SetPayload(std::make_unique<TkezAMQPFramePayload_Method_ChannelOpen>());
    EXPECT_EQ(open.Write(), (TBytes{1, 0, 1, 0, 0, 0, 5, 0, 20, 0, 10, 0, 206}));

    TkezAMQPFrame heartBeat;
    heartBeat.Header().SetType(amqpFrameHeartBeat);
    heartBeat.Header().SetSize(1234);
    EXPECT_EQ(heartBeat.Write(), HeartBeat.Bytes());
}

TEST(FrameWrite, AFailedWriteLeavesTheOutputUnchanged) {
    TkezAMQPFrame frame;
    frame.Header().SetType(amqpFrameMethod);
    auto declare = std::make_unique<TkezAMQPFramePayload_Method_QueueDeclare>();
    declare->SetQueue(std::string(300, 'q'));
    frame.Payload_Method().SetPayload(std::move(declare));
    TBytes out{1, 2, 3};
    EXPECT_EQ(ExpectCode([&] { frame.WriteTo(out); }), -1);
    EXPECT_EQ(out, (TBytes{1, 2, 3}));
}

TEST(FrameWrite, WrittenFramesReadBack) {
    TkezAMQPFrame frame;
    frame.Header().SetType(amqpFrameHeader);
    frame.Header().SetChannel(9);
    frame.Payload_ContentHeader().SetBodySize(42);
    frame.Payload_ContentHeader().Header().SetMessageId("m-1");
    const TBytes bytes = frame.Write();

    TkezAMQPFrame read;
    ASSERT_EQ(read.Read(bytes, 0), static_cast<int32_t>(bytes.size()));
    read.DoReadPayload();
    EXPECT_EQ(read.Header().Channel(), 9);
    EXPECT_EQ(read.Payload_ContentHeader().BodySize(), 42u);
    EXPECT_EQ(read.Payload_ContentHeader().Header().MessageId(), "m-1");
}

} // namespace
