#include "install/InstallScript.h"

#include "install/PathRules.h"
#include "support/TempFolder.h"
#include "support/ZipBytes.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace {

// Hands the parser a block of exactly the text's size, so that a read past
// its NUL shows up under AddressSanitizer.
bool parse(InstallScript& script, const std::string& text)
{
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    std::memcpy(exact.get(), text.data(), text.size());
    exact[text.size()] = '\0';
    return script.parseInstructionText(exact.get());
}

std::string describe(const InstallRule& rule)
{
    return std::string(commandNameOf(rule.kind)) + " " + rule.pattern.c_str() +
           (rule.destination.isEmpty() ? "" : std::string(" ") + rule.destination.c_str());
}

std::string rulesOf(const InstallScript& script)
{
    std::string all;
    for (int32_t i = 0; i < script.rules.size; ++i)
        all += (i == 0 ? "" : "|") + describe(*script.rules[i]);
    return all;
}

const char kSimpleRules[] = "IGNORE kitsync.txt|INSTALL *.pbo addons\\|EXTRACT * addons\\";

// Parses a text as the instruction file of mods.final.zip and completes it.
struct Parsed {
    explicit Parsed(const std::string& text) : script("dl/mods.final.zip")
    {
        ok = parse(script, text);
        if (ok)
            script.completeDefaults();
    }
    InstallScript script;
    bool ok;
};

TEST(InstructionText, WithoutBlockTheSimpleMethodApplies)
{
    for (const char* text : {"", "just a readme\r\nINSTALL *.pbo x\\", "KITSYNC_STAR", "KITSYNC_END only"}) {
        Parsed p(text);
        ASSERT_TRUE(p.ok) << text;
        EXPECT_FALSE(p.script.blockFound);
        EXPECT_EQ(rulesOf(p.script), kSimpleRules);
        EXPECT_STREQ(p.script.packageName.c_str(), "mods.final");
        EXPECT_STREQ(p.script.infoUrl.c_str(), "");
    }
    // A NUL ends the text: what follows it is never seen.
    Parsed hidden(std::string("intro\0KITSYNC_START\nPACKAGE X\nKITSYNC_END", 40));
    ASSERT_TRUE(hidden.ok);
    EXPECT_FALSE(hidden.script.blockFound);
    EXPECT_EQ(rulesOf(hidden.script), kSimpleRules);
}

TEST(InstructionText, MarkersAndTheSkippedCharacter)
{
    Parsed crlf("KITSYNC_START\r\nPACKAGE Tanks\r\nKITSYNC_END");
    ASSERT_TRUE(crlf.ok);
    EXPECT_TRUE(crlf.script.blockFound);
    EXPECT_STREQ(crlf.script.packageName.c_str(), "Tanks");
    EXPECT_EQ(rulesOf(crlf.script), "IGNORE kitsync.txt");

    // Lower case, inside words, surrounded by letters.
    Parsed embedded("xxkitsync_startY\nPACKAGE Tanks\nINFOURL http://a/b\nzzKitSync_End tail");
    ASSERT_TRUE(embedded.ok);
    EXPECT_TRUE(embedded.script.blockFound);
    EXPECT_STREQ(embedded.script.packageName.c_str(), "Tanks");
    EXPECT_STREQ(embedded.script.infoUrl.c_str(), "http://a/b");

    // The P is the skipped character: the line starts with ACKAGE, no command.
    Parsed glued("KITSYNC_STARTPACKAGE Tanks\nKITSYNC_END");
    ASSERT_TRUE(glued.ok);
    EXPECT_TRUE(glued.script.blockFound);
    EXPECT_STREQ(glued.script.packageName.c_str(), "mods.final");

    // The line holding the end marker still counts, cut before the marker.
    Parsed midLine("KITSYNC_START\nIGNORE *.txt KITSYNC_END INSTALL * x\\\nINSTALL * y\\");
    ASSERT_TRUE(midLine.ok);
    EXPECT_EQ(rulesOf(midLine.script), "IGNORE kitsync.txt|IGNORE *.txt");

    // Only the first block counts.
    Parsed twice("KITSYNC_START\nPACKAGE One\nKITSYNC_END\nKITSYNC_START\nPACKAGE Two\nKITSYNC_END");
    ASSERT_TRUE(twice.ok);
    EXPECT_STREQ(twice.script.packageName.c_str(), "One");
}

TEST(InstructionText, EndMarkerMustFollowTheBlockStart)
{
    EXPECT_FALSE(Parsed("KITSYNC_START\nPACKAGE Tanks\n").ok);
    EXPECT_FALSE(Parsed(std::string("KITSYNC_START\nPACKAGE T\0KITSYNC_END", 34)).ok);
    // A marker at the very end has no character to skip; nothing past the
    // text is read.
    EXPECT_FALSE(Parsed("KITSYNC_START").ok);
    // The end marker's K is the skipped character: no end marker follows.
    EXPECT_FALSE(Parsed("KITSYNC_STARTKITSYNC_END").ok);
    Parsed empty("KITSYNC_START KITSYNC_END");
    ASSERT_TRUE(empty.ok);
    EXPECT_TRUE(empty.script.blockFound);
    EXPECT_EQ(rulesOf(empty.script), "IGNORE kitsync.txt");

    // An end marker before the start marker is not the block's end.
    Parsed earlier("Close with KITSYNC_END.\nKITSYNC_START\nPACKAGE Late\nKITSYNC_END");
    ASSERT_TRUE(earlier.ok);
    EXPECT_TRUE(earlier.script.blockFound);
    EXPECT_STREQ(earlier.script.packageName.c_str(), "Late");
    EXPECT_FALSE(Parsed("KITSYNC_END KITSYNC_START\nPACKAGE Late\n").ok);
}

TEST(InstructionText, CommandsWordsAndQuotes)
{
    Parsed p("KITSYNC_START\n"
             "  install \"*.pbo\" addons/ trailing words\n"
             "# a comment line, then an empty one\n"
             "\n"
             "Package Desert Pack\n"
             "PACKAGE \"Desert Pack\"\n"
             "InfoUrl \"http://x/y z\"\n"
             "deactivate @old\n"
             "InstallPath \"my mods/*\"\n"
             "EXTRACT docs/* \"docs/\"\n"
             "extractpath keys\\*\n"
             "IGNORE *.bak\n"
             "KITSYNC_END");
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.script.blockFound);
    EXPECT_STREQ(p.script.packageName.c_str(), "Desert Pack");
    EXPECT_STREQ(p.script.infoUrl.c_str(), "http://x/y z");
    EXPECT_EQ(rulesOf(p.script), "IGNORE kitsync.txt|INSTALL *.pbo addons\\|INSTALLPATH my mods\\*|"
                                 "EXTRACT docs\\* docs\\|EXTRACTPATH keys\\*|IGNORE *.bak");
    EXPECT_EQ(p.script.rules[1]->kind, RuleKind::Install);
    EXPECT_EQ(p.script.rules[3]->kind, RuleKind::Extract);

    Parsed unquoted("KITSYNC_START\nPACKAGE Desert Pack\nKITSYNC_END");
    EXPECT_STREQ(unquoted.script.packageName.c_str(), "Desert");
}

TEST(InstructionText, TooFewWordsFailTheRead)
{
    for (const char* line : {"PACKAGE", "INFOURL", "DEACTIVATE", "INSTALLPATH", "EXTRACTPATH", "IGNORE",
                             "INSTALL *.pbo", "EXTRACT *", "install \"\" \"\""}) {
        Parsed p(std::string("KITSYNC_START\nPACKAGE Early\n") + line + "\nKITSYNC_END");
        EXPECT_FALSE(p.ok) << line;
        EXPECT_FALSE(p.script.blockFound) << line;
    }
    // A word that only looks like a command is free text.
    EXPECT_TRUE(Parsed("KITSYNC_START\nPACKAGES\nINSTALLER x\nKITSYNC_END").ok);
}

TEST(InstructionText, UnsafePathsFailTheRead)
{
    for (const char* line : {"INSTALLPATH ..", "IGNORE ..\\x", "EXTRACTPATH ../x", "INSTALL *.pbo ..",
                             "INSTALL * a\\..foo", "EXTRACT * addons/../../", "INSTALL *.pbo C:\\windows\\",
                             "INSTALLPATH c:*", "EXTRACT * a\\b:stream"}) {
        EXPECT_FALSE(Parsed(std::string("KITSYNC_START\n") + line + "\nKITSYNC_END").ok) << line;
    }
    Parsed fine("KITSYNC_START\nINSTALL * a..b\\\nEXTRACT *.txt .hidden\\\nKITSYNC_END");
    ASSERT_TRUE(fine.ok);
    EXPECT_EQ(rulesOf(fine.script), "IGNORE kitsync.txt|INSTALL * a..b\\|EXTRACT *.txt .hidden\\");
}

TEST(InstructionText, RulesKeepLineOrderBehindTheInstructionFileRule)
{
    Parsed p("KITSYNC_START\nIGNORE *.txt\nINSTALL * addons\\\nIGNORE *.pbo\nPACKAGE A\nPACKAGE B\nKITSYNC_END");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(rulesOf(p.script), "IGNORE kitsync.txt|IGNORE *.txt|INSTALL * addons\\|IGNORE *.pbo");
    EXPECT_STREQ(p.script.packageName.c_str(), "B");
}

TEST(InstructionText, DefaultPackageNames)
{
    EXPECT_STREQ(defaultPackageName("mods.zip").c_str(), "mods");
    EXPECT_STREQ(defaultPackageName("mods.final.zip").c_str(), "mods.final");
    EXPECT_STREQ(defaultPackageName("mods").c_str(), "mods");
    EXPECT_STREQ(defaultPackageName(".zip").c_str(), ".zip");
    EXPECT_STREQ(defaultPackageName("dl/v1.2\\pack.zip").c_str(), "pack");
    EXPECT_STREQ(defaultPackageName("dl.d/pack").c_str(), "pack");
    EXPECT_STREQ(defaultPackageName("").c_str(), "");
}

// Two million empty lines: each line must cost its own length, not the
// length of the rest of the block. Quadratic parsing takes about a minute
// here; linear, a fraction of a second even under the sanitizers and Wine.
TEST(InstructionText, LongBlocksParseInLinearTime)
{
    std::string text = "KITSYNC_START\n" + std::string(1000000, '\n') + "PACKAGE Big\r\nINSTALL *.pbo x\\\n";
    text += std::string(1000000, '\n') + "IGNORE *.txt KITSYNC_END";
    auto start = std::chrono::steady_clock::now();
    Parsed p(text);
    auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(p.ok);
    EXPECT_STREQ(p.script.packageName.c_str(), "Big");
    EXPECT_EQ(rulesOf(p.script), "IGNORE kitsync.txt|INSTALL *.pbo x\\|IGNORE *.txt");
    EXPECT_LT(took, std::chrono::seconds(10));
}

// Random texts made of the grammar's pieces: the parser must neither crash
// nor read outside the text, and whatever it accepts must be screened.
TEST(InstructionText, RandomTextsKeepTheInvariants)
{
    const std::string pieces[] = {"KITSYNC_START", "kitsync_end", "KITSYNC_END", "\n",  "\r\n", " ", "\"", "\t",
                            "INSTALL",       "installpath", "EXTRACT",     "extractpath", "IGNORE", "PACKAGE",
                            "INFOURL",       "DEACTIVATE",  "*.pbo",       "addons/",     "..", "\\", "/",
                            "c:",            "x",           "..\\y",       std::string(1, '\0')};
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        int n = static_cast<int>(random() % 24);
        for (int i = 0; i < n; ++i) {
            if (random() % 8 == 0)
                text += static_cast<char>(random() % 256);
            else
                text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
        }
        InstallScript script("p.zip");
        if (!parse(script, text))
            continue;
        script.completeDefaults();
        ASSERT_GE(script.rules.size, 1) << text;
        EXPECT_EQ(describe(*script.rules[0]), "IGNORE kitsync.txt");
        for (int32_t i = 1; i < script.rules.size; ++i) {
            const InstallRule& rule = *script.rules[i];
            EXPECT_TRUE(isSafeInstallPath(rule.pattern) && isSafeInstallPath(rule.destination)) << text;
            EXPECT_EQ(std::strchr(rule.pattern.c_str(), '/'), nullptr) << text;
            EXPECT_EQ(std::strchr(rule.destination.c_str(), '/'), nullptr) << text;
        }
    }
}

const char kBlock[] = "Tanks for everyone\r\nKITSYNC_START\r\nPACKAGE \"Tank Pack\"\r\nINFOURL http://t/\r\n"
                      "INSTALL *.pbo addons/\r\nKITSYNC_END\r\n";

TEST(InstallScriptArchive, FindsTheRootInstructionFileInAnyCase)
{
    TempFolder temp;
    {
        ZipWriter zip(temp.path("tanks.zip"));
        ASSERT_TRUE(zip.add("Docs/kitsync.txt", "KITSYNC_START\nPACKAGE Wrong\nKITSYNC_END"));
        ASSERT_TRUE(zip.addFolder("kitsync.txt"));
        ASSERT_TRUE(zip.add("KitSync.Txt", kBlock, 0));
        ASSERT_TRUE(zip.add("kitsync.txt", "KITSYNC_START\nPACKAGE Second\nKITSYNC_END"));
    }
    InstallScript script(temp.path("tanks.zip").c_str());
    ASSERT_TRUE(script.readInstallScript());
    EXPECT_NE(script.zipHandle, nullptr);
    EXPECT_TRUE(script.blockFound);
    EXPECT_STREQ(script.packageName.c_str(), "Tank Pack");
    EXPECT_STREQ(script.infoUrl.c_str(), "http://t/");
    EXPECT_EQ(rulesOf(script), "IGNORE kitsync.txt|INSTALL *.pbo addons\\");
}

TEST(InstallScriptArchive, InstructionFileInAFolderDoesNotCount)
{
    TempFolder temp;
    temp.write("src/Docs/KITSYNC.TXT", kBlock);
    temp.write("src/a.pbo", "pbo");
    ASSERT_TRUE(temp.run("cd src && zip -q -r ../docs.zip Docs a.pbo"));
    InstallScript script(temp.path("docs.zip").c_str());
    ASSERT_TRUE(script.readInstallScript());
    EXPECT_FALSE(script.blockFound);
    EXPECT_EQ(rulesOf(script), kSimpleRules);
    EXPECT_STREQ(script.packageName.c_str(), "docs");
}

TEST(InstallScriptArchive, InfoZipArchivesStoredDeflatedAndStreamed)
{
    TempFolder temp;
    temp.write("src/kitsync.txt", kBlock);
    temp.write("src/a.pbo", std::string(5000, 'a'));
    ASSERT_TRUE(temp.run("cd src && zip -q -0 ../stored.zip kitsync.txt a.pbo"));
    ASSERT_TRUE(temp.run("cd src && zip -q -9 ../deflated.zip kitsync.txt a.pbo"));
    // Written to a pipe, zip cannot seek back: sizes and CRCs follow the
    // data in descriptors.
    ASSERT_TRUE(temp.run("cd src && zip -q - kitsync.txt a.pbo | cat > ../streamed.zip"));
    EXPECT_NE(ZipBytes(temp.path("streamed.zip")).flags("kitsync.txt") & 8, 0);
    for (const char* name : {"stored.zip", "deflated.zip", "streamed.zip"}) {
        InstallScript script(temp.path(name).c_str());
        ASSERT_TRUE(script.readInstallScript()) << name;
        EXPECT_TRUE(script.blockFound) << name;
        EXPECT_STREQ(script.packageName.c_str(), "Tank Pack") << name;
    }
}

TEST(InstallScriptArchive, UnreadableArchivesFail)
{
    TempFolder temp;
    temp.write("text.zip", "this is not a zip archive, only text that claims the name");
    {
        ZipWriter empty(temp.path("empty.zip"));
    }
    for (const char* name : {"missing.zip", "text.zip", "empty.zip"}) {
        InstallScript script(temp.path(name).c_str());
        EXPECT_FALSE(script.readInstallScript()) << name;
    }
}

TEST(InstallScriptArchive, OversizedInstructionFileIsRefused)
{
    TempFolder temp;
    std::string text = "KITSYNC_START\nPACKAGE Big\nKITSYNC_END\n";
    std::string limit = text + std::string(InstallScript::kMaxInstructionSize - text.size(), ' ');
    {
        ZipWriter atLimit(temp.path("limit.zip"));
        ASSERT_TRUE(atLimit.add("kitsync.txt", limit));
        ZipWriter over(temp.path("over.zip"));
        ASSERT_TRUE(over.add("kitsync.txt", limit + " "));
    }
    InstallScript fits(temp.path("limit.zip").c_str());
    ASSERT_TRUE(fits.readInstallScript());
    EXPECT_STREQ(fits.packageName.c_str(), "Big");
    InstallScript tooBig(temp.path("over.zip").c_str());
    EXPECT_FALSE(tooBig.readInstallScript());
}

TEST(InstallScriptArchive, LongEntryNamesAreSkipped)
{
    TempFolder temp;
    {
        ZipWriter zip(temp.path("long.zip"));
        ASSERT_TRUE(zip.add(std::string(259, 'a'), "x"));
        ASSERT_TRUE(zip.add("kitsync.txt" + std::string(249, ' '), "x"));  // 260 bytes
        ASSERT_TRUE(zip.add(std::string(400, 'b') + "/kitsync.txt", "x"));
        ASSERT_TRUE(zip.add("kitsync.txt", kBlock));
    }
    InstallScript script(temp.path("long.zip").c_str());
    ASSERT_TRUE(script.readInstallScript());
    EXPECT_STREQ(script.packageName.c_str(), "Tank Pack");
}

TEST(InstallScriptArchive, BadBlockInTheArchiveFails)
{
    TempFolder temp;
    {
        ZipWriter zip(temp.path("bad.zip"));
        ASSERT_TRUE(zip.add("kitsync.txt", "KITSYNC_START\nINSTALLPATH ../*\nKITSYNC_END"));
    }
    InstallScript script(temp.path("bad.zip").c_str());
    EXPECT_FALSE(script.readInstallScript());
    EXPECT_NE(script.zipHandle, nullptr);  // left for the destructor to close
}

}  // namespace
