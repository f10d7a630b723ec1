#include "client/CatalogueReport.h"
#include "client/JsonWriter.h"
#include "client/ProgressLine.h"
#include "client/QueryOptions.h"
#include "client/QueryProtocol.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(QueryProtocol, RequestsAreLittleEndianAndAnswersComeInTwoFormsOrARefusal)
{
    EXPECT_EQ(queryRequest(1040, ""), (Bytes{0x10, 0x04, 0, 0, 0}));
    EXPECT_EQ(queryRequest(1040, "pw"), (Bytes{0x10, 0x04, 0, 0, 'p', 'w', 0}));
    EXPECT_EQ(chunkRequest(), (Bytes{0x10, 0x04, 1, 0}));
    EXPECT_EQ(resendRequest(0x0102), (Bytes{0x10, 0x04, 2, 0, 0x02, 0x01}));

    const uint8_t longAnswer[18] = {0x00, 0x80, 0x03, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x12,
                                    0x00, 0x00, 0x00, 0x88, 0x13, 0x00, 0x00, 0x02, 0x00};
    QueryAnswer answer;
    ASSERT_EQ(parseQueryReply(longAnswer, 18, answer), QueryReply::answer);
    EXPECT_EQ(answer.chunkCount, 3);
    EXPECT_EQ(answer.infoBlockId, 0x12ull << 32 | 1000);
    EXPECT_TRUE(answer.hasGameState);
    EXPECT_EQ(answer.stateAgeMs, 5000u);
    EXPECT_EQ(answer.gameState, 2);
    ASSERT_EQ(parseQueryReply(longAnswer, 12, answer), QueryReply::answer);
    EXPECT_FALSE(answer.hasGameState);
    EXPECT_EQ(answer.infoBlockId, 0x12ull << 32 | 1000);
    const uint8_t refusal[4] = {0x01, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(parseQueryReply(refusal, 4, answer), QueryReply::refused);
    EXPECT_EQ(parseQueryReply(longAnswer, 13, answer), QueryReply::unrelated);
    EXPECT_EQ(parseQueryReply(refusal + 1, 3, answer), QueryReply::unrelated);
}

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

QueryOptions parsed(const std::vector<std::string>& arguments)
{
    QueryOptions options;
    std::string error;
    EXPECT_TRUE(parseQueryOptions(arguments, options, error)) << error;
    return options;
}

// Only a port derived from the game's has a second place to look: + 40.
TEST(QueryOptions, PortComesFromTheEndpointOrTheGamePort)
{
    EXPECT_EQ(parsed({"example.org"}).endpoint(), "example.org:2322");
    EXPECT_EQ(parsed({"example.org"}).fallbackEndpoint(), "example.org:2342");
    EXPECT_EQ(parsed({"10.0.0.1:2400"}).port, 2400);
    EXPECT_EQ(parsed({"10.0.0.1:2400"}).fallbackPort, 0);
    EXPECT_EQ(parsed({"host", "--game-port", "2402"}).fallbackPort, 2442);
    QueryOptions high = parsed({"host", "--game-port", "65500"});
    EXPECT_EQ(high.port, 65520);
    EXPECT_EQ(high.fallbackPort, 0);
    QueryOptions options = parsed({"--game-port", "2302", "host", "--json", "--password", "x y", "--check", "dir",
                                   "--save", "out.bin", "--timeout", "300"});
    EXPECT_EQ(options.endpoint(), "host:2322");
    EXPECT_TRUE(options.json);
    EXPECT_EQ(options.password, "x y");
    EXPECT_EQ(options.checkFolder, "dir");
    EXPECT_EQ(options.saveFile, "out.bin");
    EXPECT_EQ(options.timeoutMs, 300u);
    EXPECT_TRUE(parsed({"--help"}).help);
}

TEST(QueryOptions, RefusesWhatItCannotUse)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no server given"},
        {{"host:0"}, "the port in \"host:0\" is not a number from 1 to 65535"},
        {{"host:65536"}, "the port in \"host:65536\" is not a number from 1 to 65535"},
        {{":2322"}, "no host in \":2322\""},
        {{"host:2322", "--game-port", "2302"}, "give either HOST:PORT or --game-port, not both"},
        {{"host", "--game-port", "65516"}, "--game-port takes a number from 1 to 65515"},
        {{"host", "--password"}, "--password needs a value"},
        {{"host", "--colour"}, "unknown option --colour"},
        {{"a", "b"}, "only one server can be queried at a time"},
    };
    for (const auto& [arguments, refusal] : cases) {
        QueryOptions options;
        std::string error;
        EXPECT_FALSE(parseQueryOptions(arguments, options, error));
        EXPECT_EQ(error, refusal);
    }
}

}  // namespace
