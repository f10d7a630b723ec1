#include "foundation/RefString.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

uint32_t refsOf(const RefString& s) { return s.data()->refs; }
int32_t capacityOf(const RefString& s) { return s.data()->capacity; }

TEST(RefString, EmptyStringsShareTheStaticBlockUntilAssignedFromText)
{
    RefString a;
    RefString b(static_cast<const char*>(nullptr));
    EXPECT_EQ(a.data(), emptyRefStringData);
    EXPECT_EQ(b.data(), emptyRefStringData);
    EXPECT_STREQ(a.c_str(), "");
    {
        RefString c = a;  // copies of the empty block are not counted
        c = b;
    }
    EXPECT_EQ(emptyRefStringData->refs, 0x7FFFFFFFu);
    EXPECT_EQ(emptyRefStringData->capacity, 1);

    RefString fromLiteral("");
    EXPECT_NE(fromLiteral.data(), emptyRefStringData);
    EXPECT_EQ(fromLiteral.length(), 0);
    EXPECT_EQ(capacityOf(fromLiteral), 33);
    EXPECT_EQ(refsOf(fromLiteral), 1u);
}

TEST(RefString, BlockHeaderIsTwelveBytesBeforeTheCharacters)
{
    RefString s("abc");
    const auto* raw = reinterpret_cast<const unsigned char*>(s.data());
    uint32_t header[3];
    std::memcpy(header, raw, sizeof header);
    EXPECT_EQ(header[0], 1u);
    EXPECT_EQ(header[1], 3u);
    EXPECT_EQ(header[2], 36u);
    EXPECT_EQ(reinterpret_cast<const char*>(raw + 12), s.c_str());
    EXPECT_EQ(s.c_str()[3], '\0');
}

TEST(RefString, CopyOnWriteLeavesOtherHoldersUnchanged)
{
    RefString first("hello");
    RefString second;
    second = first;
    EXPECT_EQ(first.data(), second.data());
    EXPECT_EQ(refsOf(first), 2u);

    second += '!';
    EXPECT_STREQ(first.c_str(), "hello");
    EXPECT_STREQ(second.c_str(), "hello!");
    EXPECT_EQ(refsOf(first), 1u);
    EXPECT_EQ(capacityOf(second), 6 + 33);

    RefString third = first;
    third.makeLower();
    RefString upper("ABC");
    RefString lower = upper;
    lower.makeLower();
    EXPECT_STREQ(upper.c_str(), "ABC");
    EXPECT_STREQ(lower.c_str(), "abc");
}

TEST(RefString, AppendingGrowsByLengthPlus33AndOnlyWhenFull)
{
    RefString s("");
    const RefStringData* block = s.data();
    for (int i = 0; i < 32; ++i)
        s += 'x';
    EXPECT_EQ(s.data(), block);  // 32 characters fit in place
    EXPECT_EQ(capacityOf(s), 33);
    s += 'y';
    EXPECT_EQ(capacityOf(s), 66);
    EXPECT_EQ(s.length(), 33);

    RefString fromEmpty;
    fromEmpty += "ab";
    EXPECT_NE(fromEmpty.data(), emptyRefStringData);
    EXPECT_EQ(capacityOf(fromEmpty), 35);
    fromEmpty += static_cast<const char*>(nullptr);
    EXPECT_STREQ(fromEmpty.c_str(), "ab");
}

TEST(RefString, AssignmentKeepsRoomWhenTheTextFits)
{
    RefString s("a longer text than the next one");
    int32_t room = capacityOf(s);
    s = "short";
    EXPECT_EQ(capacityOf(s), room);
    EXPECT_STREQ(s.c_str(), "short");
    s = "a text that is much longer than the room the block still has left";
    EXPECT_EQ(capacityOf(s), s.length() + 33);
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(s.data(), emptyRefStringData);

    RefString tail("abcdef");
    tail = tail.c_str() + 2;  // overlapping source
    EXPECT_STREQ(tail.c_str(), "cdef");
}

TEST(RefString, SelfAppendAndSelfAssign)
{
    RefString s("ab");
    s += s;
    EXPECT_STREQ(s.c_str(), "abab");

    RefString big(std::string(40, 'q').c_str());  // forces a reallocation
    big += big;
    EXPECT_EQ(big.length(), 80);
    EXPECT_EQ(std::string(big.c_str()), std::string(80, 'q'));

    RefString shared("xy");
    RefString other = shared;
    shared += shared;
    EXPECT_STREQ(shared.c_str(), "xyxy");
    EXPECT_STREQ(other.c_str(), "xy");

    RefString unique("same");
    const RefString& alias = unique;
    unique = alias;
    EXPECT_STREQ(unique.c_str(), "same");
    EXPECT_EQ(refsOf(unique), 1u);
    RefString copy = unique;
    unique = copy;
    EXPECT_EQ(refsOf(unique), 2u);
}

TEST(RefString, ConcatenationAlwaysMakesAFreshBlock)
{
    RefString a("ab"), b("cd"), empty;
    RefString c = a + b;
    EXPECT_STREQ(c.c_str(), "abcd");
    RefString e = empty + empty;
    EXPECT_NE(e.data(), emptyRefStringData);
    EXPECT_EQ(e.length(), 0);
}

TEST(RefString, LeftAndMid)
{
    RefString abc("abc");
    RefString whole = abc.left(3);
    EXPECT_EQ(whole.data(), abc.data());
    RefString two = abc.left(2);
    EXPECT_NE(two.data(), abc.data());
    EXPECT_STREQ(two.c_str(), "ab");

    EXPECT_EQ(abc.mid(5, 10).data(), emptyRefStringData);
    EXPECT_STREQ(abc.mid(1, 100).c_str(), "bc");
    RefString all = abc.mid(0, 3);
    EXPECT_NE(all.data(), abc.data());
    EXPECT_STREQ(all.c_str(), "abc");
}

TEST(RefString, CompareIsBytewiseAndCaseSensitive)
{
    EXPECT_EQ(RefString("abc").compare("abd"), -1);
    EXPECT_EQ(RefString("abd").compare("abc"), 1);
    EXPECT_EQ(RefString("ab").compare("abc"), -1);
    EXPECT_EQ(RefString("abc").compare("abc"), 0);
    EXPECT_NE(RefString("ABC").compare("abc"), 0);
    EXPECT_EQ(RefString("\xe9").compare("a"), 1);  // bytes compare unsigned
}

TEST(RefString, AllocDataAndSetLengthBuildInPlace)
{
    RefStringData* fresh = RefString::allocData(4);
    EXPECT_EQ(fresh->capacity, 37);
    std::memcpy(fresh->chars(), "wxyz", 5);
    RefString s = RefString::adopt(fresh);
    s.setLength(100);
    EXPECT_EQ(s.data()->capacity, 133);
    EXPECT_EQ(s.length(), 100);
    EXPECT_EQ(std::memcmp(s.c_str(), "wxyz", 4), 0);
    s.setLength(4);
    s.chars()[4] = '\0';
    EXPECT_STREQ(s.c_str(), "wxyz");
}

// Lengths are 32-bit: a negative one builds an empty string, and one whose
// block size would wrap is refused like a failed allocation, never turned
// into a small block that the characters then overrun.
TEST(RefString, OutOfRangeLengthsNeverMakeABrokenBlock)
{
    RefString s = RefString::adopt(RefString::allocData(-7));
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(s.data()->capacity, 33);
    s.setLength(-1);
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(s.data()->capacity, 33);
    s.chars()[0] = '\0';
    s += "ok";
    EXPECT_STREQ(s.c_str(), "ok");

    EXPECT_DEATH(RefString::allocData(INT_MAX - 10), "out of memory");
    EXPECT_DEATH(s.setLength(INT_MAX), "out of memory");
}

}  // namespace
