#include "install/InstallScript.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>

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

// What the instruction file of mods.final.zip gives, in one line: "refused",
// or block or simple method, package name, <info URL> and the rules.
std::string parsed(const std::string& text)
{
    InstallScript script("dl/mods.final.zip");
    if (!parse(script, text))
        return "refused";
    script.completeDefaults();
    return std::string(script.blockFound ? "block " : "simple ") + script.packageName.c_str() + " <" +
           script.infoUrl.c_str() + "> " + rulesOf(script);
}

const char kSimpleRules[] = "IGNORE kitsync.txt|INSTALL *.pbo addons\\|EXTRACT * addons\\";
const std::string kSimple = std::string("simple mods.final <> ") + kSimpleRules;
const std::string kEmptyBlock = "block mods.final <> IGNORE kitsync.txt";

TEST(InstructionText, AcceptedTexts)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", kSimple},
        {"just a readme\r\nINSTALL *.pbo x\\", kSimple},
        {"KITSYNC_STAR", kSimple},
        {"KITSYNC_END only", kSimple},
        // A NUL ends the text: what follows it is never seen.
        {std::string("intro\0KITSYNC_START\nPACKAGE X\nKITSYNC_END", 40), kSimple},
        {"KITSYNC_START\r\nPACKAGE Tanks\r\nKITSYNC_END", "block Tanks <> IGNORE kitsync.txt"},
        // Markers in lower case, inside words, surrounded by letters.
        {"xxkitsync_startY\nPACKAGE Tanks\nINFOURL http://a/b\nzzKitSync_End tail",
         "block Tanks <http://a/b> IGNORE kitsync.txt"},
        // The P is the skipped character: the line starts with ACKAGE, no command.
        {"KITSYNC_STARTPACKAGE Tanks\nKITSYNC_END", kEmptyBlock},
        {"KITSYNC_START KITSYNC_END", kEmptyBlock},
        // The line holding the end marker still counts, cut before the marker.
        {"KITSYNC_START\nIGNORE *.txt KITSYNC_END INSTALL * x\\\nINSTALL * y\\", kEmptyBlock + "|IGNORE *.txt"},
        // Only the first block counts, and an end marker before it is not its end.
        {"KITSYNC_START\nPACKAGE One\nKITSYNC_END\nKITSYNC_START\nPACKAGE Two\nKITSYNC_END",
         "block One <> IGNORE kitsync.txt"},
        {"Close with KITSYNC_END.\nKITSYNC_START\nPACKAGE Late\nKITSYNC_END", "block Late <> IGNORE kitsync.txt"},
        {"KITSYNC_START\n  install \"*.pbo\" addons/ trailing words\n# a comment line, then an empty one\n\n"
         "Package Desert Pack\nPACKAGE \"Desert Pack\"\nInfoUrl \"http://x/y z\"\ndeactivate @old\n"
         "InstallPath \"my mods/*\"\nEXTRACT docs/* \"docs/\"\nextractpath keys\\*\nIGNORE *.bak\nKITSYNC_END",
         "block Desert Pack <http://x/y z> IGNORE kitsync.txt|INSTALL *.pbo addons\\|INSTALLPATH my mods\\*|"
         "EXTRACT docs\\* docs\\|EXTRACTPATH keys\\*|IGNORE *.bak"},
        {"KITSYNC_START\nPACKAGE Desert Pack\nKITSYNC_END", "block Desert <> IGNORE kitsync.txt"},
        // Rules keep line order; the last package name wins.
        {"KITSYNC_START\nIGNORE *.txt\nINSTALL * addons\\\nIGNORE *.pbo\nPACKAGE A\nPACKAGE B\nKITSYNC_END",
         "block B <> IGNORE kitsync.txt|IGNORE *.txt|INSTALL * addons\\|IGNORE *.pbo"},
        // A word that only looks like a command is free text.
        {"KITSYNC_START\nPACKAGES\nINSTALLER x\nKITSYNC_END", kEmptyBlock},
        {"KITSYNC_START\nINSTALL * a..b\\\nEXTRACT *.txt .hidden\\\nKITSYNC_END",
         kEmptyBlock + "|INSTALL * a..b\\|EXTRACT *.txt .hidden\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parsed(c.first), c.second) << c.first;
}

TEST(InstructionText, RefusedTexts)
{
    // No end marker after the start; a marker at the very end has no
    // character to skip, and the end marker's K can be the skipped one.
    for (const std::string& text : {std::string("KITSYNC_START\nPACKAGE Tanks\n"),
                                    std::string("KITSYNC_START\nPACKAGE T\0KITSYNC_END", 34),
                                    std::string("KITSYNC_START"), std::string("KITSYNC_STARTKITSYNC_END"),
                                    std::string("KITSYNC_END KITSYNC_START\nPACKAGE Late\n")})
        EXPECT_EQ(parsed(text), "refused") << text;
    // Too few words, and paths that climb out or name a drive or stream.
    for (const char* line : {"PACKAGE", "INFOURL", "DEACTIVATE", "INSTALLPATH", "EXTRACTPATH", "IGNORE",
                             "INSTALL *.pbo", "EXTRACT *", "install \"\" \"\"", "INSTALLPATH ..", "IGNORE ..\\x",
                             "EXTRACTPATH ../x", "INSTALL *.pbo ..", "INSTALL * a\\..foo", "EXTRACT * addons/../../",
                             "INSTALL *.pbo C:\\windows\\", "INSTALLPATH c:*", "EXTRACT * a\\b:stream"})
        EXPECT_EQ(parsed(std::string("KITSYNC_START\nPACKAGE Early\n") + line + "\nKITSYNC_END"), "refused") << line;
}

TEST(InstructionText, DefaultPackageNames)
{
    const std::pair<const char*, const char*> cases[] = {{"mods.zip", "mods"}, {"mods.final.zip", "mods.final"},
                                                         {"mods", "mods"},     {".zip", ".zip"},
                                                         {"dl/v1.2\\pack.zip", "pack"}, {"dl.d/pack", "pack"},
                                                         {"", ""}};
    for (const auto& c : cases)
        EXPECT_STREQ(defaultPackageName(c.first).c_str(), c.second) << c.first;
}

// Two million empty lines: each line must cost its own length, not the
// length of the rest of the block. Quadratic parsing takes about a minute
// here; linear, a fraction of a second even under the sanitizers and Wine.
TEST(InstructionText, LongBlocksParseInLinearTime)
{
    std::string text = "KITSYNC_START\n" + std::string(1000000, '\n') + "PACKAGE Big\r\nINSTALL *.pbo x\\\n";
    text += std::string(1000000, '\n') + "IGNORE *.txt KITSYNC_END";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(parsed(text), "block Big <> IGNORE kitsync.txt|INSTALL *.pbo x\\|IGNORE *.txt");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace

namespace {

// Each refused path next to the nearest one that passes, so a screen that
// refuses too much fails as surely as one that lets too much through.
TEST(ClientPathScreen, RefusesWhatCouldLeaveTheFolderOrOpenADevice)
{
    const char* const safe[] = {
        "addons\\x.pbo", "addons/sub/y.pbo", "a.b.c", "..x", "x..", ".hidden", "cons.txt", "com10", "com0",
        "lpt", "auxiliary\\file", "nul_\\x", "cons\\..x", "\xE9t\xE9\\n\x80.pbo", "comA"};
    for (const char* path : safe)
        EXPECT_TRUE(isSafeClientPath(path)) << path;
    const std::string refused[] = {
        "", "\\addons\\x.pbo", "/etc/passwd", "addons\\\\x.pbo", "addons\\", "..\\x", "a\\..\\..\\x", "a\\.\\x",
        ".", "...", ". .", "c:x", "C:\\x", "x.pbo:stream", "a\\b\tc", "new\nline", "esc\x1b[2J", "del\x7f",
        std::string("nul\0byte", 8), "CON", "con.txt", "Con.tar.gz", "aux\\x", "x\\PRN", "nul .txt", "NUL...",
        "com1", "COM9.log", "lpt5", "LPT1 ", "conin$", "CONOUT$.x"};
    for (const std::string& path : refused)
        EXPECT_FALSE(isSafeClientPath(path)) << path;
    EXPECT_TRUE(isSafeClientName("x.pbo"));
    EXPECT_FALSE(isSafeClientName("a\\b"));
    EXPECT_FALSE(isSafeClientName("a/b"));
}

}  // namespace
