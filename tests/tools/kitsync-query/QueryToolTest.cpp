// kitsync-query run as a program against the served protocol core, as a script or a
// player would run it.
#include "client/CatalogueBytes.h"
#include "client/TestCatalogueServer.h"
#include "query/QueryOptions.h"
#include "support/ProgramRun.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

using ToolRun = ProgramRun;

ToolRun runQuery(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), KITSYNC_QUERY_PROGRAM);
    return runProgram(arguments);
}

TestServerSetup sampleSetup(int32_t gameState = 2)
{
    TestServerSetup setup;
    setup.chunks = sealImage(sampleCatalogue());
    setup.id = 0x12000003E8ull;
    setup.gameState = gameState;
    setup.stateAgeMs = 5000;
    return setup;
}

std::string endpointOf(const TestCatalogueServer& server)
{
    return "127.0.0.1:" + std::to_string(server.port());
}

TEST(QueryTool, PrintsTheWholeCatalogueAndSavesTheImageOrItsJson)
{
    TestCatalogueServer server(sampleSetup());
    TempFolder scratch;
    ToolRun run = runQuery({endpointOf(server), "--timeout", "2000", "--save", scratch.path("image.bin")});
    ASSERT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.err, "") << "no progress bar when standard error is a file";
    for (const char* line :
         {"  Catalogue:     12000003e8\n", "  Game state:    2, held for 5.0 s\n", "  Name:          Kit \"One\"\n",
          "  Deactivations: mod_a:mod_b:\n", "  Files:         4\n", "Package 1: Core (required)\n",
          "  Archive size:  123456 bytes\n", "Package 2: Maps \xE9t\xE9 (optional)\n", "    addons\\\n",
          "      sub\\\n", "        deep.pbo  7 bytes  CRC-32 deadbeef\n",
          "    readme.txt  5 bytes  CRC-32 00000001\n"})
        EXPECT_TRUE(contains(run.out, line)) << line << "\n" << run.out;
    std::string chunks = std::to_string(sealImage(sampleCatalogue()).size());
    EXPECT_TRUE(contains(run.out, "  Chunks:        " + chunks + "\n")) << run.out;
    EXPECT_EQ(server.counts().chunkRequests, 1u);
    Bytes image = sampleCatalogue();
    EXPECT_EQ(readFile(scratch.path("image.bin")), std::string(image.begin(), image.end()));

    // A server without a state reports an age that belongs to none: only the null is certain.
    TestCatalogueServer stateless(sampleSetup(-1)), reported(sampleSetup());
    run = runQuery({"--json", endpointOf(stateless), "--timeout", "2000"});
    EXPECT_TRUE(contains(run.out, "\n  \"gameState\": null,\n")) << run.out;
    run = runQuery({"--json", endpointOf(reported), "--timeout", "2000"});
    ASSERT_EQ(run.status, kExitOk) << run.err;
    scratch.write("report.json", run.out);
    std::string check = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                        "assert d[\"name\"] == \"Kit \\\"One\\\"\"; "
                        "assert d[\"packages\"][1][\"name\"] == \"Maps \\u00e9t\\u00e9\"; "
                        "t = d[\"packages\"][0][\"tree\"]; "
                        "assert t[0][\"entries\"][0][\"entries\"][0][\"crc\"] == 0xdeadbeef; "
                        "assert d[\"gameState\"] == 2 and d[\"stateHeldMs\"] == 5000' " +
                        shellQuoted(scratch.path("report.json"));
    EXPECT_EQ(std::system(check.c_str()), 0) << run.out;
}

TEST(QueryTool, DistinctStatusForEachFailure)
{
    TestServerSetup locked = sampleSetup(), mute = sampleSetup(), stalling = sampleSetup();
    locked.password = "pw";
    mute.answerQueries = false;
    stalling.sendAtMost = 0;
    TestCatalogueServer lockedServer(locked), muteServer(mute), stallingServer(stalling);
    ToolRun refused = runQuery({endpointOf(lockedServer), "--password", "PW"});
    EXPECT_EQ(refused.status, kExitRefused);
    EXPECT_TRUE(contains(refused.err, "refused the password")) << refused.err;
    EXPECT_EQ(runQuery({endpointOf(lockedServer), "--password", "pw", "--timeout", "2000"}).status, kExitOk);

    ToolRun silent = runQuery({endpointOf(muteServer), "--timeout", "100"});
    EXPECT_EQ(silent.status, kExitNoAnswer);
    EXPECT_TRUE(contains(silent.err, "no answer from " + endpointOf(muteServer))) << silent.err;

    ToolRun stalled = runQuery({endpointOf(stallingServer), "--timeout", "100"});
    EXPECT_EQ(stalled.status, kExitTransferFailed);
    EXPECT_TRUE(contains(stalled.err, "catalogue transfer failed: no chunk came after 5 requests")) << stalled.err;
    EXPECT_EQ(runQuery({"127.0.0.1:99999"}).status, kExitUsage);

    // The server moves to the game port + 40 when + 20 is taken; a client
    // that knows only the game port must look there too.
    ASSERT_GT(muteServer.port(), 40);
    silent = runQuery({"127.0.0.1", "--game-port", std::to_string(muteServer.port() - 40), "--timeout", "100"});
    EXPECT_EQ(silent.status, kExitNoAnswer);
    EXPECT_TRUE(contains(silent.err, " or " + endpointOf(muteServer))) << silent.err;
    EXPECT_EQ(muteServer.counts().queries, 6u);

    TestCatalogueServer server(sampleSetup(-1));
    ASSERT_GT(server.port(), 40);
    ToolRun run = runQuery({"127.0.0.1", "--game-port", std::to_string(server.port() - 40), "--timeout", "100"});
    ASSERT_EQ(run.status, kExitOk) << run.err;
    EXPECT_TRUE(contains(run.out, "Server " + endpointOf(server) + "\n")) << run.out;
    EXPECT_TRUE(contains(run.out, "  Game state:    none known\n")) << run.out;
    EXPECT_EQ(server.counts().queries, 1u);
}

std::string crcHex(const std::string& data)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", crcOf(data));
    return text;
}

// Names on the disk match the catalogue's ignoring case.
TEST(QueryTool, CheckStatusFollowsTheRequiredFiles)
{
    CatalogueBytes image;
    image.head("S", 1).package("http://x/p.zip", 1, "Pack", 10).text("addons\\");
    image.file("a.pbo", 3, crcOf("aaa")).file("b.pbo", 3, crcOf("bbb")).end().end();
    TestServerSetup setup;
    setup.chunks = sealImage(image.bytes);
    TestCatalogueServer server(setup);
    TempFolder game;
    game.write("AddOns/A.pbo", "aaa");
    game.write("AddOns/b.pbo", "bbb");
    ToolRun whole = runQuery({endpointOf(server), "--check", game.folder(), "--timeout", "2000"});
    EXPECT_EQ(whole.status, kExitOk) << whole.out << whole.err;
    EXPECT_TRUE(contains(whole.out, "\nCheck: 2 files in 1 package, all present and equal\n")) << whole.out;

    std::filesystem::remove(game.path("AddOns/A.pbo"));
    game.write("AddOns/b.pbo", "bbc");
    ToolRun broken = runQuery({endpointOf(server), "--check", game.folder(), "--timeout", "2000"});
    EXPECT_EQ(broken.status, kExitCheckFailed);
    EXPECT_TRUE(contains(broken.out, "Package 1: Pack (required): 2 files, 2 at fault\n"
                                     "  missing         addons\\a.pbo\n"
                                     "  CRC-32 differs  addons\\b.pbo (CRC-32 " +
                                         crcHex("bbc") + ", expected " + crcHex("bbb") + ")\n"))
        << broken.out;
    EXPECT_TRUE(contains(broken.out, "Check: 2 files in 1 package, 2 at fault (1 missing, 1 CRC-32 differs); "
                                     "required files are not all present and equal\n"))
        << broken.out;

    ToolRun absent = runQuery({endpointOf(server), "--check", game.path("none"), "--timeout", "2000"});
    EXPECT_EQ(absent.status, kExitLocalFailure);
    EXPECT_TRUE(contains(absent.err, "cannot read the folder " + game.path("none"))) << absent.err;
}

}  // namespace
