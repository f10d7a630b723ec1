#include "foundation/ByteArray.h"
#include "foundation/ByteBuffer.h"
#include "foundation/SharedRef.h"
#include "foundation/StringArray.h"

#include <gtest/gtest.h>

namespace {

TEST(Array, GrowthRule)
{
    struct Case { int32_t from, to, expected; };
    for (Case c : {Case{0, 1, 64}, Case{0, 64, 64}, Case{0, 100, 116}, Case{64, 65, 128}, Case{64, 300, 316}}) {
        StringArray a;
        if (c.from > 0)
            a.setSize(c.from);
        a.setSize(c.to);
        EXPECT_EQ(a.capacity, c.expected) << c.from << " -> " << c.to;
        EXPECT_EQ(a.size, c.to);
    }
}

TEST(Array, AtGrowsWithEmptySlots)
{
    StringArray words;
    EXPECT_EQ(words.at(5).length(), 0);
    EXPECT_EQ(words.size, 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(words[i].data(), emptyRefStringData);
}

TEST(Array, ShrinkReleasesElementsAndKeepsStorage)
{
    RefString kept("kept");
    StringArray a;
    a.add(kept);
    a.add("two");
    a.add("three");
    EXPECT_EQ(kept.data()->refs, 2u);
    a.setSize(0);
    EXPECT_EQ(kept.data()->refs, 1u);
    EXPECT_EQ(a.capacity, 64);
    EXPECT_NE(a.data, nullptr);
    a.setSize(2);  // slots past size were reset to empty
    EXPECT_EQ(a[1].data(), emptyRefStringData);
}

TEST(Array, GrowingKeepsElementCounts)
{
    RefString shared("shared");
    StringArray a;
    for (int i = 0; i < 64; ++i)
        a.add(shared);
    EXPECT_EQ(shared.data()->refs, 65u);
    a.add(shared);  // forces new storage
    EXPECT_EQ(a.capacity, 128);
    EXPECT_EQ(shared.data()->refs, 66u);
}

TEST(Array, InsertAndRemoveKeepOrder)
{
    StringArray a;
    a.add("b");
    a.insertAt(0, "a");
    a.add("d");
    a.insertAt(2, "c");
    a.insertAt(0, a[3]);  // a value from the array itself
    ASSERT_EQ(a.size, 5);
    EXPECT_STREQ(a[0].c_str(), "d");
    EXPECT_STREQ(a[3].c_str(), "c");
    a.removeAt(0);
    EXPECT_STREQ(a[0].c_str(), "a");
    EXPECT_STREQ(a[3].c_str(), "d");
    EXPECT_EQ(a.size, 4);
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
    queue.add(SharedRef<Counted>(new Counted(&alive)));
    Counted* second = queue[1].get();
    EXPECT_EQ(alive, 3);

    queue.removeAt(0);
    EXPECT_EQ(alive, 3);  // keep still holds the first
    EXPECT_EQ(queue[0].get(), second);
    keep.release();
    EXPECT_EQ(alive, 2);
    EXPECT_FALSE(keep);

    SharedRef<Counted> self = queue[0];
    self = self;
    EXPECT_EQ(self.refs(), 2u);
    queue.removeAll();
    EXPECT_EQ(alive, 1);
    self.release();
    EXPECT_EQ(alive, 0);

    SharedRef<Counted> none(nullptr);
    EXPECT_EQ(none.refs(), 0u);
    EXPECT_EQ(none.get(), nullptr);
}

TEST(ByteArray, ShrinkZeroesAndGrowthCopies)
{
    ByteArray b;
    for (int i = 0; i < 5; ++i)
        b.add(static_cast<uint8_t>(i + 1));
    b.setSize(2);
    b.setSize(5);
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[4], 0);
    EXPECT_EQ(b.capacity, 64);
    b.at(99) = 7;
    EXPECT_EQ(b.size, 100);
    EXPECT_EQ(b.capacity, 128);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[99], 7);
    b.insertAt(0, 9);
    b.removeAt(1);
    EXPECT_EQ(b[0], 9);
    EXPECT_EQ(b[1], 2);
}

TEST(ByteBuffer, HoldsAPrivateCopy)
{
    char source[] = "chunk";
    ByteBuffer buffer(source, 5);
    source[0] = 'X';
    EXPECT_EQ(buffer.size, 5u);
    EXPECT_EQ(buffer.data[0], 'c');
}

}  // namespace
