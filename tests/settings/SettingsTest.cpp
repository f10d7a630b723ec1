#include "settings/Settings.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

namespace {

class SettingsFile : public ::testing::Test {
protected:
    // Reads the bytes as they are, NULs and carriage returns included, into fresh settings.
    bool read(const std::string& bytes)
    {
        temp.write("kitsync.ini", bytes);
        s = std::make_unique<Settings>();
        return readSettings(path.c_str(), *s);
    }

    TempFolder temp;
    std::string path = temp.path("kitsync.ini");
    std::unique_ptr<Settings> s = std::make_unique<Settings>();
};

TEST_F(SettingsFile, DefaultsHoldWithoutTheFile)
{
    s->serverName = "kept";
    EXPECT_FALSE(readSettings(path.c_str(), *s));
    EXPECT_STREQ(s->serverName.c_str(), "kept");
    EXPECT_STREQ(s->gamePort.c_str(), "2302");
    EXPECT_EQ(s->sendDelay, 200);
    EXPECT_FALSE(s->announceEnabled);
    EXPECT_STREQ(s->browserServer.c_str(), "browser.kitsync.invalid");
}

// Only a first word starting with // makes a comment; the last line of a key wins.
TEST_F(SettingsFile, KeysIgnoreCaseAndTakeTheirSecondWord)
{
    ASSERT_TRUE(read("PORT 2400\n"
                     "ServerName \"My  Server\tone\" ignored words\n"
                     "serverinfo plain words\n"
                     "serveradmin\n"
                     "password secret\n"
                     "password\n"
                     "teamspeak ts.example\n"
                     "comserver voice.example\n"
                     "BrowserServer 192.0.2.7\n"
                     "unknownkey value\n"
                     "   //port 1\n"
                     "deactivate one two three\ndeactivate four five\n"));
    EXPECT_STREQ(s->gamePort.c_str(), "2400");
    EXPECT_STREQ(s->serverName.c_str(), "My  Server\tone");
    EXPECT_STREQ(s->serverInfo.c_str(), "plain");
    EXPECT_TRUE(s->serverAdmin.isEmpty());
    EXPECT_TRUE(s->password.isEmpty());
    EXPECT_STREQ(s->comServer.c_str(), "voice.example");
    EXPECT_STREQ(s->browserServer.c_str(), "192.0.2.7");
    EXPECT_STREQ(s->deactivations.c_str(), "one:two:three:four:five::");

    ASSERT_TRUE(read("// servername commented\n\t//\nserverinfo // kept\nservername //\n"));
    EXPECT_STREQ(s->serverName.c_str(), "//");
    EXPECT_STREQ(s->serverInfo.c_str(), "//");
}

TEST_F(SettingsFile, PackagesKeepFileOrderAndKinds)
{
    ASSERT_TRUE(read("package http://a.example/one.zip OPTIONAL\n"
                     "package http://a.example/two.zip\n"
                     "package http://a.example/three.zip required\n"
                     "package http://a.example/four.zip Optional extra\n"));
    ASSERT_EQ(s->packageUrls.size, 4);
    ASSERT_EQ(s->packageKinds.size, 4);
    const char* const names[] = {"one", "two", "three", "four"};
    const uint8_t kinds[] = {3, 10, 10, 3};  // the values the catalogue records carry
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::string(s->packageUrls[i].c_str()), std::string("http://a.example/") + names[i] + ".zip");
        EXPECT_EQ(s->packageKinds[i], kinds[i]) << i;
    }
}

TEST_F(SettingsFile, AnnounceAndSendDelayValues)
{
    // Once enabled, a later "off" does not disable it again.
    for (const char* line : {"announce on\n", "announce yes\n", "announce\n", "announce 0\n",
                             "announce on\nannounce off\n"}) {
        ASSERT_TRUE(read(line));
        EXPECT_TRUE(s->announceEnabled) << line;
    }
    ASSERT_TRUE(read("announce OFF\n"));
    EXPECT_FALSE(s->announceEnabled);

    // Only delays above ten count; a huge one clamps instead of wrapping.
    const std::pair<const char*, int32_t> delays[] = {{"senddelay 10\n", 200},
                                                      {"senddelay 11\nsenddelay fast\nsenddelay\nsenddelay -500\n", 11},
                                                      {"senddelay 99999999999999999999\n", INT32_MAX},
                                                      {"senddelay 250ms\n", 250}};
    for (const auto& delay : delays) {
        ASSERT_TRUE(read(delay.first));
        EXPECT_EQ(s->sendDelay, delay.second) << delay.first;
    }
}

TEST_F(SettingsFile, CarriageReturnsNulBytesAndMissingFinalFeed)
{
    ASSERT_TRUE(read("servername alpha\r\nport 2500\r\nserverinfo last"));
    EXPECT_STREQ(s->serverName.c_str(), "alpha");
    EXPECT_STREQ(s->gamePort.c_str(), "2500");
    EXPECT_STREQ(s->serverInfo.c_str(), "last");

    // Mid-line a NUL cuts the line and the rest comes back as a new one;
    // at the start of a line it ends the file.
    ASSERT_TRUE(read(std::string("servername abc\0serverinfo def\n\0servername two\n", 46)));
    EXPECT_STREQ(s->serverName.c_str(), "abc");
    EXPECT_STREQ(s->serverInfo.c_str(), "def");
}

// Lines of any length; a block that another string shares is not overwritten.
TEST_F(SettingsFile, ReadLineDeliversEveryLine)
{
    const std::string lines[] = {"first", "", std::string(10000, 'x'), "last"};
    temp.write("kitsync.ini", "first\n\n" + lines[2] + "\nlast");
    std::FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    RefString line, shared;
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(readLine(file, line));
        EXPECT_EQ(std::string(line.c_str()), lines[i]);
        EXPECT_EQ(std::string(shared.c_str()), i == 0 ? "" : lines[i - 1]);
        shared = line;
    }
    EXPECT_FALSE(readLine(file, line));
    EXPECT_TRUE(line.isEmpty());
    std::fclose(file);
}

}  // namespace
