#include "foundation/RefString.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

uint32_t refsOf(const RefString& s) { return s.data()->refs; }
int32_t capacityOf(const RefString& s) { return s.data()->capacity; }

TEST(RefString, EmptyStringsShareTheStaticBlockAndOthersHaveATwelveByteHeader)
{
    RefString a;
    RefString b(static_cast<const char*>(nullptr));
    EXPECT_EQ(a.data(), emptyRefStringData);
    EXPECT_EQ(b.data(), emptyRefStringData);
    {
        RefString c = a;  // copies of the empty block are not counted
        c = b;
    }
    EXPECT_EQ(emptyRefStringData->refs, 0x7FFFFFFFu);
    RefString fromLiteral("");
    EXPECT_NE(fromLiteral.data(), emptyRefStringData);
    EXPECT_EQ(capacityOf(fromLiteral), 33);

    RefString s("abc");
    uint32_t header[3];
    std::memcpy(header, s.data(), sizeof header);
    EXPECT_EQ(header[0], 1u);   // references
    EXPECT_EQ(header[1], 3u);   // length
    EXPECT_EQ(header[2], 36u);  // capacity: the length and 33 more
    EXPECT_EQ(reinterpret_cast<const char*>(s.data()) + 12, s.c_str());
}

TEST(RefString, WritesCopyASharedBlockFirstEvenFromItself)
{
    RefString first("hello");
    RefString second = first;
    EXPECT_EQ(refsOf(first), 2u);
    second += '!';
    EXPECT_STREQ(first.c_str(), "hello");
    EXPECT_STREQ(second.c_str(), "hello!");
    EXPECT_EQ(refsOf(first), 1u);
    RefString upper("ABC");
    RefString lower = upper;
    lower.makeLower();
    EXPECT_STREQ(upper.c_str(), "ABC");
    EXPECT_STREQ(lower.c_str(), "abc");

    RefString big(std::string(40, 'q').c_str());  // appending itself forces a reallocation
    big += big;
    EXPECT_EQ(std::string(big.c_str()), std::string(80, 'q'));
    RefString shared("xy");
    RefString other = shared;
    shared += shared;
    EXPECT_STREQ(shared.c_str(), "xyxy");
    EXPECT_STREQ(other.c_str(), "xy");

    const RefString& alias = shared;
    shared = alias;
    EXPECT_STREQ(shared.c_str(), "xyxy");
    EXPECT_EQ(refsOf(shared), 1u);
}

TEST(RefString, AppendAndAssignmentReuseTheBlockWhileTheTextFits)
{
    RefString s("");
    const RefStringData* block = s.data();
    for (int i = 0; i < 32; ++i)
        s += 'x';
    EXPECT_EQ(s.data(), block);  // 32 characters fit in place
    s += 'y';
    EXPECT_EQ(capacityOf(s), 66);
    s = "short";
    EXPECT_EQ(capacityOf(s), 66);
    s = s.c_str() + 2;  // overlapping source
    s += static_cast<const char*>(nullptr);
    EXPECT_STREQ(s.c_str(), "ort");
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(s.data(), emptyRefStringData);

    RefString fromEmpty;
    fromEmpty += "ab";  // never written into the shared empty block
    EXPECT_STREQ(fromEmpty.c_str(), "ab");
    EXPECT_STREQ(emptyRefStringData->chars(), "");
}

TEST(RefString, SubstringsConcatenationAndComparison)
{
    RefString abc("abc"), empty;
    EXPECT_EQ(abc.left(3).data(), abc.data());
    EXPECT_STREQ(abc.left(2).c_str(), "ab");
    EXPECT_EQ(abc.mid(5, 10).data(), emptyRefStringData);
    EXPECT_STREQ(abc.mid(1, 100).c_str(), "bc");
    RefString all = abc.mid(0, 3);
    EXPECT_NE(all.data(), abc.data());
    EXPECT_STREQ(all.c_str(), "abc");

    EXPECT_STREQ((abc + RefString("de")).c_str(), "abcde");
    EXPECT_NE((empty + empty).data(), emptyRefStringData);  // always a fresh block

    EXPECT_EQ(RefString("abc").compare("abd"), -1);
    EXPECT_EQ(RefString("abd").compare("abc"), 1);
    EXPECT_EQ(RefString("ab").compare("abc"), -1);
    EXPECT_EQ(RefString("abc").compare("abc"), 0);
    EXPECT_NE(RefString("ABC").compare("abc"), 0);
    EXPECT_EQ(RefString("\xe9").compare("a"), 1);  // bytes compare unsigned
}

// Lengths are 32-bit: a negative one builds an empty string, and one whose
// block size would wrap is refused like a failed allocation, never turned
// into a small block that the characters then overrun.
TEST(RefString, OutOfRangeLengthsNeverMakeABrokenBlock)
{
    RefStringData* fresh = RefString::allocData(4);
    EXPECT_EQ(fresh->capacity, 37);
    std::memcpy(fresh->chars(), "wxyz", 5);
    RefString built = RefString::adopt(fresh);
    built.setLength(100);
    EXPECT_EQ(built.data()->capacity, 133);
    EXPECT_EQ(std::memcmp(built.c_str(), "wxyz", 4), 0);

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
