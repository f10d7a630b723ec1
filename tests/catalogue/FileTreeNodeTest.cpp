#include "catalogue/FileTreeNode.h"
#include "catalogue/MemoryStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

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

// Extract-only files are left out, but a folder holding only them is not.
TEST(FileTreeNode, SerializesTheCatalogueEncoding)
{
    auto tree = node(nullptr, "", FileTreeNode::kDirectory);
    auto addons = node(tree.get(), "Addons\\", FileTreeNode::kDirectory);
    node(addons.get(), "X.pbo", 0, 10, 0xAABBCCDD);
    node(addons.get(), "y.pbo", 0, 1, 2);
    node(addons.get(), "skip.txt", FileTreeNode::kExtractOnly, 3, 4);
    auto onlyExtracts = node(tree.get(), "docs\\", FileTreeNode::kDirectory | FileTreeNode::kExtractOnly);
    node(onlyExtracts.get(), "a.txt", FileTreeNode::kExtractOnly, 1, 1);
    MemoryStream nested(4);
    EXPECT_EQ(tree->serialize(nested), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(nested.buffer), nested.length),
              std::string("addons\\\0x.pbo\0\x0a\0\0\0\xdd\xcc\xbb\xaa"
                          "y.pbo\0\1\0\0\0\2\0\0\0\0docs\\\0\0\0",
                          45));
    EXPECT_STREQ(addons->children[0]->name.c_str(), "X.pbo");  // the node keeps its case
}

TEST(FileTreeNode, ChildOrderPutsFoldersFirstAndComparesLowerCased)
{
    struct Case {
        const char* first;
        const char* second;
        bool before;
    };
    // Letters compare lower-cased: '_' (0x5F) sorts before 'Z' (0x5A as a capital).
    for (Case c : {Case{"b\\", "a", true}, Case{"a", "b\\", false}, Case{"A\\", "b\\", true}, Case{"a", "B", true},
                   Case{"A", "a", false}, Case{"a", "A", false}, Case{"ab", "abc", true}, Case{"_x", "Zx", true}}) {
        FileTreeNode first, second;
        first.name = c.first;
        second.name = c.second;
        first.attributes = std::strchr(c.first, '\\') ? FileTreeNode::kDirectory : 0;
        second.attributes = std::strchr(c.second, '\\') ? FileTreeNode::kDirectory : 0;
        EXPECT_EQ(nodeBefore(first, second), c.before) << c.first << " before " << c.second;
    }
}

TEST(MemoryStream, GrowsKeepingItsBytesAndSeeksInsideThem)
{
    MemoryStream s(0);
    s.write("abcde", 5);
    std::string big(100, 'z');
    s.write(big.data(), 100);
    EXPECT_EQ(s.seek(2, 0), 2);
    s.write("XY", 2);  // overwrite inside keeps the length
    EXPECT_EQ(s.length, 105u);
    char out[6] = {};
    EXPECT_EQ(s.read(out, 5), 5u);
    EXPECT_STREQ(out, "ezzzz");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.buffer), 5), "abXYe");
    EXPECT_EQ(s.seek(-1, 2), 104);
    EXPECT_EQ(s.read(out, 5), 1u);
    EXPECT_EQ(s.seek(1, 1), -1);
    EXPECT_EQ(s.seek(-1, 0), -1);
}

}  // namespace
