// The server program when the disk is full: saving fails, the build says so,
// the program ends with status -1 and every file it meant to replace is
// still the old one, byte for byte.
#include "ServerFolder.h"

#include "catalogue/InfoBlock.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string damagedBlock = "not a stored catalogue, just damage";
const std::string oldCache = std::string("\x11\x22\x33\x44", 4) + "an older record of pkg.zip";

class FullDisk : public testing::Test {
protected:
    void SetUp() override
    {
        std::string block = "KITSYNC_START\nPACKAGE full-disk\nINSTALL *.pbo addons\\\nKITSYNC_END\n";
        ASSERT_TRUE(writeZip(packages.path("pkg.zip"),
                             {{"kitsync.txt", block}, {"one.pbo", std::string(3000, 'p')}, {"two.pbo", "second"}}));
    }

    void configure(bool withPackage)
    {
        std::string ini = "port 31400\nsenddelay 11\n";
        if (withPackage)
            ini += "package file://" + packages.path("pkg.zip") + "\n";
        folder.write("kitsync.ini", ini);
    }

    // Runs the program with a write budget, answering Yes to every prompt.
    int runWithBudget(long long budget)
    {
        return folder.run("printf a | " + std::string(KITSYNC_FULL_DISK_SERVER) + " " + std::to_string(budget) +
                          " > " + folder.side("run.log") + " 2>&1");
    }
    std::string output() const { return ServerFolder::read(folder.side("run.log")); }

    TempFolder packages;
    ServerFolder folder;
};

TEST_F(FullDisk, FailedSaveEndsTheProgramAndKeepsTheDamagedBlock)
{
    configure(false);
    for (long long budget : {0LL, 1LL, 11LL, 12LL, 30LL}) {
        SCOPED_TRACE("budget " + std::to_string(budget));
        folder.write(kInfoBlockFileName, damagedBlock);
        EXPECT_EQ(runWithBudget(budget), 255);  // -1 as an exit status
        EXPECT_NE(output().find(kInfoBlockDamagedMessage), std::string::npos) << output();
        EXPECT_NE(output().find("Error: Unable to write the addon info block"), std::string::npos) << output();
        EXPECT_EQ(output().find("UDP port"), std::string::npos) << "served without a saved block";
        EXPECT_EQ(folder.readWork(kInfoBlockFileName), damagedBlock);
        // No half-written temporary is left behind either.
        EXPECT_EQ(folder.listing(), (std::set<std::string>{"kitsync.ini", kInfoBlockFileName}));
    }
}

TEST_F(FullDisk, FailedCacheAndBlockSavesKeepBothOldFilesThenRoomBuildsAgain)
{
    configure(true);
    for (long long budget : {0LL, 4LL, 40LL}) {
        SCOPED_TRACE("budget " + std::to_string(budget));
        folder.write(kInfoBlockFileName, damagedBlock);
        folder.write("pkg.zip-package.tmp", oldCache);
        EXPECT_EQ(runWithBudget(budget), 255);
        EXPECT_NE(output().find("Scanning pkg.zip"), std::string::npos) << output();
        EXPECT_NE(output().find("Warning: Could not save pkg.zip-package.tmp"), std::string::npos) << output();
        EXPECT_NE(output().find("Error: Unable to write the addon info block"), std::string::npos) << output();
        EXPECT_EQ(folder.readWork(kInfoBlockFileName), damagedBlock);
        EXPECT_EQ(folder.readWork("pkg.zip-package.tmp"), oldCache);
        // The downloaded copy is deleted as after any indexed package.
        EXPECT_EQ(folder.listing(),
                  (std::set<std::string>{"kitsync.ini", kInfoBlockFileName, "pkg.zip-package.tmp"}));
    }

    // With room again the same folder builds, saves and serves.
    int status = folder.runUntilServing(std::string(KITSYNC_FULL_DISK_SERVER) + " -1", "y");
    std::string log = ServerFolder::read(folder.side("server.log"));
    EXPECT_EQ(status, 0) << log;
    EXPECT_NE(log.find(" opened\n"), std::string::npos) << log;
    InfoBlock stored;
    EXPECT_EQ(loadInfoBlock(stored, folder.work(kInfoBlockFileName).c_str()), InfoBlockLoad::Loaded);
    std::string cache = folder.readWork("pkg.zip-package.tmp");
    EXPECT_NE(cache, oldCache);
    EXPECT_NE(cache.find("full-disk"), std::string::npos);
}

}  // namespace
