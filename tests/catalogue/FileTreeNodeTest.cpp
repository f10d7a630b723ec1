#include "catalogue/FileTreeNode.h"
#include "catalogue/MemoryStream.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytesOf(const MemoryStream& s)
{
    return std::string(reinterpret_cast<const char*>(s.buffer), s.length);
}

SharedRef<FileTreeNode> node(FileTreeNode* parent, const char* name, uint16_t attributes, uint32_t size = 0,
                             uint32_t crc = 0)
{
    auto* n = new FileTreeNode;
    n->parent = parent;
    n->name = name;
    n->attributes = attributes;
    n->uncompressedSize = size;
    n->crc = crc;
    SharedRef<FileTreeNode> handle(n);
    if (parent != nullptr)
        parent->children.add(handle);
    return handle;
}

TEST(FileTreeNode, SerializesTheCatalogueEncoding)
{
    MemoryStream empty(16);
    auto root = node(nullptr, "", FileTreeNode::kDirectory);
    EXPECT_EQ(root->serialize(empty), 0u);
    EXPECT_EQ(bytesOf(empty), std::string(1, '\0'));

    MemoryStream one(16);
    node(root.get(), "Readme.TXT", 0, 5, 1);
    EXPECT_EQ(root->serialize(one), 1u);
    EXPECT_EQ(bytesOf(one), std::string("readme.txt\0\5\0\0\0\1\0\0\0\0", 20));
    EXPECT_STREQ(root->children[0]->name.c_str(), "Readme.TXT");  // the node keeps its case

    auto tree = node(nullptr, "", FileTreeNode::kDirectory);
    auto addons = node(tree.get(), "Addons\\", FileTreeNode::kDirectory);
    node(addons.get(), "x.pbo", 0, 10, 0xAABBCCDD);
    node(addons.get(), "y.pbo", 0, 1, 2);
    node(addons.get(), "skip.txt", FileTreeNode::kExtractOnly, 3, 4);
    auto onlyExtracts = node(tree.get(), "docs\\", FileTreeNode::kDirectory | FileTreeNode::kExtractOnly);
    node(onlyExtracts.get(), "a.txt", FileTreeNode::kExtractOnly, 1, 1);
    MemoryStream nested(4);
    EXPECT_EQ(tree->serialize(nested), 2u);
    std::string expected("addons\\\0x.pbo\0\x0a\0\0\0\xdd\xcc\xbb\xaa"
                         "y.pbo\0\1\0\0\0\2\0\0\0\0docs\\\0\0\0",
                         45);
    EXPECT_EQ(bytesOf(nested), expected);
}

TEST(FileTreeNode, ChildOrderPutsFoldersFirstAndIgnoresCase)
{
    FileTreeNode folderB, folderA, fileA, fileB;
    folderB.attributes = folderA.attributes = FileTreeNode::kDirectory;
    folderB.name = "b\\";
    folderA.name = "A\\";
    fileA.name = "a";
    fileB.name = "B";
    EXPECT_TRUE(nodeBefore(folderB, fileA));
    EXPECT_FALSE(nodeBefore(fileA, folderB));
    EXPECT_TRUE(nodeBefore(folderA, folderB));
    EXPECT_TRUE(nodeBefore(fileA, fileB));
    FileTreeNode upper;
    upper.name = "A";
    EXPECT_FALSE(nodeBefore(upper, fileA));
    EXPECT_FALSE(nodeBefore(fileA, upper));
    FileTreeNode prefix;
    prefix.name = "ab";
    FileTreeNode longer;
    longer.name = "abc";
    EXPECT_TRUE(nodeBefore(prefix, longer));
    // Letters compare lower-cased: '_' (0x5F) sorts before 'Z' (0x5A as a capital).
    FileTreeNode underscore;
    underscore.name = "_x";
    FileTreeNode letter;
    letter.name = "Zx";
    EXPECT_TRUE(nodeBefore(underscore, letter));
}

TEST(MemoryStream, GrowsByShortfallOrCapacityAndSeeks)
{
    MemoryStream s(4);
    s.write("abcd", 4);
    EXPECT_EQ(s.capacity, 4u);
    s.write("e", 1);
    EXPECT_EQ(s.capacity, 8u);  // step = capacity
    std::string big(100, 'z');
    s.write(big.data(), 100);
    EXPECT_EQ(s.capacity, 105u);  // shortfall 97 beats step 8
    EXPECT_EQ(s.length, 105u);

    MemoryStream zero(0);
    zero.write("x", 1);
    EXPECT_EQ(zero.capacity, 256u);

    EXPECT_EQ(s.seek(0, 0), 0);
    char out[6] = {};
    EXPECT_EQ(s.read(out, 5), 5u);
    EXPECT_STREQ(out, "abcde");
    EXPECT_EQ(s.seek(-1, 2), 104);
    EXPECT_EQ(s.read(out, 5), 1u);
    EXPECT_EQ(s.seek(1, 1), -1);
    EXPECT_EQ(s.seek(-1, 0), -1);
    EXPECT_EQ(s.seek(0, 3), -1);
    EXPECT_EQ(s.position, 105u);
    s.seek(2, 0);
    s.write("XY", 2);  // overwrite inside keeps the length
    EXPECT_EQ(s.length, 105u);
    EXPECT_EQ(s.buffer[2], 'X');
}

}  // namespace
