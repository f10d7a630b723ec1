// The real kitsync-server as a process in a folder of its own, spoken to
// over UDP on 127.0.0.1 and read from its console.
#include "ServerProgram.h"
#include "UdpPeer.h"

#include "catalogue/CatalogueSettingsCheck.h"
#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "client/CatalogueFetcher.h"
#include "server/AddonServer.h"
#include "server/BrowserResolver.h"
#include "support/HttpServerProcess.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

// A folder holding kitsync.ini and a stored catalogue sealed from an
// incompressible image of imageSize bytes.
struct ServerFolder {
    explicit ServerFolder(const std::string& settings, uint32_t imageSize = 1200)
    {
        folder.write("kitsync.ini", settings);
        MemoryStream image(imageSize);
        for (uint32_t i = 0, seed = 99; i < imageSize; ++i) {
            seed = seed * 1103515245u + 12345u;
            uint8_t b = uint8_t(seed >> 16);
            image.write(&b, 1);
        }
        sealCatalogue(image, 0x1a2b, stored);
        saveInfoBlock(stored, folder.path(kInfoBlockFileName).c_str());
    }
    Bytes chunk(int32_t index) const
    {
        const ByteBuffer& bytes = *stored.chunks[index];
        return Bytes(bytes.data, bytes.data + bytes.size);
    }

    TempFolder folder;
    InfoBlock stored;
};

std::string settingsFor(uint16_t gamePort, const std::string& more = "senddelay 20\n")
{
    return "port " + std::to_string(gamePort) + "\n" + more;
}

TEST(ServerProgram, StartsServesPacesAndStopsOnInterrupt)
{
    uint16_t gamePort = freeGamePort();
    ServerFolder setup(settingsFor(gamePort, "senddelay 100\n"));
    int32_t count = setup.stored.chunks.size;
    ASSERT_GE(count, 5);
    ServerProgram server(setup.folder.folder());
    ASSERT_TRUE(server.awaitLine("Server is running"));
    const std::vector<std::string> startup = server.lines;
    ASSERT_EQ(startup.size(), 9u);
    EXPECT_EQ(startup[0], "Kitsync Server version 1.27");
    EXPECT_EQ(startup[2], "Loading addon info block");
    EXPECT_EQ(startup[3], "Addon info block with id " + std::string(infoBlockIdText(setup.stored.infoBlockId).c_str()) +
                              " loaded");
    // The stored image is no catalogue of these settings: served all the
    // same, with a word to the operator.
    EXPECT_EQ(startup[4] + "\n", kSettingsChangedWarning);
    EXPECT_EQ(startup[5], "UDP port " + std::to_string(gamePort + 20) + " opened");
    EXPECT_EQ(startup[6], "Starting server thread, init-thread says bye.");
    EXPECT_TRUE(isStamped(startup[7], "Server thread says hello")) << startup[7];
    EXPECT_EQ(startup[8], "Server is running");

    UdpPeer client;
    uint16_t serverPort = uint16_t(gamePort + 20);
    Bytes expected = {0x00, 0x80, uint8_t(count), uint8_t(count >> 8)};
    for (int i = 0; i < 8; ++i)
        expected.push_back(uint8_t(setup.stored.infoBlockId >> (8 * i)));
    Bytes answer;
    ASSERT_TRUE(client.send(serverPort, queryRequest(1039, "")));
    ASSERT_TRUE(client.receive(&answer));
    EXPECT_EQ(answer, expected);
    std::string line;
    ASSERT_TRUE(server.awaitLine("Query from", &line));
    EXPECT_TRUE(isStamped(line, "Query from 127.0.0.1:" + std::to_string(client.port()) + " version 1039")) << line;

    // One chunk per pass, passes on a 100 ms grid. A late pass makes up the
    // passes it missed at once, so only the whole transfer has a lower bound:
    // the grid's origin lies at most one period before the request, and one
    // more period is left for a server that was kept off the processor.
    uint32_t asked = platform::tickCount();
    ASSERT_TRUE(client.send(serverPort, chunkRequest()));
    for (int32_t k = 0; k < count; ++k) {
        ASSERT_TRUE(client.receive(&answer));
        EXPECT_EQ(answer, setup.chunk(k));
    }
    uint32_t took = platform::tickCount() - asked;
    EXPECT_GE(took, uint32_t(count - 3) * 100u);
    EXPECT_LT(took, uint32_t(count) * 100u + 1500u);
    EXPECT_TRUE(client.quietFor(150));

    ASSERT_TRUE(client.send(serverPort, resendRequest(0)));
    ASSERT_TRUE(client.receive(&answer));  // logged when asked, sent at the next pass
    EXPECT_EQ(answer, setup.chunk(0));
    ASSERT_TRUE(server.signal("INT"));  // the line about the resend shows, printed or still queued
    EXPECT_EQ(server.awaitExit(), 0);
    ASSERT_GE(server.lines.size(), 2u);
    EXPECT_TRUE(isStamped(server.lines[server.lines.size() - 2],
                          "Resending chunk 0 to 127.0.0.1:" + std::to_string(client.port())));
    EXPECT_TRUE(isStamped(server.lines.back(), "Server stopped")) << server.lines.back();
}

// The game port of the settings is the one announced.
TEST(ServerProgram, AnnouncesItselfToTheBrowserServer)
{
    UdpPeer browser(1, 48124);
    if (!browser.isOpen())
        GTEST_SKIP() << "127.0.0.1:48124 is taken";
    uint16_t gamePort = freeGamePort();
    ServerFolder setup(settingsFor(gamePort, "announce on\nbrowserserver 127.0.0.1\n"));
    ServerProgram server(setup.folder.folder());
    Bytes datagram;
    ASSERT_TRUE(browser.receive(&datagram, 3000));
    EXPECT_EQ(datagram, (Bytes{0xFE, 0xFF, 0x7F, 0x00, uint8_t(gamePort), uint8_t(gamePort >> 8)}));
    std::string line;
    ASSERT_TRUE(server.awaitLine("Announcing", &line));
    EXPECT_TRUE(isStamped(line, "Announcing to the Kitsync browser server")) << line;
}

TEST(ServerProgram, KeepsSendingWhileFloodedAndBoundsOneAddressToThirtyTwoClients)
{
    uint16_t gamePort = freeGamePort();
    ServerFolder setup(settingsFor(gamePort), 4000);
    int32_t count = setup.stored.chunks.size;
    ServerProgram server(setup.folder.folder());
    ASSERT_TRUE(server.awaitLine("Server is running"));
    uint16_t serverPort = uint16_t(gamePort + 20);

    std::vector<std::unique_ptr<UdpPeer>> peers;
    for (int i = 0; i < 40; ++i) {
        peers.push_back(std::make_unique<UdpPeer>());
        ASSERT_TRUE(peers.back()->send(serverPort, chunkRequest()));
    }
    // While a flood of queries keeps the loop busy, the passes go on.
    UdpPeer flooder(2);
    std::vector<int32_t> received(peers.size(), 0);
    auto collect = [&] {  // the number of whole transfers so far
        int32_t complete = 0;
        Bytes datagram;
        for (size_t i = 0; i < peers.size(); ++i) {
            while (peers[i]->receive(&datagram, 0))
                received[i] += 1;
            complete += received[i] == count ? 1 : 0;
        }
        return complete;
    };
    uint32_t start = platform::tickCount();
    while (platform::tickCount() - start < uint32_t(count) * 20 + 5000) {
        for (int q = 0; q < 20; ++q)
            flooder.send(serverPort, queryRequest(1039, ""));
        if (collect() == 32)
            break;
    }
    platform::sleepMilliseconds(100);  // a 33rd transfer would show by now
    collect();
    int32_t served = 0;
    for (size_t i = 0; i < peers.size(); ++i) {
        served += received[i] > 0 ? 1 : 0;
        EXPECT_TRUE(received[i] == 0 || received[i] == count) << "peer " << i << " got " << received[i];
    }
    EXPECT_EQ(served, 32);
    EXPECT_TRUE(server.awaitLine("Warning: Dropped"));
}

TEST(ServerThread, ServesOnItsOwnThreadAndIsStoppedByItsDestructor)
{
    Bytes block(5 * 256);
    InfoBlock catalogue;
    ASSERT_TRUE(splitIntoChunks(block.data(), uint32_t(block.size()), catalogue));
    ServingConfig config;
    config.sendDelay = 20;
    LogQueue logQueue;
    BrowserResolver browser("", platform::resolveHost, CatalogueService::announceInterval);
    AddonServer* server = new AddonServer(config, catalogue, logQueue, browser);
    ASSERT_TRUE(server->open(platform::ipv4Address(127, 0, 0, 1), 0));
    uint16_t serverPort = server->localPort();
    ASSERT_TRUE(server->start());

    UdpPeer client;
    ASSERT_TRUE(client.send(serverPort, chunkRequest()));
    TempFolder temp;
    std::FILE* console = std::fopen(temp.path("console.txt").c_str(), "w");
    Bytes chunk;
    for (int32_t k = 0; k < catalogue.chunks.size; ++k) {
        ASSERT_TRUE(client.receive(&chunk));
        EXPECT_EQ(chunk[0], k);
        logQueue.printBatch(console);  // the main thread's part, meanwhile
    }
    platform::sleepMilliseconds(150);
    logQueue.printBatch(console);
    delete server;  // must stop the loop before its fields go
    std::fclose(console);

    std::string printed = readFile(temp.path("console.txt"));
    EXPECT_NE(printed.find(": Server thread says hello\nServer is running\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find(": Sending chunks to 127.0.0.1:" + std::to_string(client.port()) + "\n"), std::string::npos);
}

TEST(ServerProgram, EndsWithStatus255WhenStartUpFails)
{
    UdpPeer holder(1, 65520);  // game port 65500: + 40 would wrap to 4
    const char* const cases[][2] = {
        {"port 0\n", "Error: Port number 0 is invalid"},
        {"port 65536\n", "Error: Port number 65536 is invalid"},
        {"port word\n", "Error: Port number 0 is invalid"},
        {"port 65516\n", "Error: Port number 65516 is invalid"},  // its UDP port would pass 65535
        {"port 65500\n", "Error: Could not bind to port 65520"},  // and no fallback is tried
    };
    for (const auto& failure : cases) {
        if (&failure == &cases[4] && !holder.isOpen())
            continue;  // someone else holds port 65520
        ServerFolder setup(failure[0]);
        ServerProgram server(setup.folder.folder());
        EXPECT_EQ(server.awaitExit(), 255) << failure[0];
        ASSERT_GE(server.lines.size(), 4u);
        EXPECT_EQ(server.lines.back(), failure[1]);
        EXPECT_EQ(server.lines[3].rfind("Addon info block with id", 0), 0u);  // checked after loading
    }
}

TEST(ServerProgram, BuildsANewCatalogueWhenTheStoredOneIsDamagedAndStopsOnTerminate)
{
    ServerFolder setup(settingsFor(freeGamePort()));
    setup.folder.write(kInfoBlockFileName, std::string("\x01\x02\x03", 3));
    ServerProgram server(setup.folder.folder(), {"-other", "-renew"});  // only a first argument counts
    ASSERT_TRUE(server.awaitLine("Server is running"));
    ASSERT_GE(server.lines.size(), 4u);
    EXPECT_EQ(server.lines[2], "Loading addon info block");
    EXPECT_EQ(server.lines[3] + "\n", kInfoBlockDamagedMessage);
    ASSERT_TRUE(server.signal("TERM"));
    EXPECT_EQ(server.awaitExit(), 0);
    EXPECT_TRUE(isStamped(server.lines.back(), "Server stopped")) << server.lines.back();
    InfoBlock rebuilt;
    EXPECT_EQ(loadInfoBlock(rebuilt, setup.folder.path(kInfoBlockFileName).c_str()), InfoBlockLoad::Loaded);
}

TEST(ServerProgram, FallsBackToGamePortPlusFortyAndFailsWhenBothAreTaken)
{
    uint16_t gamePort = freeGamePort();
    ServerFolder setup(settingsFor(gamePort));
    std::string first = std::to_string(gamePort + 20), fallback = std::to_string(gamePort + 40);
    UdpPeer holder(1, uint16_t(gamePort + 20));
    ASSERT_TRUE(holder.isOpen());
    {
        ServerProgram server(setup.folder.folder());
        ASSERT_TRUE(server.awaitLine("Starting server thread"));
        const std::vector<std::string>& lines = server.lines;
        ASSERT_GE(lines.size(), 6u);
        EXPECT_EQ(lines[lines.size() - 3],
                  "Warning: Could not bind to port " + first + ". Trying alternative port at " + fallback + ".");
        EXPECT_EQ(lines[lines.size() - 2], "UDP port " + fallback + " opened");
        ASSERT_TRUE(server.signal("TERM"));
        EXPECT_EQ(server.awaitExit(), 0);
    }
    UdpPeer second(1, uint16_t(gamePort + 40));
    ASSERT_TRUE(second.isOpen());
    ServerProgram server(setup.folder.folder());
    EXPECT_EQ(server.awaitExit(), 255);
    ASSERT_FALSE(server.lines.empty());
    EXPECT_EQ(server.lines.back(), "Error: Failed to bind to alternative port " + fallback);
}

std::string prompt(const std::string& localName)
{
    return "Download and index " + localName + " - Yes,No,yesAll,nOall (Y/N/A/O) ? ";
}

// The server's answer to a query on its port.
QueryAnswer query(uint16_t gamePort)
{
    ServerLink link(platform::ipv4Address(127, 0, 0, 1), uint16_t(gamePort + 20));
    EXPECT_TRUE(link.open());
    CatalogueFetcher fetcher(link, FetchSettings());
    QueryAnswer answer;
    EXPECT_EQ(fetcher.query("", answer), QueryStatus::answered);
    return answer;
}

// Packages served over HTTP and from files, and the server's folder.
class BuildingServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(http.start(site.folder())); }
    void writeSettings(const std::string& packages)
    {
        work.write("kitsync.ini", "port " + std::to_string(gamePort) + "\nservername \"End to end\"\n" + packages);
    }
    uint32_t publish(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files)
    {
        uint32_t checksum = 0;
        EXPECT_TRUE(writeZip(site.path(name), files, &checksum));
        return checksum;
    }

    TempFolder site, work;
    HttpServerProcess http;
    uint16_t gamePort = freeGamePort();
};

TEST_F(BuildingServer, OperatorAnswersBuildTheCatalogueThatIsThenServed)
{
    const std::string script = "KITSYNC_START\nPACKAGE Alpha\nINSTALL *.pbo addons\\\nKITSYNC_END\n";
    uint32_t alphaSum = publish("alpha.zip", {{"kitsync.txt", script}, {"alpha.pbo", "alpha"}});
    uint32_t betaSum = publish("beta.zip", {{"beta.pbo", std::string(3000, 'b')}});
    writeSettings("package " + http.url("/alpha.zip") + "\npackage file://" + site.path("beta.zip") + " optional\n");
    work.write("answers.txt", "y\nn\n");
    uint64_t firstId = 0;
    {
        ServerProgram server(work.folder());
        ASSERT_TRUE(server.awaitLine("Starting server thread")) << server.transcript();
        for (const std::string& line :
             {std::string("Addon info block not found, building new from packages"),
              prompt("alpha.zip") + prompt("beta.zip") + "Downloading " + http.url("/alpha.zip"),
              std::string("Scanning alpha.zip..."), std::string("Package name: Alpha"),
              std::string("Deleting local copy of alpha.zip"),
              std::string("No information block for beta.zip found, forced to download"),
              std::string("Warning: No Kitsync block found, using simple installation method"),
              std::string("Deleting local copy of beta.zip"), "UDP port " + std::to_string(gamePort + 20) + " opened"})
            EXPECT_TRUE(server.saw(line)) << line << "\n" << server.transcript();

        InfoBlock stored;
        ASSERT_EQ(loadInfoBlock(stored, work.path(kInfoBlockFileName).c_str()), InfoBlockLoad::Loaded);
        EXPECT_EQ(stored.infoBlockId >> 32, uint64_t(alphaSum ^ betaSum));
        EXPECT_TRUE(server.saw(std::string("    chunk labeled ") + infoBlockIdText(stored.infoBlockId).c_str() +
                               " and split into " + std::to_string(stored.chunks.size) + " packages"));
        QueryAnswer answer = query(gamePort);
        firstId = answer.infoBlockId;
        EXPECT_EQ(firstId, stored.infoBlockId);
        EXPECT_EQ(answer.chunkCount, stored.chunks.size);
    }

    // Started by a script with no input: every prompt answers No, and both
    // packages come from the record cache files of the first build.
    work.write("answers.txt", "");
    ServerProgram renewed(work.folder(), {"-RENEW"});
    ASSERT_TRUE(renewed.awaitLine("Starting server thread")) << renewed.transcript();
    for (const std::string& line : {std::string("Deleting addon info block"), prompt("alpha.zip") + "N",
                                    prompt("beta.zip") + "N", std::string("alpha.zip-package.tmp read.."),
                                    std::string("beta.zip-package.tmp read..")})
        EXPECT_TRUE(renewed.saw(line)) << line << "\n" << renewed.transcript();
    EXPECT_EQ(renewed.transcript().find("Downloading"), std::string::npos) << renewed.transcript();
    EXPECT_EQ(query(gamePort).infoBlockId >> 32, firstId >> 32);
}

TEST_F(BuildingServer, FailedBuildEndsTheProgramWithStatus255)
{
    publish("good.zip", {{"good.pbo", "good"}});
    writeSettings("package " + http.url("/good.zip") + "\npackage " + http.url("/gone.zip") + "\n");
    work.write("answers.txt", "a");
    ServerProgram server(work.folder());
    ASSERT_EQ(server.awaitExit(), 255) << server.transcript();
    ASSERT_GE(server.lines.size(), 1u);
    EXPECT_EQ(server.lines.back(), "Error: Bad URL") << server.transcript();
    EXPECT_TRUE(server.saw("Deleting local copy of good.zip"));
    EXPECT_EQ(server.transcript().find("UDP port"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(work.path(kInfoBlockFileName)));
    EXPECT_TRUE(std::filesystem::exists(work.path("good.zip-package.tmp")));
}

}  // namespace
