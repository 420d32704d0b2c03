#include "WireBuilder.h"
#include "kezAMQP_Helpers.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kez;
using kez::test::Wire;

namespace {

TEST(Primitives, IntegersAreBigEndianBothWays) {
    TBytes out;
    WriteOctet(0xAB, out);
    WriteShort(0x0102, out);
    WriteLong(0x03040506, out);
    WriteLongLong(0x0708090A0B0C0D0EULL, out);
    EXPECT_EQ(out, (TBytes{0xAB, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));

    int32_t pos = 0;
    EXPECT_EQ(ReadOctet(out, pos), 0xAB);
    EXPECT_EQ(ReadShort(out, pos), 0x0102);
    EXPECT_EQ(ReadLong(out, pos), 0x03040506u);
    EXPECT_EQ(ReadLongLong(out, pos), 0x0708090A0B0C0D0EULL);
    EXPECT_EQ(pos, 15);
}

TEST(Primitives, BooleanOctetIsTrueOnlyForOne) {
    const TBytes bytes{0, 1, 2, 255};
    int32_t pos = 0;
    EXPECT_FALSE(ReadBooleanOctet(bytes, pos));
    EXPECT_TRUE(ReadBooleanOctet(bytes, pos));
    EXPECT_FALSE(ReadBooleanOctet(bytes, pos));
    EXPECT_FALSE(ReadBooleanOctet(bytes, pos));
    TBytes out;
    WriteBooleanOctet(true, out);
    WriteBooleanOctet(false, out);
    EXPECT_EQ(out, (TBytes{1, 0}));
}

TEST(Primitives, EmptyStrings) {
    TBytes out;
    WriteShortString("", out);
    WriteLongString("", out);
    EXPECT_EQ(out, (TBytes{0, 0, 0, 0, 0}));
    int32_t pos = 0;
    EXPECT_EQ(ReadShortString(out, pos), "");
    EXPECT_EQ(pos, 1);
    EXPECT_EQ(ReadLongString(out, pos), "");
    EXPECT_EQ(pos, 5);
}

TEST(Primitives, NonAsciiTextReadsBackUnchangedFromShortAndLongStrings) {
    const std::string eAcute = "\xC3\xA9"; // U+00E9
    const std::string mixed = "gr\xC3\xBC\xC3\x9F"
                              "e \xE2\x82\xAC \xF0\x9F\x90\x87";
    TBytes out;
    WriteShortString(eAcute, out);
    EXPECT_EQ(out, (TBytes{2, 195, 169}));
    WriteLongString(eAcute, out);
    WriteLongString(mixed, out);
    int32_t pos = 0;
    EXPECT_EQ(ReadShortString(out, pos), eAcute);
    EXPECT_EQ(ReadLongString(out, pos), eAcute);
    EXPECT_EQ(ReadLongString(out, pos), mixed);
}

TEST(Primitives, LongStringLengthOfZeroOrBelowIsEmptyAndConsumesTheLength) {
    for (uint32_t length : {0u, 0xFFFFFFFFu, 0x80000000u}) {
        const Wire bytes = Wire().Long(length).Raw("tail");
        int32_t pos = 0;
        EXPECT_EQ(ReadLongString(bytes, pos), "") << length;
        EXPECT_EQ(pos, 4);
        pos = 0;
        EXPECT_TRUE(ReadLongBytes(bytes, pos).empty());
        EXPECT_EQ(pos, 4);
    }
}

TEST(Primitives, ShortStringOfMoreThan255OctetsIsRefusedBeforeAnythingIsWritten) {
    TBytes out{42};
    WriteShortString(std::string(255, 'a'), out);
    EXPECT_EQ(out.size(), 257u);
    out = {42};
    // 128 two-octet characters: 128 characters but 256 octets.
    std::string text;
    for (int i = 0; i < 128; ++i)
        text += "\xC3\xA9";
    try {
        WriteShortString(text, out);
        FAIL() << "no exception";
    } catch (const TkezAMQPException& e) {
        EXPECT_EQ(e.Code(), -1);
        EXPECT_NE(std::string(e.what()).find("255"), std::string::npos) << e.what();
    }
    EXPECT_EQ(out, TBytes{42});
}

TEST(Primitives, LongBlocksRoundTrip) {
    const TBytes block{0, 1, 2, 0xFF};
    TBytes out;
    WriteLongBytes(block, out);
    EXPECT_EQ(out, (TBytes{0, 0, 0, 4, 0, 1, 2, 0xFF}));
    int32_t pos = 0;
    EXPECT_EQ(ReadLongBytes(out, pos), block);
}

TEST(Primitives, SetFlagBitSetsBitsZeroToSevenOnly) {
    TBytes out{0, 0};
    for (int bit : {0, 3, 7, 8, -1})
        SetFlagBit(out, 1, bit);
    SetFlagBit(out, 5, 0); // outside the array: nothing
    EXPECT_EQ(out, (TBytes{0, 0x89}));
}

// Every reader refuses to run past the end of its array, whatever the position or the announced length.
struct TruncatedRead {
    const char* Name;
    Wire Bytes;
    int32_t Position;
    std::function<void(TBytesView, int32_t&)> Read;
};
void PrintTo(const TruncatedRead& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class PrimitivesBounds : public testing::TestWithParam<TruncatedRead> {};

TEST_P(PrimitivesBounds, RaisesFrameError) {
    const TruncatedRead& c = GetParam();
    int32_t pos = c.Position;
    try {
        c.Read(c.Bytes.Bytes(), pos);
        FAIL() << "no exception";
    } catch (const TkezAMQPException& e) {
        EXPECT_EQ(e.Code(), 501);
        EXPECT_STREQ(e.what(), "Frame Error");
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllReaders, PrimitivesBounds,
    testing::Values(
        TruncatedRead{"OctetAtEnd", Wire{1}, 1, [](TBytesView b, int32_t& p) { ReadOctet(b, p); }},
        TruncatedRead{"OctetInEmpty", Wire{}, 0, [](TBytesView b, int32_t& p) { ReadOctet(b, p); }},
        TruncatedRead{"NegativePosition", Wire{1, 2}, -1, [](TBytesView b, int32_t& p) { ReadOctet(b, p); }},
        TruncatedRead{"PositionPastEnd", Wire{1, 2}, 3, [](TBytesView b, int32_t& p) { ReadOctet(b, p); }},
        TruncatedRead{"Short", Wire{1}, 0, [](TBytesView b, int32_t& p) { ReadShort(b, p); }},
        TruncatedRead{"Long", Wire{1, 2, 3}, 0, [](TBytesView b, int32_t& p) { ReadLong(b, p); }},
        TruncatedRead{"LongLong", Wire{1, 2, 3, 4, 5, 6, 7}, 0,
                      [](TBytesView b, int32_t& p) { ReadLongLong(b, p); }},
        TruncatedRead{"ShortStringBody", Wire{5, 'a', 'b'}, 0,
                      [](TBytesView b, int32_t& p) { ReadShortString(b, p); }},
        TruncatedRead{"LongStringBody", Wire().Long(100).Raw("short"), 0,
                      [](TBytesView b, int32_t& p) { ReadLongString(b, p); }},
        TruncatedRead{"LongStringHuge", Wire().Long(0x7FFFFFFF).Raw("x"), 0,
                      [](TBytesView b, int32_t& p) { ReadLongString(b, p); }},
        TruncatedRead{"LongBytesLength", Wire{0, 0, 1}, 0,
                      [](TBytesView b, int32_t& p) { ReadLongBytes(b, p); }},
        TruncatedRead{"FieldTableLength", Wire().Long(10).Raw("abc"), 0,
                      [](TBytesView b, int32_t& p) {
                          TkezStringList list;
                          ReadFieldTable(b, p, list);
                      }}),
    [](const testing::TestParamInfo<TruncatedRead>& info) { return std::string(info.param.Name); });

} // namespace
