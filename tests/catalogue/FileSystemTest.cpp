#include "catalogue/FileTreeNode.h"
#include "catalogue/MemoryStream.h"
#include "platform/FileSystem.h"
#include "support/TempFolder.h"
#include "support/TreeNodes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// Writes replace whole files or leave the old one and no temporary behind.
TEST(FileSystem, WritesReplaceWholeFilesOrNothingAndDeleteTellsWhetherOneWent)
{
    TempFolder temp;
    std::string path = temp.path("target.bin"), folder = temp.folder();
    auto entries = [&] { return std::distance(fs::directory_iterator(folder), fs::directory_iterator()); };
    ASSERT_TRUE(platform::writeFileAtomically(path.c_str(), "first version", 13));
    ASSERT_TRUE(platform::writeFileAtomically(path.c_str(), "", 0));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    ASSERT_TRUE(platform::writeFileAtomically(path.c_str(), "old", 3));
    platform::failWritesAfter(5);
    EXPECT_FALSE(platform::writeFileAtomically(path.c_str(), "longer text", 11));
    EXPECT_EQ(readFile(path), "old");
    EXPECT_TRUE(platform::writeFileAtomically(path.c_str(), "fits!", 5));  // exactly the budget
    EXPECT_EQ(readFile(path), "fits!");
    platform::failWritesAfter(-1);
    EXPECT_FALSE(platform::writeFileAtomically(temp.path("missing/x.bin").c_str(), "x", 1));
    EXPECT_FALSE(platform::writeFileAtomically(folder.c_str(), "x", 1));  // a folder is not replaced
    EXPECT_EQ(entries(), 1);

    EXPECT_TRUE(platform::deleteFile(path.c_str()));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(platform::deleteFile(path.c_str()));
    EXPECT_FALSE(platform::deleteFile(folder.c_str()));
    EXPECT_TRUE(fs::is_directory(folder));
}

// What an installation stands on: a new file never lands behind a name
// that exists (a dangling link included), the full-disk budget counts the
// whole file over several writes, and a rename replaces a link, not what it
// points at.
TEST(FileSystem, NewFilesFoldersKindsAndRenames)
{
    TempFolder temp, outside;
    std::string file = temp.path("f"), folder = temp.path("d"), link = temp.path("l");
    platform::NewFile created;
    ASSERT_TRUE(created.create(file.c_str()));
    platform::failWritesAfter(5);
    EXPECT_TRUE(created.write("abc", 3));
    EXPECT_FALSE(created.write("def", 3));
    platform::failWritesAfter(-1);
    EXPECT_TRUE(created.close());
    EXPECT_FALSE(created.write("x", 1));
    EXPECT_FALSE(platform::NewFile().create(file.c_str()));
    EXPECT_TRUE(platform::createFolder(folder.c_str()));
    EXPECT_FALSE(platform::createFolder(folder.c_str()));
    temp.write("d/inner", "i");
    EXPECT_FALSE(platform::removeFolder(folder.c_str()));
    std::error_code failed;
    fs::create_symlink(outside.path("gone"), link, failed);
    if (!failed) {
        EXPECT_FALSE(platform::NewFile().create(link.c_str()));
        EXPECT_FALSE(fs::exists(outside.path("gone")));
        EXPECT_EQ(platform::pathKind(link.c_str()), platform::PathKind::link);
        ASSERT_TRUE(platform::renameReplacing(file.c_str(), link.c_str()));
        EXPECT_FALSE(fs::is_symlink(link));
        EXPECT_TRUE(fs::is_empty(outside.folder()));
    }
    EXPECT_EQ(platform::pathKind(folder.c_str()), platform::PathKind::folder);
    EXPECT_EQ(platform::pathKind(temp.path("d/inner").c_str()), platform::PathKind::file);
    EXPECT_EQ(platform::pathKind(temp.path("none").c_str()), platform::PathKind::missing);
    EXPECT_TRUE(platform::deleteFile(temp.path("d/inner").c_str()));
    EXPECT_TRUE(platform::removeFolder(folder.c_str()));
    EXPECT_FALSE(fs::exists(folder));
}

// Extract-only files are left out, but a folder holding only them is not.
TEST(FileTreeNode, SerializesTheCatalogueEncoding)
{
    FileTreeNode tree;
    tree.attributes = FileTreeNode::kDirectory;
    FileTreeNode* addons = addNode(tree, "Addons\\", FileTreeNode::kDirectory);
    addNode(*addons, "X.pbo", 0, 10, 0xAABBCCDD);
    addNode(*addons, "y.pbo", 0, 1, 2);
    addNode(*addons, "skip.txt", FileTreeNode::kExtractOnly, 3, 4);
    FileTreeNode* onlyExtracts = addNode(tree, "docs\\", FileTreeNode::kDirectory | FileTreeNode::kExtractOnly);
    addNode(*onlyExtracts, "a.txt", FileTreeNode::kExtractOnly, 1, 1);
    MemoryStream nested(4);
    EXPECT_EQ(tree.serialize(nested), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(nested.buffer), nested.length),
              std::string("addons\\\0x.pbo\0\x0a\0\0\0\xdd\xcc\xbb\xaa" "y.pbo\0\1\0\0\0\2\0\0\0\0docs\\\0\0\0", 45));
    EXPECT_STREQ(addons->children[0]->name.c_str(), "X.pbo");  // the node keeps its case
}

// Folders first; letters compare lower-cased: '_' (0x5F) sorts before 'Z'
// (0x5A as a capital).
TEST(FileTreeNode, ChildOrderPutsFoldersFirstAndComparesLowerCased)
{
    const char* const order[] = {"A\\", "b\\", "_x", "a", "ab", "abc", "B", "Zx"};
    for (size_t i = 0; i < 8; ++i) {
        for (size_t j = 0; j < 8; ++j) {
            FileTreeNode a, b;
            a.name = order[i];
            b.name = order[j];
            a.attributes = std::strchr(order[i], '\\') ? FileTreeNode::kDirectory : 0;
            b.attributes = std::strchr(order[j], '\\') ? FileTreeNode::kDirectory : 0;
            EXPECT_EQ(nodeBefore(a, b), i < j) << order[i] << " before " << order[j];
        }
    }
    FileTreeNode upper, lower;  // equal ignoring case: neither comes first
    upper.name = "A";
    lower.name = "a";
    EXPECT_FALSE(nodeBefore(upper, lower));
    EXPECT_FALSE(nodeBefore(lower, upper));
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
