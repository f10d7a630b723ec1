#include "foundation/ByteArray.h"
#include "foundation/ByteBuffer.h"
#include "foundation/SharedRef.h"
#include "foundation/StringArray.h"

#include <gtest/gtest.h>

namespace {

// Elements hold counted references: shrinking, growing into new storage
// and at() past the end must keep every count right and leave empty slots.
TEST(Array, ElementCountsSurviveShrinkingAndGrowing)
{
    RefString shared("shared");
    StringArray a;
    for (int i = 0; i < 64; ++i)
        a.add(shared);
    EXPECT_EQ(shared.data()->refs, 65u);
    a.add(shared);  // forces new storage
    EXPECT_EQ(shared.data()->refs, 66u);
    a.setSize(0);
    EXPECT_EQ(shared.data()->refs, 1u);
    EXPECT_EQ(a.capacity, 128);
    a.setSize(2);  // slots past size were reset to empty
    EXPECT_EQ(a[1].data(), emptyRefStringData);
    EXPECT_EQ(a.at(5).length(), 0);
    EXPECT_EQ(a.size, 6);
    EXPECT_EQ(a[5].data(), emptyRefStringData);
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
    queue.removeAt(0);
    EXPECT_EQ(alive, 2);  // keep still holds the first
    keep.release();
    EXPECT_EQ(alive, 1);
    EXPECT_FALSE(keep);

    SharedRef<Counted> self = queue[0];
    self = self;
    EXPECT_EQ(self.refs(), 2u);
    queue.removeAll();
    EXPECT_EQ(alive, 1);
    self.release();
    EXPECT_EQ(alive, 0);
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
    b.at(99) = 7;
    EXPECT_EQ(b.size, 100);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[99], 7);
    b.insertAt(0, 9);
    b.removeAt(1);
    EXPECT_EQ(b[0], 9);
    EXPECT_EQ(b[1], 2);

    char source[] = "chunk";
    ByteBuffer buffer(source, 5);
    source[0] = 'X';  // the buffer holds a private copy
    EXPECT_EQ(buffer.data[0], 'c');
}

}  // namespace
