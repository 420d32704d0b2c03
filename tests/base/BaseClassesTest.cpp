#include "kezBase_Classes.h"
#include "kezBase_Streams.h"
#include "kezBase_StringList.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace kez;

namespace {

TEST(MemoryStream, ReadWriteSeekAndGapFill) {
    TMemoryStream stream;
    stream.WriteBuffer("hello", 5);
    EXPECT_EQ(stream.Size(), 5);
    EXPECT_EQ(stream.Position(), 5);
    stream.Seek(2, soEnd);
    stream.WriteBuffer("!", 1); // past the end: the gap reads as zeros
    EXPECT_EQ(stream.Bytes(), (TBytes{'h', 'e', 'l', 'l', 'o', 0, 0, '!'}));
    stream.SetPosition(1);
    char buffer[4] = {};
    EXPECT_EQ(stream.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "ell");
    stream.SetPosition(7);
    EXPECT_EQ(stream.Read(buffer, 4), 1);
    EXPECT_THROW(stream.ReadBuffer(buffer, 1), std::runtime_error);
    EXPECT_EQ(stream.Seek(-100, soCurrent), 0);
}

TEST(MemoryStream, AdoptsAndReleasesWithoutCopying) {
    TBytes bytes{1, 2, 3};
    const uint8_t* data = bytes.data();
    TMemoryStream stream(std::move(bytes));
    EXPECT_EQ(stream.Memory(), data);
    EXPECT_EQ(stream.Position(), 0);
    const TBytes released = stream.Release();
    EXPECT_EQ(released.data(), data);
    EXPECT_EQ(stream.Size(), 0);
}

TEST(MemoryStream, CopyFromAppendsFromTheSourcePosition) {
    TMemoryStream source(TBytes{'a', 'b', 'c', 'd'});
    source.SetPosition(1);
    TMemoryStream target;
    target.WriteBuffer("x", 1);
    EXPECT_EQ(target.CopyFrom(source, 3), 3);
    EXPECT_EQ(target.Bytes(), (TBytes{'x', 'b', 'c', 'd'}));
    EXPECT_THROW(target.CopyFrom(source, 1), std::runtime_error);
}

TEST(SegmentedStream, ReadsAcrossBlocksAndJoinsThemForAnInnerWrite) {
    TSegmentedStream stream;
    stream.Append(TBytes{'a', 'b', 'c'});
    stream.Append({});
    stream.Append(TBytes{'d', 'e'});
    EXPECT_EQ(stream.Position(), 0); // appending leaves the position where it was
    stream.Seek(0, soEnd);
    stream.WriteBuffer("fg", 2); // at the end: a block of its own
    EXPECT_EQ(stream.Size(), 7);
    EXPECT_EQ(stream.SegmentCount(), 3u);
    char buffer[8] = {};
    stream.SetPosition(2);
    EXPECT_EQ(stream.Read(buffer, 8), 5); // from inside the first block to the end of the last
    EXPECT_EQ(std::string(buffer, 5), "cdefg");
    EXPECT_EQ(stream.Read(buffer, 1), 0);
    stream.SetPosition(0);
    EXPECT_EQ(stream.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    stream.SetPosition(1);
    stream.WriteBuffer("XYZ", 3); // inside: joined first
    EXPECT_EQ(stream.SegmentCount(), 1u);
    stream.SetPosition(0);
    EXPECT_EQ(stream.Read(buffer, 8), 7);
    EXPECT_EQ(std::string(buffer, 7), "aXYZefg");
    stream.SetSize(2);
    EXPECT_EQ(stream.Size(), 2);
    EXPECT_EQ(stream.Position(), 2);
}

TEST(StringList, NameValueLines) {
    TkezStringList list;
    list.Add("a=1");
    list.AddPair("b", "x=y");
    list.Add("bare");
    EXPECT_EQ(list.Names(1), "b");
    EXPECT_EQ(list.ValueFromIndex(1), "x=y");
    EXPECT_EQ(list.Names(2), "bare");
    EXPECT_EQ(list.ValueFromIndex(2), "");
    EXPECT_EQ(list.Values("b"), "x=y");
    EXPECT_EQ(list.Values("missing"), "");
    list.SetValues("a", "2");
    list.SetValues("c", "3");
    EXPECT_EQ(list.Text(), "a=2\nb=x=y\nbare\nc=3\n");
    list.SetValues("b", "");
    EXPECT_EQ(list.IndexOfName("b"), -1);
    list.SetNameValueSeparator(':');
    list.AddPair("k", "v");
    EXPECT_EQ(list[list.Count() - 1], "k:v");
    list.SetText("one\r\ntwo\nthree");
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "one");
}

enum TColour : uint8_t { clRed, clGreen, clBlue };

TEST(Set, IncludeContainsExclude) {
    TkezSet<TColour> set{clRed, clBlue};
    EXPECT_TRUE(set.Contains(clRed));
    EXPECT_FALSE(set.Contains(clGreen));
    set.Exclude(clRed);
    set.Include(clGreen);
    EXPECT_EQ(set, (TkezSet<TColour>{clGreen, clBlue}));
    EXPECT_FALSE(set.Empty());
}

TEST(Event, FiresOnlyWhenAssigned) {
    TNotifyEvent event;
    EXPECT_FALSE(event);
    event.Fire(nullptr);
    TObject sender;
    TObject* seen = nullptr;
    event = [&](TObject* aSender) { seen = aSender; };
    EXPECT_TRUE(event);
    event.Fire(&sender);
    EXPECT_EQ(seen, &sender);
    event = nullptr;
    EXPECT_FALSE(event);
}

} // namespace
