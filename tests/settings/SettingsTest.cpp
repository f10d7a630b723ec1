#include "settings/Settings.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

class SettingsFile : public ::testing::Test {
protected:
    // Writes the bytes as they are, NULs and carriage returns included.
    void write(const std::string& bytes) { temp.write("kitsync.ini", bytes); }

    bool read(const std::string& bytes)
    {
        write(bytes);
        return readSettings(path.c_str(), s);
    }

    TempFolder temp;
    std::string path = temp.path("kitsync.ini");
    Settings s;
};

TEST_F(SettingsFile, DefaultsHoldWithoutTheFile)
{
    s.serverName = "kept";
    EXPECT_FALSE(readSettings(path.c_str(), s));
    EXPECT_STREQ(s.serverName.c_str(), "kept");

    Settings fresh;
    EXPECT_STREQ(fresh.gamePort.c_str(), "2302");
    EXPECT_EQ(fresh.sendDelay, 200);
    EXPECT_FALSE(fresh.announceEnabled);
    EXPECT_STREQ(fresh.browserServer.c_str(), "browser.kitsync.invalid");
    EXPECT_STREQ(settings.gamePort.c_str(), "2302");  // the global is built before main
}

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
                     "unknownkey value\n"));
    EXPECT_STREQ(s.gamePort.c_str(), "2400");
    EXPECT_STREQ(s.serverName.c_str(), "My  Server\tone");
    EXPECT_STREQ(s.serverInfo.c_str(), "plain");
    EXPECT_TRUE(s.serverAdmin.isEmpty());
    EXPECT_TRUE(s.password.isEmpty());  // the last line wins, a missing value is ""
    EXPECT_STREQ(s.comServer.c_str(), "voice.example");
    EXPECT_STREQ(s.browserServer.c_str(), "192.0.2.7");
}

TEST_F(SettingsFile, OnlyAFirstWordStartingWithSlashesIsAComment)
{
    ASSERT_TRUE(read("// servername commented\n"
                     "   //servername alsocommented\n"
                     "\t//\n"
                     "serverinfo // kept\n"
                     "servername //\n"));
    EXPECT_STREQ(s.serverName.c_str(), "//");
    EXPECT_STREQ(s.serverInfo.c_str(), "//");
}

TEST_F(SettingsFile, PackagesKeepFileOrderAndKinds)
{
    ASSERT_TRUE(read("package http://a.example/one.zip OPTIONAL\n"
                     "package http://a.example/two.zip\n"
                     "package http://a.example/three.zip required\n"
                     "package http://a.example/four.zip Optional extra\n"));
    ASSERT_EQ(s.packageUrls.size, 4);
    ASSERT_EQ(s.packageKinds.size, 4);
    EXPECT_STREQ(s.packageUrls[0].c_str(), "http://a.example/one.zip");
    EXPECT_STREQ(s.packageUrls[3].c_str(), "http://a.example/four.zip");
    EXPECT_EQ(s.packageKinds[0], Settings::kOptionalPackage);
    EXPECT_EQ(s.packageKinds[1], Settings::kRequiredPackage);
    EXPECT_EQ(s.packageKinds[2], Settings::kRequiredPackage);
    EXPECT_EQ(s.packageKinds[3], Settings::kOptionalPackage);
    EXPECT_EQ(Settings::kOptionalPackage, 3);
    EXPECT_EQ(Settings::kRequiredPackage, 10);
}

TEST_F(SettingsFile, DeactivateLinesAccumulateTriples)
{
    ASSERT_TRUE(read("deactivate one two three\ndeactivate four five\n"));
    EXPECT_STREQ(s.deactivations.c_str(), "one:two:three:four:five::");
}

TEST_F(SettingsFile, AnnounceEnablesOnAnythingButOff)
{
    const char* enabling[] = {"announce on\n", "announce yes\n", "announce\n", "announce 0\n"};
    for (const char* line : enabling) {
        Settings fresh;
        write(line);
        ASSERT_TRUE(readSettings(path.c_str(), fresh));
        EXPECT_TRUE(fresh.announceEnabled) << line;
    }
    ASSERT_TRUE(read("announce OFF\n"));
    EXPECT_FALSE(s.announceEnabled);
    ASSERT_TRUE(read("announce on\nannounce off\n"));
    EXPECT_TRUE(s.announceEnabled);
}

TEST_F(SettingsFile, SendDelayAboveTenOnly)
{
    ASSERT_TRUE(read("senddelay 10\n"));
    EXPECT_EQ(s.sendDelay, 200);
    ASSERT_TRUE(read("senddelay 11\n"));
    EXPECT_EQ(s.sendDelay, 11);
    ASSERT_TRUE(read("senddelay fast\nsenddelay\nsenddelay -500\n"));
    EXPECT_EQ(s.sendDelay, 11);
    ASSERT_TRUE(read("senddelay 99999999999999999999\n"));  // clamps instead of wrapping
    EXPECT_EQ(s.sendDelay, INT32_MAX);
    ASSERT_TRUE(read("senddelay 250ms\n"));
    EXPECT_EQ(s.sendDelay, 250);
}

TEST_F(SettingsFile, CarriageReturnsAndMissingFinalFeed)
{
    ASSERT_TRUE(read("servername alpha\r\nport 2500\r\nserverinfo last"));
    EXPECT_STREQ(s.serverName.c_str(), "alpha");
    EXPECT_STREQ(s.gamePort.c_str(), "2500");
    EXPECT_STREQ(s.serverInfo.c_str(), "last");
}

TEST_F(SettingsFile, NulBytesEndLines)
{
    // Mid-line the NUL cuts the line and the rest comes back as a new one.
    ASSERT_TRUE(read(std::string("servername abc\0serverinfo def\n\nserveradmin x\n", 45)));
    EXPECT_STREQ(s.serverName.c_str(), "abc");
    EXPECT_STREQ(s.serverInfo.c_str(), "def");
    EXPECT_STREQ(s.serverAdmin.c_str(), "x");

    // At the start of a line it ends the file.
    Settings fresh;
    write(std::string("servername one\n\0servername two\n", 32));
    ASSERT_TRUE(readSettings(path.c_str(), fresh));
    EXPECT_STREQ(fresh.serverName.c_str(), "one");
}

TEST_F(SettingsFile, ReadLineDeliversEveryLine)
{
    std::string longLine(10000, 'x');
    write("first\n\n" + longLine + "\nlast");
    std::FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    RefString line;
    ASSERT_TRUE(readLine(file, line));
    EXPECT_STREQ(line.c_str(), "first");
    ASSERT_TRUE(readLine(file, line));
    EXPECT_TRUE(line.isEmpty());
    ASSERT_TRUE(readLine(file, line));
    EXPECT_EQ(std::string(line.c_str()), longLine);
    RefString shared = line;  // a shared block is not overwritten
    ASSERT_TRUE(readLine(file, line));
    EXPECT_STREQ(line.c_str(), "last");
    EXPECT_EQ(shared.length(), 10000);
    EXPECT_FALSE(readLine(file, line));
    EXPECT_TRUE(line.isEmpty());
    std::fclose(file);
}

}  // namespace
