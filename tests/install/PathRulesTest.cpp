#include "install/PathRules.h"
#include "install/TextWords.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>

namespace {

// The pieces joined, each followed by '|'.
std::string joined(const StringArray& pieces)
{
    std::string all;
    for (int32_t i = 0; i < pieces.size; ++i)
        all += std::string(pieces[i].c_str()) + "|";
    return all;
}

std::string parts(const char* path)
{
    StringArray parts;
    splitPath(path, parts);
    return joined(parts);
}

TEST(TakeLine, CutsLinesWithTheirEndings)
{
    RefString text("first\r\nsecond\n\nlast words");
    for (const char* line : {"first\r\n", "second\n", "\n", "last words", ""})
        EXPECT_STREQ(takeLine(text).c_str(), line);
    EXPECT_EQ(text.length(), 0);
}

TEST(SplitWords, SeparatorsAndQuotes)
{
    const char* const cases[][2] = {
        {" \t \n", ""},
        {"INSTALL \"my file.pbo\" addons", "INSTALL|my file.pbo|addons|"},
        {"a\bb", "a|b|"},
        {"a\vb\fc\rd", "a|b|c|d|"},
        {"x \"\" y", "x|y|"},
        {"pre\"quoted text\"post", "pre|quoted text|post|"},
        {"open \"never closed\r\n", "open|never closed\r\n|"},
        {"  lead  trail  ", "lead|trail|"},
        {"\xe9t\xe9 8bit", "\xe9t\xe9|8bit|"},
    };
    for (const auto& c : cases) {
        StringArray words;
        splitWords(RefString(c[0]), words);
        EXPECT_EQ(joined(words), c[1]) << c[0];
    }
}

TEST(SplitWords, ReuseLeavesNoStaleWords)
{
    StringArray words;
    splitWords(RefString("one two three four"), words);
    EXPECT_EQ(words.size, 4);
    splitWords(RefString("five"), words);
    EXPECT_EQ(words.size, 1);
    EXPECT_STREQ(words[0].c_str(), "five");
    EXPECT_EQ(words[1].length(), 0);
}

TEST(PathRules, BackslashesSplittingAndSafety)
{
    RefString shared("addons/x/y.pbo");
    RefString holder = shared;
    EXPECT_STREQ(toBackslashes(shared).c_str(), "addons\\x\\y.pbo");
    EXPECT_STREQ(holder.c_str(), "addons/x/y.pbo");
    EXPECT_EQ(parts("\\\\a//b\\"), "a|b|");
    EXPECT_EQ(parts("\\/\\"), "");
    EXPECT_STREQ(fileNameOf("addons\\x.pbo").c_str(), "x.pbo");
    EXPECT_STREQ(fileNameOf("x.pbo").c_str(), "x.pbo");
    EXPECT_STREQ(fileNameOf("addons\\").c_str(), "");

    for (const char* unsafe : {"..", "..\\x", "a\\..\\b", "a\\..b", "...", "a\\..foo"})
        EXPECT_FALSE(isSafePath(unsafe)) << unsafe;
    for (const char* safe : {"a..b", "a\\.x", "", ".hidden", "x\\y.", "a.\\.b"})
        EXPECT_TRUE(isSafePath(safe)) << safe;
}

// The definition, transcribed literally: recursion that tries every
// position behind each star, with case folded for ASCII letters alone.
bool referenceMatch(const char* name, const char* pattern)
{
    auto lower = [](char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch; };
    if (*pattern == '\0')
        return *name == '\0';
    if (*pattern == '*') {
        if (pattern[1] == '\0')
            return true;
        for (const char* p = name;; ++p) {
            if (referenceMatch(p, pattern + 1))
                return true;
            if (*p == '\0')
                return false;
        }
    }
    if (*pattern == '?')
        return *name != '\0' && referenceMatch(name + 1, pattern + 1);
    if (*name == '\0' || lower(*pattern) != lower(*name))
        return false;
    return referenceMatch(name + 1, pattern + 1);
}

TEST(PathRules, WildcardAgreesWithTheRecursiveDefinition)
{
    std::mt19937 random(12345);
    // Brackets are plain characters, and bytes above 0x7F never fold.
    const std::string nameBytes = "abAB\\.[]\xc9\xe9", patternBytes = nameBytes + "*?**";
    for (int round = 0; round < 50000; ++round) {
        std::string name, pattern;
        for (int i = random() % 9; i > 0; --i)
            name += nameBytes[random() % nameBytes.size()];
        for (int i = random() % 7; i > 0; --i)
            pattern += patternBytes[random() % patternBytes.size()];
        ASSERT_EQ(wildcardMatch(name.c_str(), pattern.c_str()), referenceMatch(name.c_str(), pattern.c_str()))
            << "pattern '" << pattern << "' name '" << name << "'";
    }
}

TEST(PathRules, ManyStarsAgainstALongNameStayFast)
{
    std::string name(259, 'a');
    std::string pattern;
    for (int i = 0; i < 40; ++i)
        pattern += "*a";
    pattern += "b";
    // Processor time, which a busy machine does not stretch as it does the clock.
    std::clock_t start = std::clock();
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(wildcardMatch(name.c_str(), pattern.c_str()));
    double perCallMs = 1000.0 * double(std::clock() - start) / CLOCKS_PER_SEC / 100;
    EXPECT_LT(perCallMs, 1.0);
}

}  // namespace
