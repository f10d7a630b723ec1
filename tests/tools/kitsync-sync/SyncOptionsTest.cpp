#include "sync/SyncOptions.h"

#include <gtest/gtest.h>

namespace {

TEST(SyncOptions, TakesTheQueryOptionsAndItsOwnInAnyOrder)
{
    SyncOptions options;
    std::string error;
    ASSERT_TRUE(parseSyncOptions({"--password", "game", "--optional", "host:2400", "--jobs", "8", "--package",
                                  "Maps", "--package", "Sounds", "C:\\Games\\Arma", "--keep", "--json"},
                                 options, error))
        << error;
    EXPECT_EQ(options.query.host, "host");
    EXPECT_EQ(options.query.port, 2400);
    EXPECT_EQ(options.query.password, "game");
    EXPECT_TRUE(options.query.json && options.optional && options.keep && !options.dryRun);
    EXPECT_EQ(options.folder, "C:\\Games\\Arma");
    EXPECT_EQ(options.jobs, 8u);
    EXPECT_EQ(options.packages, (std::vector<std::string>{"Maps", "Sounds"}));

    ASSERT_TRUE(parseSyncOptions({"host", "dir", "--game-port", "2302", "--dry-run", "--cache", "c"}, options, error));
    EXPECT_EQ(options.query.port, 2322);
    EXPECT_EQ(options.query.fallbackPort, 2342);
    EXPECT_EQ(options.cacheFolder, "c");
    EXPECT_TRUE(options.dryRun);
}

TEST(SyncOptions, RefusesWhatItCannotUse)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"host"}, "no game folder given"},
        {{"host", "dir", "extra"}, "give one server and one folder"},
        {{"host", "dir", "--jobs", "0"}, "--jobs takes a number from 1 to 16"},
        {{"host", "dir", "--jobs", "17"}, "--jobs takes a number from 1 to 16"},
        {{"host", "dir", "--check", "x"}, "unknown option --check"},
        {{"host", "dir", "--package"}, "--package needs a value"},
        {{"host:0", "dir"}, "the port in \"host:0\" is not a number from 1 to 65535"},
    };
    for (const auto& [arguments, message] : cases) {
        SyncOptions options;
        std::string error;
        EXPECT_FALSE(parseSyncOptions(arguments, options, error)) << message;
        EXPECT_EQ(error, message);
    }
}

}  // namespace
