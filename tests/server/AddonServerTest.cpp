#include "UdpPeer.h"
#include "server/AddonServer.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <memory>

namespace {

using Lines = std::vector<std::string>;

uint32_t fakeNow = 0;
uint32_t fakeTicks()
{
    return fakeNow;
}

class ServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        fakeNow = 5000000;
        platform::setTickSource(fakeTicks);
        ASSERT_TRUE(server.socket.open(platform::ipv4Address(127, 0, 0, 1), 0));
        serverPort = server.socket.localPort();
        Bytes block(2 * 256 + 10);  // three chunks, each with bytes of its own
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = uint8_t(i * 7);
        ASSERT_TRUE(splitIntoChunks(block.data(), uint32_t(block.size()), server.infoBlock));
        server.infoBlock.infoBlockId = (uint64_t(0x12) << 32) + 1000;
        server.lastPumpTime = fakeNow;
        server.lastRulesPollTime = fakeNow;
        server.lastAnnounceTime = fakeNow;
    }
    void TearDown() override { platform::setTickSource(nullptr); }

    Bytes chunk(int32_t index) const
    {
        const ByteBuffer& stored = *server.infoBlock.chunks[index];
        return Bytes(stored.data, stored.data + stored.size);
    }

    // Hands the server the datagram that peer sends, as its loop would.
    void deliver(const UdpPeer& peer, const Bytes& datagram)
    {
        ASSERT_TRUE(peer.send(serverPort, datagram));
        ASSERT_EQ(platform::waitForDatagrams(&server.socket, 1, nullptr, 2000), platform::WaitOutcome::datagrams);
        server.handleDatagram(0);
    }

    Bytes exchange(const UdpPeer& peer, const Bytes& request)
    {
        deliver(peer, request);
        Bytes answer;
        EXPECT_TRUE(peer.receive(&answer));
        return answer;
    }

    // Checks the chunks peer gets, with a sending pass before each when pass.
    void expectChunks(const UdpPeer& peer, std::initializer_list<int32_t> chunks, bool pass = true)
    {
        Bytes received;
        for (int32_t expected : chunks) {
            if (pass)
                server.pumpSendQueues();
            ASSERT_TRUE(peer.receive(&received));
            EXPECT_EQ(received, chunk(expected));
        }
    }

    Lines takeLog()
    {
        StringArray lines;
        server.logQueue.takeAll(lines);
        Lines taken;
        for (int32_t i = 0; i < lines.size; ++i)
            taken.emplace_back(lines[i].c_str());
        return taken;
    }

    std::string at(const UdpPeer& peer) const
    {
        char dotted[platform::addressTextSize];
        platform::addressToText(peer.address, dotted);
        return std::string(dotted) + ":" + std::to_string(peer.port());
    }

    AddonServer server;
    uint16_t serverPort = 0;
};

std::string printedBatch(LogQueue& queue)
{
    std::FILE* file = std::tmpfile();
    queue.printBatch(file);
    std::string text(size_t(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
    return text;
}

TEST(LogQueueBatch, PrintsOneTimeStampForEveryLineOfABatch)
{
    LogQueue queue;
    EXPECT_EQ(printedBatch(queue), "");
    queue.add("Query from 127.0.0.1:2000 version 1040\n");
    queue.add("Server thread says hello\nServer is running\n");
    std::string printed = printedBatch(queue);
    ASSERT_TRUE(isStamped(printed, printed.substr(10))) << printed;
    std::string stamp = printed.substr(0, 10);
    EXPECT_EQ(printed, stamp + "Query from 127.0.0.1:2000 version 1040\n" + stamp +
                           "Server thread says hello\nServer is running\n");
    EXPECT_EQ(printedBatch(queue), "");  // the queue is empty again

    for (int32_t i = 0; i < LogQueue::maxPendingLines + 2; ++i)
        queue.add("x\n");
    EXPECT_NE(printedBatch(queue).find(": Warning: Console log overflowed, 2 lines dropped\n"), std::string::npos);
}

TEST_F(ServerTest, AnswersQueriesWithTheDocumentedBytesAndRefusesAWrongPassword)
{
    UdpPeer client;
    const Bytes shortForm = {0x00, 0x80, 0x03, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00};
    EXPECT_EQ(exchange(client, queryRequest(1039, "")), shortForm);
    EXPECT_EQ(takeLog(), Lines{"Query from " + at(client) + " version 1039\n"});

    Bytes answer = exchange(client, queryRequest(1040, ""));
    ASSERT_EQ(answer.size(), 18u);
    EXPECT_EQ(answer[16], 0xFF);  // no state known yet
    EXPECT_EQ(answer[17], 0xFF);

    UdpPeer gameServer;
    deliver(gameServer, bytesOf("\\gstate\\2\\"));
    fakeNow += 5000;
    Bytes longForm = shortForm;
    longForm.insert(longForm.end(), {0x88, 0x13, 0x00, 0x00, 0x02, 0x00});
    EXPECT_EQ(exchange(client, queryRequest(1040, "")), longForm);
    EXPECT_TRUE(gameServer.quietFor(20));  // a report is never answered

    takeLog();
    server.password = "Secret";
    const Bytes refused = {0x01, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(exchange(client, queryRequest(1040, "secret")), refused);
    EXPECT_EQ(exchange(client, queryRequest(1039, "")), refused);
    Bytes withTail = queryRequest(1039, "Secret");
    withTail.insert(withTail.end(), {'x', 'y', '\0'});  // bytes behind the first NUL are ignored
    EXPECT_EQ(exchange(client, withTail).size(), 12u);
    Lines log = takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "Query with wrong password from " + at(client) + "\n");
    EXPECT_EQ(log[2], "Query from " + at(client) + " version 1039\n");
}

TEST_F(ServerTest, IgnoresMalformedDatagrams)
{
    UdpPeer client;
    const std::vector<Bytes> malformed = {
        {0x10, 0x04, 0, 0},                 // a query without even its NUL
        {0x10, 0x04, 0, 0, 'p', 'w'},       // a query whose last byte is not 0
        {0x10, 0x04, 1, 0, 0},              // a chunk request of 5 bytes
        resendRequest(3),                   // index equal to the chunk count
        {0x10, 0x04, 2, 0, 0, 0, 0},        // a resend request of 7 bytes
        {0x10, 0x04, 3, 0, 0, 0},           // no such command
        bytesOf("\\status\\ok\\"),          // text without the state key
    };
    for (const Bytes& datagram : malformed)
        deliver(client, datagram);
    EXPECT_TRUE(client.quietFor(30));
    EXPECT_TRUE(takeLog().empty());
    EXPECT_EQ(server.clients.size, 0);
    EXPECT_EQ(server.gameState, -1);
}

TEST_F(ServerTest, AShortDatagramRunsTheTimerOnce)
{
    UdpPeer gameServer;
    server.gamePortNumber = uint16_t(gameServer.port() - 1);
    deliver(UdpPeer(), chunkRequest());
    fakeNow += 2001;
    UdpPeer client;
    deliver(client, Bytes{1, 2});
    EXPECT_EQ(server.lastPumpTime, fakeNow - 1);  // ten passes of 200 ms, 1 ms left over
    EXPECT_EQ(server.lastRulesPollTime, fakeNow);
    Bytes poll;
    ASSERT_TRUE(gameServer.receive(&poll));
    EXPECT_EQ(poll, bytesOf("\\rules\\"));
    EXPECT_TRUE(client.quietFor(20));
}

TEST_F(ServerTest, SendsOneQueuedChunkPerPassPerClientAndDropsTheRecordWithTheLast)
{
    UdpPeer client;
    deliver(client, chunkRequest());
    EXPECT_EQ(takeLog(), Lines{"Sending chunks to " + at(client) + "\n"});
    ASSERT_EQ(server.clients.size, 1);
    // Handles to the stored chunks, not copies of them.
    EXPECT_EQ(server.clients[0]->sendQueue[2].get(), server.infoBlock.chunks[2].get());
    EXPECT_TRUE(client.quietFor(20));  // nothing leaves before a pass
    expectChunks(client, {0, 1, 2});
    EXPECT_EQ(server.clients.size, 0);
    EXPECT_EQ(server.queuedDatagrams, 0);
    EXPECT_EQ(server.infoBlock.chunks[2].refs(), 1u);
    server.pumpSendQueues();
    EXPECT_TRUE(client.quietFor(20));

    // Resends queue behind what is already queued.
    deliver(client, chunkRequest());
    deliver(client, resendRequest(0));
    deliver(client, resendRequest(2));
    Lines log = takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Resending chunk 0 to " + at(client) + "\n");
    expectChunks(client, {0, 1, 2, 0, 2});
    EXPECT_EQ(server.clients.size, 0);

    deliver(client, resendRequest(1));  // a resend alone makes a record too
    expectChunks(client, {1});
    EXPECT_EQ(server.clients.size, 0);

    // Ports of one address have queues of their own.
    UdpPeer first, second;
    deliver(first, chunkRequest());
    expectChunks(first, {0});
    deliver(second, chunkRequest());
    expectChunks(first, {1});  // one datagram for each client
    expectChunks(second, {0}, false);
    EXPECT_TRUE(first.quietFor(10));
    EXPECT_TRUE(second.quietFor(10));
    server.pumpSendQueues();
    ASSERT_EQ(server.clients.size, 1);  // the first is done
    EXPECT_EQ(server.clients[0]->port, second.port());
}

TEST_F(ServerTest, TakesTheGameStateOnlyFromThisMachinesGameServer)
{
    UdpPeer gameServer;
    deliver(gameServer, bytesOf("\\hostname\\x\\gstate\\5\\"));
    EXPECT_EQ(server.gameState, 5);
    EXPECT_EQ(server.stateChangedTime, fakeNow);
    EXPECT_EQ(server.lastStateReportTime, fakeNow);

    uint32_t changed = fakeNow;
    fakeNow += 700;
    deliver(gameServer, bytesOf("\\gstate\\5\\"));
    EXPECT_EQ(server.stateChangedTime, changed);
    EXPECT_EQ(server.lastStateReportTime, fakeNow);

    fakeNow += 100;
    deliver(gameServer, bytesOf("\\GSTATE\\6\\"));
    EXPECT_EQ(server.gameState, 6);
    EXPECT_EQ(server.stateChangedTime, fakeNow);

    uint32_t reported = fakeNow;
    fakeNow += 100;
    deliver(gameServer, bytesOf("\\gstate\\7"));  // no closing '\': not a report
    UdpPeer elsewhere(2);
    ASSERT_TRUE(elsewhere.isOpen());
    deliver(elsewhere, bytesOf("\\gstate\\9\\"));
    EXPECT_EQ(server.gameState, 6);
    EXPECT_EQ(server.lastStateReportTime, reported);
    EXPECT_TRUE(takeLog().empty());
}

// A leading '\' only makes a datagram a state report when the key and its
// closed value are there; otherwise it is still tested as a request.
TEST_F(ServerTest, ServesABackslashDatagramThatIsNoReportAsARequest)
{
    UdpPeer local;
    deliver(local, bytesOf("\\gstate\\"));  // the key with nothing behind it
    EXPECT_TRUE(local.quietFor(20));
    EXPECT_TRUE(takeLog().empty());

    EXPECT_EQ(exchange(local, Bytes{'\\', 0x04, 0, 0, 0}).size(), 18u);  // a query from version 0x045C
    deliver(local, Bytes{'\\', 0x04, 1, 0});
    EXPECT_EQ(takeLog(),
              (Lines{"Query from " + at(local) + " version 1116\n", "Sending chunks to " + at(local) + "\n"}));
    EXPECT_EQ(server.clients.size, 1);
    EXPECT_EQ(server.gameState, -1);
    EXPECT_EQ(server.lastStateReportTime, 0u);
}

TEST_F(ServerTest, KeepsSendingPassesOnTheDelayGrid)
{
    UdpPeer client;
    deliver(client, chunkRequest());
    server.lastPumpTime = fakeNow - 450;
    server.tick();
    EXPECT_EQ(server.lastPumpTime, fakeNow - 50);
    expectChunks(client, {0, 1}, false);

    fakeNow += 20000;  // a long pause makes up 100 ms at most: no pass of 200
    server.tick();
    EXPECT_EQ(server.lastPumpTime, fakeNow - 100);
    EXPECT_TRUE(client.quietFor(20));
    EXPECT_EQ(server.clients.size, 1);

    server.sendDelay = 50;
    deliver(client, resendRequest(0));
    deliver(client, resendRequest(1));
    fakeNow += 20000;
    server.tick();  // 100 ms worth: two passes of 50
    EXPECT_EQ(server.lastPumpTime, fakeNow);
    EXPECT_EQ(server.clients[0]->pendingCount(), 1);
}

TEST_F(ServerTest, PollsTheGameServerAndForgetsAStateThatIsNoLongerReported)
{
    UdpPeer gameServer;
    server.gamePortNumber = uint16_t(gameServer.port() - 1);
    deliver(gameServer, bytesOf("\\gstate\\7\\"));
    uint32_t reported = fakeNow;
    Bytes poll;
    while (fakeNow - reported <= 10000) {
        EXPECT_EQ(server.gameState, 7);
        fakeNow += 2001;
        server.tick();
        ASSERT_TRUE(gameServer.receive(&poll));
        EXPECT_EQ(poll, bytesOf("\\rules\\"));
        EXPECT_EQ(server.lastRulesPollTime, fakeNow);
    }
    EXPECT_EQ(server.gameState, -1);
    EXPECT_EQ(server.stateChangedTime, fakeNow);
    fakeNow += 1000;
    server.tick();  // within 2 s of the last poll: none
    EXPECT_TRUE(gameServer.quietFor(20));
}

TEST_F(ServerTest, AnnouncesAtStartAndEveryFifteenMinutesWhenEnabled)
{
    server.onStart(fakeNow);
    EXPECT_EQ(takeLog(), Lines{"Server thread says hello\nServer is running\n"});
    fakeNow += 900001;
    server.tick();
    EXPECT_TRUE(takeLog().empty());  // announcing is off

    UdpPeer browser(3, AddonServer::browserPort);
    if (!browser.isOpen())
        GTEST_SKIP() << "127.0.0.3:48124 is taken";
    server.announceEnabled = true;
    server.browserServer = "127.0.0.3";
    server.gamePortNumber = 2302;
    server.onStart(fakeNow);
    EXPECT_EQ(server.lastAnnounceTime, fakeNow);
    Bytes datagram;
    ASSERT_TRUE(browser.receive(&datagram));
    EXPECT_EQ(datagram, (Bytes{0xFE, 0xFF, 0x7F, 0x00, 0xFE, 0x08}));
    fakeNow += 900000;
    server.tick();
    EXPECT_TRUE(browser.quietFor(20));
    fakeNow += 1;
    server.tick();
    ASSERT_TRUE(browser.receive(&datagram));
    EXPECT_EQ(server.lastAnnounceTime, fakeNow);
    const std::string announcing = "Announcing to the Kitsync browser server\n";
    EXPECT_EQ(takeLog(), (Lines{"Server thread says hello\nServer is running\n", announcing, announcing}));

    server.browserServer = "";  // resolves to nothing, at once
    server.announce();
    EXPECT_EQ(takeLog(), (Lines{announcing, "Warning: Could not resolve IP to browser server\n"}));
}

TEST_F(ServerTest, MakesAtMostThirtyTwoRecordsForOneAddress)
{
    std::vector<std::unique_ptr<UdpPeer>> peers;
    for (int i = 0; i < 40; ++i) {
        peers.push_back(std::make_unique<UdpPeer>());
        deliver(*peers.back(), chunkRequest());
    }
    EXPECT_EQ(server.clients.size, 32);
    EXPECT_EQ(server.queuedDatagrams, 32 * 3);
    Lines log = takeLog();
    ASSERT_EQ(log.size(), 33u);  // 32 accepted, one warning for the eight dropped
    EXPECT_EQ(log[32], "Warning: Dropped 1 requests beyond the client limits, the last from " + at(*peers[32]) + "\n");

    deliver(*peers[39], resendRequest(0));  // a resend makes no record either
    EXPECT_EQ(server.clients.size, 32);
    fakeNow += 9999;
    server.lastPumpTime = fakeNow;  // no sending passes here
    server.tick();
    EXPECT_TRUE(takeLog().empty());  // one warning per 10 s
    fakeNow += 1;
    server.lastPumpTime = fakeNow;
    server.tick();
    EXPECT_EQ(takeLog(), Lines{"Warning: Dropped 8 requests beyond the client limits, the last from " +
                               at(*peers[39]) + "\n"});

    UdpPeer other(2);
    ASSERT_TRUE(other.isOpen());
    deliver(other, chunkRequest());  // another address has its own allowance
    EXPECT_EQ(server.clients.size, 33);
}

TEST_F(ServerTest, QueuesAtMostTwoCataloguesPerClientAndHoldsToTheTotalsAllOrNothing)
{
    UdpPeer client;
    deliver(client, chunkRequest());
    deliver(client, chunkRequest());
    deliver(client, chunkRequest());
    deliver(client, resendRequest(1));
    EXPECT_EQ(server.clients[0]->pendingCount(), 6);
    server.pumpSendQueues();
    deliver(client, chunkRequest());  // 5 + 3 would not fit: nothing is added
    EXPECT_EQ(server.clients[0]->pendingCount(), 5);
    deliver(client, resendRequest(1));
    EXPECT_EQ(server.clients[0]->pendingCount(), 6);
    EXPECT_EQ(server.queuedDatagrams, 6);

    expectChunks(client, {0}, false);
    expectChunks(client, {1, 2, 0, 1, 2, 1});
    EXPECT_EQ(server.clients.size, 0);
    EXPECT_EQ(server.queuedDatagrams, 0);

    // The totals over all records hold too.
    server.limits.records = 2;
    server.limits.queuedDatagrams = 7;
    UdpPeer a, b, c;
    deliver(a, chunkRequest());
    deliver(b, chunkRequest());
    deliver(c, chunkRequest());  // a third record would pass the total
    EXPECT_EQ(server.clients.size, 2);
    deliver(a, chunkRequest());  // 6 + 3 datagrams would pass the total
    EXPECT_EQ(server.queuedDatagrams, 6);
    deliver(a, resendRequest(2));
    EXPECT_EQ(server.queuedDatagrams, 7);
    deliver(b, resendRequest(2));
    EXPECT_EQ(server.queuedDatagrams, 7);
    EXPECT_EQ(server.clients[0]->pendingCount(), 4);
    EXPECT_EQ(server.clients[1]->pendingCount(), 3);
}

}  // namespace
