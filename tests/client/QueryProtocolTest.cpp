#include "client/QueryOptions.h"
#include "client/QueryProtocol.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(QueryProtocol, RequestsAreLittleEndian)
{
    EXPECT_EQ(queryRequest(1040, ""), (Bytes{0x10, 0x04, 0, 0, 0}));
    EXPECT_EQ(queryRequest(1040, "pw"), (Bytes{0x10, 0x04, 0, 0, 'p', 'w', 0}));
    EXPECT_EQ(chunkRequest(), (Bytes{0x10, 0x04, 1, 0}));
    EXPECT_EQ(resendRequest(0x0102), (Bytes{0x10, 0x04, 2, 0, 0x02, 0x01}));
}

TEST(QueryProtocol, ReadsBothAnswerFormsAndTheRefusal)
{
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

TEST(QueryProtocol, IdentifierTextHasNoLeadingZeros)
{
    EXPECT_EQ(catalogueIdText(500), "1f4");
    EXPECT_EQ(catalogueIdText(0), "0");
    EXPECT_EQ(catalogueIdText(UINT64_MAX), "ffffffffffffffff");
}

QueryOptions parsed(const std::vector<std::string>& arguments)
{
    QueryOptions options;
    std::string error;
    EXPECT_TRUE(parseQueryOptions(arguments, options, error)) << error;
    return options;
}

std::string refusal(const std::vector<std::string>& arguments)
{
    QueryOptions options;
    std::string error;
    EXPECT_FALSE(parseQueryOptions(arguments, options, error));
    return error;
}

TEST(QueryOptions, PortComesFromTheEndpointOrTheGamePort)
{
    EXPECT_EQ(parsed({"example.org"}).endpoint(), "example.org:2322");
    EXPECT_EQ(parsed({"10.0.0.1:2400"}).port, 2400);
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

// Only a port derived from the game's has a second place to look.
TEST(QueryOptions, FallbackPortIsTheGamePortPlusForty)
{
    EXPECT_EQ(parsed({"example.org"}).fallbackEndpoint(), "example.org:2342");
    EXPECT_EQ(parsed({"host", "--game-port", "2402"}).fallbackPort, 2442);
    EXPECT_EQ(parsed({"10.0.0.1:2400"}).fallbackPort, 0);
    QueryOptions high = parsed({"host", "--game-port", "65500"});
    EXPECT_EQ(high.port, 65520);
    EXPECT_EQ(high.fallbackPort, 0);
}

TEST(QueryOptions, RefusesWhatItCannotUse)
{
    EXPECT_EQ(refusal({}), "no server given");
    EXPECT_EQ(refusal({"host:0"}), "the port in \"host:0\" is not a number from 1 to 65535");
    EXPECT_EQ(refusal({"host:65536"}), "the port in \"host:65536\" is not a number from 1 to 65535");
    EXPECT_EQ(refusal({":2322"}), "no host in \":2322\"");
    EXPECT_EQ(refusal({"host:2322", "--game-port", "2302"}), "give either HOST:PORT or --game-port, not both");
    EXPECT_EQ(refusal({"host", "--game-port", "65516"}), "--game-port takes a number from 1 to 65515");
    EXPECT_EQ(refusal({"host", "--password"}), "--password needs a value");
    EXPECT_EQ(refusal({"host", "--colour"}), "unknown option --colour");
    EXPECT_EQ(refusal({"a", "b"}), "only one server can be queried at a time");
}

}  // namespace
