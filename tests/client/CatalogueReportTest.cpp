#include "client/CatalogueReport.h"
#include "client/JsonWriter.h"
#include "client/ProgressLine.h"

#include <gtest/gtest.h>

namespace {

TEST(CatalogueReport, ServerTextsCannotSteerTheTerminal)
{
    EXPECT_EQ(printableText("red\x1b[31m\tx\x7f\xE9"), "red\\x1b[31m\\x09x\\x7f\xE9");
}

TEST(CatalogueReport, JsonStringsEscapeEveryAwkwardByte)
{
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString(std::string("\n\x01\xE9\xFF", 4)), "\"\\u000a\\u0001\\u00e9\\u00ff\"");
}

TEST(CatalogueReport, DurationsAndProgress)
{
    EXPECT_EQ(durationText(350), "350 ms");
    EXPECT_EQ(durationText(12480), "12.4 s");
    EXPECT_EQ(durationText(185000), "3 min 05 s");
    EXPECT_EQ(durationText(7260000), "2 h 01 min");

    FetchProgress progress;
    progress.received = 5;
    progress.total = 10;
    progress.bytes = 1310;
    progress.elapsedMs = 1000;
    EXPECT_EQ(progressLine(progress, 10), "[#####.....] 5/10 chunks  1.3 kB/s");
    progress.resendRequests = 2;
    EXPECT_EQ(progressLine(progress, 4), "[##..] 5/10 chunks  1.3 kB/s  2 resent");
}

}  // namespace
