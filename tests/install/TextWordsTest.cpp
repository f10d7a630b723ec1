#include "install/TextWords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> wordsOf(const char* line)
{
    StringArray words;
    splitWords(RefString(line), words);
    std::vector<std::string> out;
    for (int32_t i = 0; i < words.size; ++i)
        out.emplace_back(words[i].c_str());
    return out;
}

using Words = std::vector<std::string>;

TEST(TakeLine, CutsLinesWithTheirEndings)
{
    RefString text("first\r\nsecond\n\nlast words");
    for (const char* line : {"first\r\n", "second\n", "\n", "last words", ""})
        EXPECT_STREQ(takeLine(text).c_str(), line);
    EXPECT_EQ(text.length(), 0);
}

TEST(SplitWords, SeparatorsAndQuotes)
{
    EXPECT_EQ(wordsOf(" \t \n"), Words{});
    EXPECT_EQ(wordsOf("INSTALL \"my file.pbo\" addons"), (Words{"INSTALL", "my file.pbo", "addons"}));
    EXPECT_EQ(wordsOf("a\bb"), (Words{"a", "b"}));
    EXPECT_EQ(wordsOf("a\vb\fc\rd"), (Words{"a", "b", "c", "d"}));
    EXPECT_EQ(wordsOf("x \"\" y"), (Words{"x", "y"}));
    EXPECT_EQ(wordsOf("pre\"quoted text\"post"), (Words{"pre", "quoted text", "post"}));
    EXPECT_EQ(wordsOf("open \"never closed\r\n"), (Words{"open", "never closed\r\n"}));
    EXPECT_EQ(wordsOf("  lead  trail  "), (Words{"lead", "trail"}));
    EXPECT_EQ(wordsOf("\xe9t\xe9 8bit"), (Words{"\xe9t\xe9", "8bit"}));
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

}  // namespace
