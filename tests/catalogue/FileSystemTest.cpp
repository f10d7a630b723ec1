#include "platform/FileSystem.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

class FileSystem : public ::testing::Test {
protected:
    void TearDown() override { platform::failWritesAfter(-1); }

    size_t entries() const
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    TempFolder temp;
    fs::path folder = temp.folder();
    std::string path = temp.path("target.bin");
};

TEST_F(FileSystem, WriteReplacesWholeFilesAndDeleteReportsWhetherOneWentAway)
{
    ASSERT_TRUE(platform::writeFileAtomically(path.c_str(), "first version", 13));
    ASSERT_TRUE(platform::writeFileAtomically(path.c_str(), "2nd", 3));
    EXPECT_EQ(readFile(path), "2nd");
    ASSERT_TRUE(platform::writeFileAtomically(path.c_str(), "", 0));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(entries(), 1u);

    EXPECT_TRUE(platform::deleteFile(path.c_str()));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(platform::deleteFile(path.c_str()));
    EXPECT_FALSE(platform::deleteFile(folder.string().c_str()));
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(FileSystem, FailedWriteLeavesTheOldFileAndNoTemporary)
{
    ASSERT_TRUE(platform::writeFileAtomically(path.c_str(), "old", 3));
    platform::failWritesAfter(5);
    EXPECT_FALSE(platform::writeFileAtomically(path.c_str(), "longer text", 11));
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(entries(), 1u);
    EXPECT_TRUE(platform::writeFileAtomically(path.c_str(), "fits!", 5));  // exactly the budget
    EXPECT_EQ(readFile(path), "fits!");

    platform::failWritesAfter(-1);
    std::string nowhere = (folder / "missing" / "x.bin").string();
    EXPECT_FALSE(platform::writeFileAtomically(nowhere.c_str(), "x", 1));
    EXPECT_FALSE(platform::writeFileAtomically(folder.string().c_str(), "x", 1));  // a folder is not replaced
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(entries(), 1u);
}

}  // namespace
