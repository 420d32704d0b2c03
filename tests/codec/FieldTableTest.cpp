#include "WireBuilder.h"
#include "kezAMQP_Helpers.h"
#include "kezBase_FormatSettings.h"

#include <gtest/gtest.h>

using namespace kez;
using kez::test::Wire;

namespace {

// Restores the decimal separator a test changed.
class DecimalSeparatorScope {
public:
    explicit DecimalSeparatorScope(char aSeparator) : FSaved(DecimalSeparator()) {
        SetDecimalSeparator(aSeparator);
    }
    ~DecimalSeparatorScope() { SetDecimalSeparator(FSaved); }

private:
    char FSaved;
};

std::string ValueText(const Wire& aValue) {
    int32_t pos = 0;
    std::string text = ReadFieldValue(aValue.Bytes(), pos);
    EXPECT_EQ(static_cast<size_t>(pos), aValue.Size()) << "value not consumed exactly";
    return text;
}

struct ValueCase {
    const char* Name;
    Wire Value;
    const char* Text;
};
void PrintTo(const ValueCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class FieldValues : public testing::TestWithParam<ValueCase> {};

TEST_P(FieldValues, RenderAsText) {
    DecimalSeparatorScope point('.');
    EXPECT_EQ(ValueText(GetParam().Value), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTag, FieldValues,
    testing::Values(
        ValueCase{"BooleanTrue", Wire{'t', 1}, "true"}, ValueCase{"BooleanTwo", Wire{'t', 2}, "false"},
        ValueCase{"SignedOctet", Wire{'b', 0xFE}, "-2"}, ValueCase{"UnsignedOctet", Wire{'B', 0xFE}, "254"},
        ValueCase{"SignedShortU", Wire{'U', 0xFF, 0xFE}, "-2"},
        ValueCase{"SignedShortS", Wire{'s', 0x80, 0x00}, "-32768"},
        ValueCase{"UnsignedShort", Wire{'u', 0xFF, 0xFE}, "65534"},
        ValueCase{"SignedLong", Wire().Octet('I').Long(0xFFFFFFFF), "-1"},
        ValueCase{"UnsignedLong", Wire().Octet('i').Long(0xFFFFFFFF), "4294967295"},
        ValueCase{"LongLongL", Wire().Octet('L').LongLong(0x8000000000000000ULL), "-9223372036854775808"},
        ValueCase{"LongLongl", Wire().Octet('l').LongLong(1ULL << 40), "1099511627776"},
        ValueCase{"Timestamp", Wire().Octet('T').LongLong(1700000000), "1700000000"},
        ValueCase{"Float", Wire().Octet('f').Float(1.5f), "1.5"},
        ValueCase{"Double", Wire().Octet('d').Double(1.26), "1.3"},
        ValueCase{"DecimalScaled", Wire().Octet('D').Octet(2).Long(1234), "12.3"},
        ValueCase{"DecimalUnscaled", Wire().Octet('D').Octet(0).Long(7), "7"},
        ValueCase{"LongString", Wire().Octet('S').LongStr("h\xC3\xA9llo"), "h\xC3\xA9llo"},
        ValueCase{"Void", Wire{'V'}, ""},
        ValueCase{"ByteArray", Wire().Octet('x').LongStr(std::string("\x00\x7F\xAB", 3)), "007fab"},
        ValueCase{"EmptyTable", Wire().Octet('F').Long(0), "{}"},
        ValueCase{"EmptyArray", Wire().Octet('A').Long(0), "[]"},
        ValueCase{
            "Array",
            Wire().Octet('A').Table(Wire().Octet('I').Long(5).Octet('S').LongStr("x").Octet('t').Octet(0)),
            "[5, \"x\", false]"}),
    [](const testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.Name); });

TEST(FieldValues, FloatsFollowTheLocaleSeparatorButDecimalsDoNot) {
    const Wire half = Wire().Octet('f').Float(1.5f);
    const Wire decimal = Wire().Octet('D').Octet(1).Long(15);
    {
        DecimalSeparatorScope point('.');
        EXPECT_EQ(ValueText(half), "1.5");
        EXPECT_EQ(ValueText(decimal), "1.5");
    }
    {
        DecimalSeparatorScope comma(',');
        EXPECT_EQ(ValueText(half), "1,5");
        EXPECT_EQ(ValueText(decimal), "1.5");
    }
}

TEST(FieldValues, FormatRoundsDecimalDigitsHalfAwayFromZero) {
    const std::pair<double, const char*> cases[] = {{2.0, "2"},
                                                    {1.26, "1.3"},
                                                    {0.04, "0"},
                                                    {0.05, "0.1"},
                                                    {0.25, "0.3"},
                                                    {0.35, "0.4"},
                                                    {-1.25, "-1.3"},
                                                    {-0.04, "0"},
                                                    {9.96, "10"},
                                                    {99.95, "100"},
                                                    {0.0, "0"},
                                                    {123456.75, "123456.8"},
                                                    {1e20, "100000000000000000000"},
                                                    {-7.0, "-7"},
                                                    {1e-300, "0"}};
    for (auto [value, text] : cases)
        EXPECT_EQ(FormatFloatOneDecimal(value, '.'), text) << value;
    EXPECT_EQ(FormatFloatOneDecimal(std::numeric_limits<double>::infinity(), '.'), "INF");
    EXPECT_EQ(FormatFloatOneDecimal(std::numeric_limits<double>::quiet_NaN(), '.'), "NAN");
}

TEST(FieldValues, UnknownTagIsAFrameErrorInsteadOfReadingOutOfStep) {
    for (int tag : {int('Z'), int('c'), 0, 0xFF}) {
        int32_t pos = 0;
        const TBytes bytes{static_cast<uint8_t>(tag), 1, 2, 3};
        try {
            ReadFieldValue(bytes, pos);
            FAIL() << tag;
        } catch (const TkezAMQPException& e) {
            EXPECT_EQ(e.Code(), 501);
        }
    }
}

TEST(FieldTables, TableTextQuotesTextAndLeavesNumbersBooleansAndNestedTablesBare) {
    DecimalSeparatorScope point('.');
    const Wire table = Wire().Table(Wire()
                                        .ShortStr("s")
                                        .Octet('S')
                                        .LongStr("text")
                                        .ShortStr("n")
                                        .Octet('I')
                                        .Long(42)
                                        .ShortStr("b")
                                        .Octet('t')
                                        .Octet(1)
                                        .ShortStr("e")
                                        .Octet('F')
                                        .Long(0)
                                        .ShortStr("digits")
                                        .Octet('S')
                                        .LongStr("12.5"));
    int32_t pos = 0;
    EXPECT_EQ(ReadFieldTableText(table.Bytes(), pos),
              "{\"s\": \"text\", \"n\": 42, \"b\": true, \"e\": {}, \"digits\": 12.5}");
    EXPECT_EQ(static_cast<size_t>(pos), table.Size());
}

TEST(FieldTables, ReadIntoListAppendsLinesInWireOrder) {
    const Wire table = Wire().Table(Wire()
                                        .ShortStr("void")
                                        .Octet('V')
                                        .ShortStr("nested")
                                        .Octet('F')
                                        .Table(Wire().ShortStr("flag").Octet('t').Octet(1))
                                        .ShortStr("name")
                                        .Octet('S')
                                        .LongStr("a=b"));
    TkezStringList list;
    list.Add("kept=1");
    int32_t pos = 0;
    ReadFieldTable(table.Bytes(), pos, list);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[0], "kept=1");
    EXPECT_EQ(list[1], "void=");
    EXPECT_EQ(list[2], "nested={\"flag\": true}");
    EXPECT_EQ(list[3], "name=a=b");
    EXPECT_EQ(list.Values("name"), "a=b");
}

TEST(FieldTables, NestedBlockCannotReachPastItsParent) {
    // The inner table claims 100 octets, more than the outer table holds, though the array has them.
    const Wire table = Wire().Table(Wire().ShortStr("t").Octet('F').Long(100)).Raw(std::string(200, '\0'));
    TkezStringList list;
    int32_t pos = 0;
    EXPECT_THROW(ReadFieldTable(table.Bytes(), pos, list), TkezAMQPException);
}

// aDepth tables, each the only entry ("n", tag F) of the one around it; built front to back in linear time.
// Every level but the innermost is 7 octets: its length, the short string "n" and the tag.
Wire NestedTables(int aDepth) {
    Wire w;
    for (int level = 0; level < aDepth - 1; ++level)
        w.Long(static_cast<uint32_t>(7 * (aDepth - 1 - level))).ShortStr("n").Octet('F');
    return w.Long(0);
}

TEST(FieldTables, NestingIsBoundedAt64Levels) {
    int32_t pos = 0;
    EXPECT_NO_THROW(ReadFieldTableText(NestedTables(AMQPMaxTableDepth).Bytes(), pos));
    pos = 0;
    try {
        ReadFieldTableText(NestedTables(AMQPMaxTableDepth + 1).Bytes(), pos);
        FAIL() << "no exception";
    } catch (const TkezAMQPException& e) {
        EXPECT_EQ(e.Code(), 501);
    }
    // Deep enough to exhaust the stack without the bound.
    pos = 0;
    EXPECT_THROW(ReadFieldTableText(NestedTables(100000).Bytes(), pos), TkezAMQPException);
}

TEST(FieldTables, WriteFromListMakesEveryValueALongString) {
    TkezStringList list;
    list.Add("product=Lumbrix");
    list.Add("count=12");
    list.Add("bare");
    TBytes out;
    WriteFieldTable(list, out);
    EXPECT_EQ(out, Wire()
                       .Table(Wire()
                                  .ShortStr("product")
                                  .Octet('S')
                                  .LongStr("Lumbrix")
                                  .ShortStr("count")
                                  .Octet('S')
                                  .LongStr("12")
                                  .ShortStr("bare")
                                  .Octet('S')
                                  .LongStr(""))
                       .Bytes());
    out.clear();
    WriteFieldTable(TkezStringList(), out);
    EXPECT_EQ(out, (TBytes{0, 0, 0, 0}));
}

struct JsonCase {
    const char* Name;
    const char* Json;
    Wire Entries;
};
void PrintTo(const JsonCase& aCase, std::ostream* aOut) { *aOut << aCase.Name; }

class JsonTables : public testing::TestWithParam<JsonCase> {};

TEST_P(JsonTables, WriteEntriesTypedByTheirJsonValue) {
    TBytes out;
    WriteFieldTableJSON(GetParam().Json, out);
    EXPECT_EQ(out, Wire().Table(GetParam().Entries).Bytes());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonTables,
    testing::Values(
        JsonCase{"Empty", "", Wire()}, JsonCase{"NotAnObject", "[1, 2]", Wire()},
        JsonCase{"Blank", "  {  } ", Wire()},
        JsonCase{"Number", "{\"x-message-ttl\": 60000}",
                 Wire().ShortStr("x-message-ttl").Octet('I').Long(60000)},
        JsonCase{"NegativeInt", "{\"n\":-5}", Wire().ShortStr("n").Octet('I').Long(0xFFFFFFFB)},
        JsonCase{"Int64", "{\"n\":4294967296}", Wire().ShortStr("n").Octet('l').LongLong(4294967296ULL)},
        JsonCase{"BeyondInt64", "{\"n\":18446744073709551616}",
                 Wire().ShortStr("n").Octet('d').Double(18446744073709551616.0)},
        JsonCase{"Fraction", "{\"f\":1.5}", Wire().ShortStr("f").Octet('d').Double(1.5)},
        JsonCase{"Exponent", "{\"e\":1e3}", Wire().ShortStr("e").Octet('d').Double(1000.0)},
        JsonCase{"String", "{\"s\":\"v\"}", Wire().ShortStr("s").Octet('S').LongStr("v")},
        JsonCase{"Escapes", R"({"s":"a\"b\\c\/d\n\t"})",
                 Wire().ShortStr("s").Octet('S').LongStr("a\"b\\c/d\n\t")},
        JsonCase{"Unicode", R"({"\u00e9":"\u20ac\ud83d\udc07"})",
                 Wire().ShortStr("\xC3\xA9").Octet('S').LongStr("\xE2\x82\xAC\xF0\x9F\x90\x87")},
        JsonCase{"LoneSurrogate", R"({"s":"\ud800x"})",
                 Wire().ShortStr("s").Octet('S').LongStr("\xEF\xBF\xBDx")},
        JsonCase{"RawUtf8", "{\"k\":\"\xC3\xA9\"}", Wire().ShortStr("k").Octet('S').LongStr("\xC3\xA9")},
        JsonCase{
            "Literals", "{\"a\":true,\"b\":FALSE,\"c\":Null}",
            Wire().ShortStr("a").Octet('t').Octet(1).ShortStr("b").Octet('t').Octet(0).ShortStr("c").Octet(
                'V')},
        JsonCase{"Nested", "{\"t\":{\"x-match\":\"all\",\"n\":1}}",
                 Wire().ShortStr("t").Octet('F').Table(
                     Wire().ShortStr("x-match").Octet('S').LongStr("all").ShortStr("n").Octet('I').Long(1))},
        JsonCase{"Array", "{\"a\":[1,\"x\",[]]}",
                 Wire().ShortStr("a").Octet('A').Table(
                     Wire().Octet('I').Long(1).Octet('S').LongStr("x").Octet('A').Long(0))},
        JsonCase{"SyntaxErrorKeepsEarlierMembers", "{\"a\":1,\"b\":}",
                 Wire().ShortStr("a").Octet('I').Long(1)},
        JsonCase{"TrailingComma", "{\"a\":1,}", Wire().ShortStr("a").Octet('I').Long(1)},
        JsonCase{"ErrorInsideNestedDropsTheMember", "{\"a\":1,\"b\":{\"c\":2,\"d\":x}}",
                 Wire().ShortStr("a").Octet('I').Long(1)},
        JsonCase{"UnterminatedString", "{\"a\":\"abc", Wire()},
        JsonCase{"BadNumber", "{\"a\":1.,\"b\":2}", Wire()},
        JsonCase{"TrailingGarbageIgnored", "{\"a\":1} tail", Wire().ShortStr("a").Octet('I').Long(1)}),
    [](const testing::TestParamInfo<JsonCase>& info) { return std::string(info.param.Name); });

TEST(JsonTables, NestingBeyond64LevelsEndsTheTable) {
    auto nested = [](int aLevels) {
        std::string json = "{\"ok\":1,\"deep\":";
        for (int i = 1; i < aLevels; ++i)
            json += "[";
        for (int i = 1; i < aLevels; ++i)
            json += "]";
        return json + "}";
    };
    TBytes out;
    WriteFieldTableJSON(nested(AMQPMaxTableDepth), out);
    int32_t pos = 0;
    EXPECT_NE(ReadFieldTableText(out, pos).find("deep"), std::string::npos);

    out.clear();
    WriteFieldTableJSON(nested(AMQPMaxTableDepth + 1), out);
    EXPECT_EQ(out, Wire().Table(Wire().ShortStr("ok").Octet('I').Long(1)).Bytes());

    out.clear();
    EXPECT_NO_THROW(WriteFieldTableJSON(std::string(200000, '[') + "{", out));
}

TEST(JsonTables, MemberNameLongerThan255OctetsIsRefused) {
    TBytes out{7};
    const std::string json = "{\"" + std::string(256, 'k') + "\":1}";
    EXPECT_THROW(WriteFieldTableJSON(json, out), TkezAMQPException);
    EXPECT_EQ(out, TBytes{7});
}

TEST(JsonTables, WrittenTableReadsBackAsTableText) {
    DecimalSeparatorScope point('.');
    TBytes out;
    WriteFieldTableJSON(R"({"s":"x","i":-3,"d":2.5,"b":false,"n":null,"t":{"k":[1,true]}})", out);
    int32_t pos = 0;
    EXPECT_EQ(ReadFieldTableText(out, pos),
              "{\"s\": \"x\", \"i\": -3, \"d\": 2.5, \"b\": false, \"n\": \"\", \"t\": {\"k\": [1, true]}}");
}

} // namespace
