#include "platform/FileSystem.h"
#include "platform/FolderListing.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<platform::FolderEntry> entries;
    EXPECT_TRUE(platform::listFolder(folder, entries));
    std::vector<std::string> names;
    for (const platform::FolderEntry& entry : entries)
        names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// Failed writes are covered by the shared FileSystem tests; here a write
// larger than one block replaces an older file.
TEST(WindowsFiles, AtomicWriteReplacesTheTargetAndLeavesNoTemporaryFile)
{
    TempFolder folder;
    std::string target = folder.path("addoninfoblock.udp");
    ASSERT_TRUE(platform::writeFileAtomically(target.c_str(), "first version", 13));
    std::string bytes(70000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(platform::writeFileAtomically(target.c_str(), bytes.data(), bytes.size()));
    EXPECT_TRUE(readFile(target) == bytes);
    EXPECT_EQ(namesIn(folder.folder()), std::vector<std::string>{"addoninfoblock.udp"});
}

TEST(WindowsFiles, DeleteAndListFolders)
{
    TempFolder folder;
    folder.write("a.txt", "12345");
    folder.write("sub/b.txt", "1");
    std::vector<platform::FolderEntry> entries;
    ASSERT_TRUE(platform::listFolder(folder.folder(), entries));
    ASSERT_EQ(entries.size(), 2u);
    std::sort(entries.begin(), entries.end(),
              [](const platform::FolderEntry& x, const platform::FolderEntry& y) { return x.name < y.name; });
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_FALSE(entries[0].isFolder);
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_EQ(entries[1].name, "sub");
    EXPECT_TRUE(entries[1].isFolder);
    EXPECT_EQ(entries[1].size, 0u);

    // Both separators name the same folder.
    EXPECT_EQ(namesIn(folder.folder() + "/sub"), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(namesIn(folder.folder() + "\\sub\\"), std::vector<std::string>{"b.txt"});
    EXPECT_FALSE(platform::listFolder(folder.path("nowhere"), entries));

    EXPECT_TRUE(platform::deleteFile(folder.path("a.txt").c_str()));
    EXPECT_FALSE(platform::deleteFile(folder.path("a.txt").c_str()));
    EXPECT_EQ(namesIn(folder.folder()), std::vector<std::string>{"sub"});
}
