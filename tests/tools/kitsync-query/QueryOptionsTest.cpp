#include "query/QueryOptions.h"

#include <gtest/gtest.h>

namespace {

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
