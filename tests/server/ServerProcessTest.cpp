// The real kitsync-server as a process in a folder of its own, spoken to
// over UDP on 127.0.0.1 and read from its console.
#include "ServerProcess.h"
#include "TimeStamp.h"
#include "UdpPeer.h"
#include "support/TempFolder.h"

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "platform/Clock.h"
#include "server/AddonServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// A game port whose UDP port (+ 20), fallback (+ 40) and rules port (+ 1)
// were free a moment ago.
uint16_t freeGamePort()
{
    for (;;) {
        UdpPeer probe;
        uint16_t gamePort = uint16_t(probe.port() - 20);
        if (probe.port() < 1024 || probe.port() > 65535 - 20)
            continue;
        UdpPeer fallback(1, uint16_t(gamePort + 40));
        UdpPeer rules(1, uint16_t(gamePort + 1));
        if (fallback.isOpen() && rules.isOpen())
            return gamePort;
    }
}

// A folder holding kitsync.ini and a stored catalogue sealed from an
// incompressible image of imageSize bytes.
class ServerFolder {
public:
    explicit ServerFolder(const std::string& settings, uint32_t imageSize = 1200)
    {
        folder.write("kitsync.ini", settings);
        MemoryStream image(imageSize);
        uint32_t seed = 99;
        for (uint32_t i = 0; i < imageSize; ++i) {
            seed = seed * 1103515245u + 12345u;
            uint8_t b = uint8_t(seed >> 16);
            image.write(&b, 1);
        }
        sealCatalogue(image, 0x1a2b, stored);
        saveInfoBlock(stored, folder.path("addoninfoblock.udp").c_str());
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

TEST(ServerProcess, StartsServesPacesAndStopsOnInterrupt)
{
    uint16_t gamePort = freeGamePort();
    ServerFolder setup(settingsFor(gamePort, "senddelay 100\n"));
    int32_t count = setup.stored.chunks.size;
    ASSERT_GE(count, 5);
    ServerProcess server(setup.folder.folder());
    ASSERT_TRUE(server.started);
    ASSERT_TRUE(server.awaitLine("Server is running"));
    const std::vector<std::string> startup = server.lines;
    ASSERT_EQ(startup.size(), 8u);
    EXPECT_EQ(startup[0], "Kitsync Server version 1.27");
    EXPECT_EQ(startup[2], "Loading addon info block");
    EXPECT_EQ(startup[3], "Addon info block with id " + std::string(infoBlockIdText(setup.stored.infoBlockId).c_str()) +
                              " loaded");
    EXPECT_EQ(startup[4], "UDP port " + std::to_string(gamePort + 20) + " opened");
    EXPECT_EQ(startup[5], "Starting server thread, init-thread says bye.");
    EXPECT_TRUE(isStamped(startup[6], "Server thread says hello")) << startup[6];
    EXPECT_EQ(startup[7], "Server is running");

    UdpPeer client;
    uint16_t serverPort = uint16_t(gamePort + 20);
    Bytes expected = {0x00, 0x80, uint8_t(count), uint8_t(count >> 8)};
    for (int i = 0; i < 8; ++i)
        expected.push_back(uint8_t(setup.stored.infoBlockId >> (8 * i)));
    Bytes answer;
    ASSERT_TRUE(client.send(serverPort, queryRequest(1039)));
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
TEST(ServerProcess, AnnouncesItselfToTheBrowserServer)
{
    UdpPeer browser(1, 48124);
    if (!browser.isOpen())
        GTEST_SKIP() << "127.0.0.1:48124 is taken";
    uint16_t gamePort = freeGamePort();
    ServerFolder setup(settingsFor(gamePort, "announce on\nbrowserserver 127.0.0.1\n"));
    ServerProcess server(setup.folder.folder());
    Bytes datagram;
    ASSERT_TRUE(browser.receive(&datagram, 3000));
    EXPECT_EQ(datagram, (Bytes{0xFE, 0xFF, 0x7F, 0x00, uint8_t(gamePort), uint8_t(gamePort >> 8)}));
    std::string line;
    ASSERT_TRUE(server.awaitLine("Announcing", &line));
    EXPECT_TRUE(isStamped(line, "Announcing to the Kitsync browser server")) << line;
}

TEST(ServerProcess, KeepsSendingWhileFloodedAndBoundsOneAddressToThirtyTwoClients)
{
    uint16_t gamePort = freeGamePort();
    ServerFolder setup(settingsFor(gamePort), 4000);
    int32_t count = setup.stored.chunks.size;
    ServerProcess server(setup.folder.folder());
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
            flooder.send(serverPort, queryRequest(1039));
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
    AddonServer* server = new AddonServer;
    ASSERT_TRUE(server->open(0, 0, platform::ipv4Address(127, 0, 0, 1)));
    uint16_t serverPort = platform::localPort(server->socket);
    Bytes block(5 * 256);
    ASSERT_TRUE(splitIntoChunks(block.data(), uint32_t(block.size()), server->infoBlock));
    server->sendDelay = 20;
    ASSERT_TRUE(server->start());

    UdpPeer client;
    ASSERT_TRUE(client.send(serverPort, chunkRequest()));
    std::FILE* console = std::tmpfile();
    Bytes chunk;
    for (int32_t k = 0; k < server->infoBlock.chunks.size; ++k) {
        ASSERT_TRUE(client.receive(&chunk));
        EXPECT_EQ(chunk[0], k);
        server->logQueue.printBatch(console);  // the main thread's part, meanwhile
    }
    platform::sleepMilliseconds(150);
    server->logQueue.printBatch(console);
    delete server;  // must stop the loop before its fields go

    std::string printed = printedText(console);
    EXPECT_NE(printed.find(": Server thread says hello\nServer is running\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find(": Sending chunks to 127.0.0.1:" + std::to_string(client.port()) + "\n"), std::string::npos);
}

TEST(ServerProcess, EndsWithStatus255WhenStartUpFails)
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
        ServerProcess server(setup.folder.folder());
        EXPECT_EQ(server.awaitExit(), 255) << failure[0];
        ASSERT_FALSE(server.lines.empty());
        EXPECT_EQ(server.lines.back(), failure[1]);
        EXPECT_EQ(server.lines[3].rfind("Addon info block with id", 0), 0u);  // checked after loading
    }
}

// -RENEW itself is run by the build tests; here it is not the first argument.
TEST(ServerProcess, BuildsANewCatalogueWhenTheStoredOneIsDamagedAndStopsOnTerminate)
{
    ServerFolder setup(settingsFor(freeGamePort()));
    setup.folder.write("addoninfoblock.udp", std::string("\x01\x02\x03", 3));
    ServerProcess server(setup.folder.folder(), {"-other", "-renew"});  // only a first argument counts
    ASSERT_TRUE(server.awaitLine("Server is running"));
    ASSERT_GE(server.lines.size(), 4u);
    EXPECT_EQ(server.lines[2], "Loading addon info block");
    EXPECT_EQ(server.lines[3], "Warning: Addon info block is damaged, building new from packages");
    ASSERT_TRUE(server.signal("TERM"));
    EXPECT_EQ(server.awaitExit(), 0);
    EXPECT_TRUE(isStamped(server.lines.back(), "Server stopped")) << server.lines.back();
    InfoBlock rebuilt;
    EXPECT_EQ(loadInfoBlock(rebuilt, setup.folder.path("addoninfoblock.udp").c_str()), InfoBlockLoad::Loaded);
}

TEST(ServerProcess, FallsBackToGamePortPlusFortyAndFailsWhenBothAreTaken)
{
    uint16_t gamePort = freeGamePort();
    ServerFolder setup(settingsFor(gamePort));
    std::string first = std::to_string(gamePort + 20);
    std::string fallback = std::to_string(gamePort + 40);
    UdpPeer holder(1, uint16_t(gamePort + 20));
    ASSERT_TRUE(holder.isOpen());
    {
        ServerProcess server(setup.folder.folder());
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
    ServerProcess server(setup.folder.folder());
    EXPECT_EQ(server.awaitExit(), 255);
    ASSERT_FALSE(server.lines.empty());
    EXPECT_EQ(server.lines.back(), "Error: Failed to bind to alternative port " + fallback);
}

}  // namespace
