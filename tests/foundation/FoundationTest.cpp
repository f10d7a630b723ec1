#include "foundation/ByteArray.h"
#include "foundation/ByteBuffer.h"
#include "foundation/SharedRef.h"
#include "foundation/StringArray.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

uint32_t refsOf(const RefString& s) { return s.data()->refs; }
int32_t capacityOf(const RefString& s) { return s.data()->capacity; }

// The empty block is shared and never counted; others have a header of
// references, length and capacity (the length and 33 more) before the text.
TEST(RefString, EmptyStringsShareTheStaticBlockAndOthersHaveATwelveByteHeader)
{
    RefString a, b(static_cast<const char*>(nullptr));
    EXPECT_EQ(b.data(), emptyRefStringData);
    {
        RefString c = a;
        c = b;
    }
    EXPECT_EQ(emptyRefStringData->refs, 0x7FFFFFFFu);
    EXPECT_EQ(capacityOf(RefString("")), 33);
    RefString s("abc");
    uint32_t header[3];
    std::memcpy(header, s.data(), sizeof header);
    EXPECT_EQ(header[0], 1u);
    EXPECT_EQ(header[1], 3u);
    EXPECT_EQ(header[2], 36u);
    EXPECT_EQ(reinterpret_cast<const char*>(s.data()) + 12, s.c_str());
}

TEST(RefString, WritesCopyASharedBlockFirstEvenFromItself)
{
    RefString first("hello"), upper("ABC"), shared("xy");
    RefString second = first, lower = upper, other = shared;
    EXPECT_EQ(refsOf(first), 2u);
    second += '!';
    lower.makeLower();
    shared += shared;
    EXPECT_STREQ(first.c_str(), "hello");
    EXPECT_STREQ(second.c_str(), "hello!");
    EXPECT_EQ(refsOf(first), 1u);
    EXPECT_STREQ(upper.c_str(), "ABC");
    EXPECT_STREQ(lower.c_str(), "abc");
    EXPECT_STREQ(shared.c_str(), "xyxy");
    EXPECT_STREQ(other.c_str(), "xy");
    RefString big(std::string(40, 'q').c_str());  // appending itself forces a reallocation
    big += big;
    EXPECT_EQ(std::string(big.c_str()), std::string(80, 'q'));
    const RefString& alias = shared;
    shared = alias;
    EXPECT_EQ(refsOf(shared), 1u);
}

TEST(RefString, AppendAndAssignmentReuseTheBlockWhileTheTextFits)
{
    RefString s("");
    const RefStringData* block = s.data();
    for (int i = 0; i < 32; ++i)
        s += 'x';
    EXPECT_EQ(s.data(), block);
    s += 'y';
    EXPECT_EQ(capacityOf(s), 66);
    s = "short";
    s = s.c_str() + 2;  // overlapping source
    s += static_cast<const char*>(nullptr);
    EXPECT_STREQ(s.c_str(), "ort");
    EXPECT_EQ(capacityOf(s), 66);
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(s.data(), emptyRefStringData);
    s += "ab";  // never written into the shared empty block
    EXPECT_STREQ(s.c_str(), "ab");
    EXPECT_STREQ(emptyRefStringData->chars(), "");
}

TEST(RefString, SubstringsConcatenationAndComparison)
{
    RefString abc("abc"), empty;
    EXPECT_EQ(abc.left(3).data(), abc.data());
    EXPECT_STREQ(abc.left(2).c_str(), "ab");
    EXPECT_EQ(abc.mid(5, 10).data(), emptyRefStringData);
    EXPECT_STREQ(abc.mid(1, 100).c_str(), "bc");
    EXPECT_NE(abc.mid(0, 3).data(), abc.data());
    EXPECT_STREQ((abc + RefString("de")).c_str(), "abcde");
    EXPECT_NE((empty + empty).data(), emptyRefStringData);  // always a fresh block
    const char* order[] = {"ABC", "ab", "abc", "abd", "\xe9"};  // bytes compare unsigned
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(RefString(order[i]).compare(order[j]), (i > j) - (i < j)) << order[i] << " " << order[j];
}

// Lengths are 32-bit: a negative one builds an empty string, and one whose
// block size would wrap is refused like a failed allocation, never turned
// into a small block that the characters then overrun.
TEST(RefString, OutOfRangeLengthsNeverMakeABrokenBlock)
{
    RefStringData* fresh = RefString::allocData(4);
    std::memcpy(fresh->chars(), "wxyz", 5);
    RefString built = RefString::adopt(fresh);
    built.setLength(100);
    EXPECT_EQ(built.data()->capacity, 133);
    EXPECT_EQ(std::memcmp(built.c_str(), "wxyz", 4), 0);
    RefString s = RefString::adopt(RefString::allocData(-7));
    s.setLength(-1);
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(s.data()->capacity, 33);
    EXPECT_DEATH(RefString::allocData(INT_MAX - 10), "out of memory");
    EXPECT_DEATH(s.setLength(INT_MAX), "out of memory");
}

// Elements hold counted references: shrinking, growing into new storage
// and at() past the end keep every count right and leave empty slots.
TEST(Array, CountsOrderAndEmptySlotsSurviveEveryChange)
{
    RefString shared("shared");
    StringArray a;
    for (int i = 0; i < 65; ++i)
        a.add(shared);
    EXPECT_EQ(refsOf(shared), 66u);
    a.setSize(0);
    EXPECT_EQ(refsOf(shared), 1u);
    EXPECT_EQ(a.capacity, 128);
    a.setSize(2);
    EXPECT_EQ(a[1].data(), emptyRefStringData);
    EXPECT_EQ(a.at(5).length(), 0);
    EXPECT_EQ(a.size, 6);
    a.removeAll();
    a.add("b");
    a.insertAt(0, "a");
    a.add("c");
    a.insertAt(0, a[2]);  // a value from the array itself
    a.removeAt(1);
    ASSERT_EQ(a.size, 3);
    EXPECT_STREQ((std::string(a[0].c_str()) + a[1].c_str() + a[2].c_str()).c_str(), "cbc");

    ByteArray b;
    for (int i = 0; i < 5; ++i)
        b.add(static_cast<uint8_t>(i + 1));
    b.setSize(2);
    b.setSize(5);
    EXPECT_EQ(b[2], 0);
    b.at(99) = 7;
    b.insertAt(0, 9);
    b.removeAt(1);
    EXPECT_EQ(b.size, 100);
    EXPECT_EQ(b[0], 9);
    EXPECT_EQ(b[1], 2);
    EXPECT_EQ(b[99], 7);
    char source[] = "chunk";
    ByteBuffer buffer(source, 5);
    source[0] = 'X';  // the buffer holds a private copy
    EXPECT_EQ(buffer.data[0], 'c');
}

struct Counted {
    explicit Counted(int* alive) : alive(alive) { ++*alive; }
    ~Counted() { --*alive; }
    int* alive;
};

TEST(SharedRef, LastHandleDeletesTheObject)
{
    int alive = 0;
    SharedRefArray<Counted> queue;
    SharedRef<Counted> keep(new Counted(&alive));
    queue.add(keep);
    queue.add(SharedRef<Counted>(new Counted(&alive)));
    queue.removeAt(0);
    EXPECT_EQ(alive, 2);  // keep still holds the first
    keep.release();
    EXPECT_EQ(alive, 1);
    EXPECT_FALSE(keep);
    SharedRef<Counted> self = queue[0];
    self = self;
    EXPECT_EQ(self.refs(), 2u);
    queue.removeAll();
    EXPECT_EQ(alive, 1);  // self still holds it
    self.release();
    EXPECT_EQ(alive, 0);
}

}  // namespace
