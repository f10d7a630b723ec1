#include "query/CatalogueReport.h"

#include "common/JsonWriter.h"
#include "query/ProgressLine.h"

#include <gtest/gtest.h>

namespace {

// Texts that reach a terminal or a JSON reader: the server's cannot steer
// the terminal, and every awkward byte is escaped.
TEST(CatalogueReport, TextsNumbersDurationsAndProgress)
{
    EXPECT_EQ(catalogueIdText(500), "1f4");
    EXPECT_EQ(catalogueIdText(0), "0");
    EXPECT_EQ(catalogueIdText(UINT64_MAX), "ffffffffffffffff");
    EXPECT_EQ(printableText("red\x1b[31m\tx\x7f\xE9"), "red\\x1b[31m\\x09x\\x7f\xE9");
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString(std::string("\n\x01\xE9\xFF", 4)), "\"\\u000a\\u0001\\u00e9\\u00ff\"");
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

// The game state line of the summary: a server that never had a report
// sends 0xFFFF with an age that belongs to no state, so no age is shown.
TEST(CatalogueReport, GameStateLineShowsAnAgeOnlyForAKnownState)
{
    struct Case {
        bool hasGameState;
        uint16_t state;
        uint32_t ageMs;
        const char* shown;
    };
    const Case cases[] = {
        {true, 2, 5000, "2, held for 5.0 s"},
        {true, 0, 350, "0, held for 350 ms"},
        {true, 0xFFFE, 185000, "65534, held for 3 min 05 s"},
        {true, wire::kNoGameState, 3129000, "none known"},
        {true, wire::kNoGameState, 0, "none known"},
        {false, 2, 5000, "not reported (the server gave the short answer)"},
    };
    for (const Case& c : cases) {
        ServerSummary summary;
        summary.endpoint = "host:2322";
        summary.answer.hasGameState = c.hasGameState;
        summary.answer.gameState = c.state;
        summary.answer.stateAgeMs = c.ageMs;
        std::string text = summaryText(summary);
        EXPECT_NE(text.find(std::string("  Game state:    ") + c.shown + "\n"), std::string::npos) << text;
    }
}

}  // namespace
