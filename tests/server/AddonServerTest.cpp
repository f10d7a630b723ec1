#include "TimeStamp.h"
#include "UdpPeer.h"
#include "server/AddonServer.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

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
        ASSERT_TRUE(server.open(0, 0, platform::ipv4Address(127, 0, 0, 1)));
        serverPort = platform::localPort(server.socket);
        setChunks(3);
        server.infoBlock.infoBlockId = (uint64_t(0x12) << 32) + 1000;
        server.lastPumpTime = fakeNow;
        server.lastRulesPollTime = fakeNow;
        server.lastAnnounceTime = fakeNow;
    }
    void TearDown() override { platform::setTickSource(nullptr); }

    // count chunks of a block whose bytes count up from 0.
    void setChunks(int32_t count)
    {
        Bytes block(size_t(count - 1) * 256 + 10);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = uint8_t(i * 7);
        ASSERT_TRUE(splitIntoChunks(block.data(), uint32_t(block.size()), server.infoBlock));
    }

    Bytes chunk(int32_t index) const
    {
        const ByteBuffer& stored = *server.infoBlock.chunks[index];
        return Bytes(stored.data, stored.data + stored.size);
    }

    // Hands the server the datagram that peer sends, as its loop would.
    void deliver(const UdpPeer& peer, const Bytes& datagram)
    {
        ASSERT_TRUE(peer.send(serverPort, datagram));
        ASSERT_EQ(platform::waitUntilReadable(server.socket, 2000), platform::SocketWait::readable);
        server.handleDatagram(0);
    }

    std::vector<std::string> takeLog()
    {
        StringArray lines;
        server.logQueue.takeAll(lines);
        std::vector<std::string> taken;
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

// The defaults that shape behaviour (send delay, unknown game state, no
// password, announcing off) are checked where they act, in ServerTest.
TEST(AddonServerObject, OwnsItsWholeBufferAndQueuesLogLinesInOrder)
{
    AddonServer server;
    ASSERT_NE(server.receiveBuffer, nullptr);
    server.receiveBuffer[AddonServer::receiveBufferSize - 1] = 1;  // all of it is ours (ASan)
    EXPECT_EQ(server.socket, -1);

    server.log("first\n");
    server.log(nullptr);
    server.log("two\nlines\n");
    StringArray lines;
    EXPECT_EQ(server.logQueue.takeAll(lines), 0u);
    ASSERT_EQ(lines.size, 3);
    EXPECT_STREQ(lines[0].c_str(), "first\n");
    EXPECT_STREQ(lines[1].c_str(), "");
    EXPECT_STREQ(lines[2].c_str(), "two\nlines\n");
    EXPECT_EQ(server.logQueue.logLines.size, 0);
}

std::string printedBatch(LogQueue& queue)
{
    std::FILE* file = std::tmpfile();
    queue.printBatch(file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        text += char(c);
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
    std::string stamp = printed.substr(0, timeStampLength(printed));
    ASSERT_FALSE(stamp.empty()) << printed;
    EXPECT_EQ(printed, stamp + "Query from 127.0.0.1:2000 version 1040\n" + stamp +
                           "Server thread says hello\nServer is running\n");
    EXPECT_EQ(printedBatch(queue), "");  // the queue is empty again

    for (int32_t i = 0; i < LogQueue::maxPendingLines + 2; ++i)
        queue.add("x\n");
    printed = printedBatch(queue);
    EXPECT_NE(printed.find(": Warning: Console log overflowed, 2 lines dropped\n"), std::string::npos);
}

TEST_F(ServerTest, AnswersQueriesWithTheDocumentedBytes)
{
    UdpPeer client;
    Bytes answer;
    deliver(client, queryRequest(1039));
    ASSERT_TRUE(client.receive(&answer));
    const Bytes shortForm = {0x00, 0x80, 0x03, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00};
    EXPECT_EQ(answer, shortForm);
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Query from " + at(client) + " version 1039\n"});

    deliver(client, queryRequest(1040));
    ASSERT_TRUE(client.receive(&answer));
    ASSERT_EQ(answer.size(), 18u);
    EXPECT_EQ(answer[16], 0xFF);  // no state known yet
    EXPECT_EQ(answer[17], 0xFF);

    UdpPeer gameServer;
    deliver(gameServer, bytesOf("\\gstate\\2\\"));
    fakeNow += 5000;
    deliver(client, queryRequest(1040));
    ASSERT_TRUE(client.receive(&answer));
    Bytes longForm = shortForm;
    for (uint8_t b : {0x88, 0x13, 0x00, 0x00, 0x02, 0x00})
        longForm.push_back(b);
    EXPECT_EQ(answer, longForm);
    EXPECT_TRUE(gameServer.quietFor(20));  // a report is never answered
}

TEST_F(ServerTest, RefusesAWrongPasswordWithItsFourBytes)
{
    UdpPeer client;
    Bytes answer;
    deliver(client, queryRequest(1040));  // no password set: anything goes
    ASSERT_TRUE(client.receive(&answer));
    EXPECT_EQ(answer.size(), 18u);

    server.password = "Secret";
    deliver(client, queryRequest(1040, "secret"));
    ASSERT_TRUE(client.receive(&answer));
    EXPECT_EQ(answer, (Bytes{0x01, 0x80, 0xFF, 0xFF}));
    deliver(client, queryRequest(1039));
    ASSERT_TRUE(client.receive(&answer));
    EXPECT_EQ(answer, (Bytes{0x01, 0x80, 0xFF, 0xFF}));

    Bytes withTail = queryRequest(1039, "Secret");
    for (char c : {'x', 'y', '\0'})  // bytes behind the first NUL are ignored
        withTail.push_back(uint8_t(c));
    deliver(client, withTail);
    ASSERT_TRUE(client.receive(&answer));
    EXPECT_EQ(answer.size(), 12u);
    std::vector<std::string> log = takeLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "Query with wrong password from " + at(client) + "\n");
    EXPECT_EQ(log[3], "Query from " + at(client) + " version 1039\n");
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

TEST_F(ServerTest, SendsOneQueuedChunkPerPassAndDropsTheRecordWithTheLast)
{
    UdpPeer client;
    deliver(client, chunkRequest());
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Sending chunks to " + at(client) + "\n"});
    ASSERT_EQ(server.clients.size, 1);
    EXPECT_EQ(server.clients[0]->port, client.port());
    // Handles to the stored chunks, not copies of them.
    EXPECT_EQ(server.clients[0]->sendQueue[2].get(), server.infoBlock.chunks[2].get());
    EXPECT_EQ(server.infoBlock.chunks[2].refs(), 2u);
    EXPECT_TRUE(client.quietFor(20));  // nothing leaves before a pass

    Bytes received;
    for (int32_t k = 0; k < 3; ++k) {
        EXPECT_EQ(server.clients.size, 1);
        server.pumpSendQueues();
        ASSERT_TRUE(client.receive(&received));
        EXPECT_EQ(received, chunk(k));
    }
    EXPECT_EQ(server.clients.size, 0);
    EXPECT_EQ(server.queuedDatagrams, 0);
    EXPECT_EQ(server.infoBlock.chunks[2].refs(), 1u);
    server.pumpSendQueues();
    EXPECT_TRUE(client.quietFor(20));
}

TEST_F(ServerTest, QueuesResendsBehindWhatIsAlreadyQueued)
{
    UdpPeer client;
    deliver(client, chunkRequest());
    deliver(client, resendRequest(0));
    deliver(client, resendRequest(2));
    std::vector<std::string> log = takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Resending chunk 0 to " + at(client) + "\n");
    Bytes received;
    for (int32_t expected : {0, 1, 2, 0, 2}) {
        server.pumpSendQueues();
        ASSERT_TRUE(client.receive(&received));
        EXPECT_EQ(received, chunk(expected));
    }
    EXPECT_EQ(server.clients.size, 0);

    deliver(client, resendRequest(1));  // a resend alone makes a record too
    server.pumpSendQueues();
    ASSERT_TRUE(client.receive(&received));
    EXPECT_EQ(received, chunk(1));
    EXPECT_EQ(server.clients.size, 0);
}

TEST_F(ServerTest, KeepsSeparateQueuesForPortsOfOneAddress)
{
    UdpPeer first;
    UdpPeer second;
    deliver(first, chunkRequest());
    server.pumpSendQueues();
    deliver(second, chunkRequest());
    ASSERT_EQ(server.clients.size, 2);
    EXPECT_EQ(server.findOrAddClient(first.address, first.port()), 0);
    EXPECT_EQ(server.findOrAddClient(second.address, second.port()), 1);

    Bytes received;
    ASSERT_TRUE(first.receive(&received));
    EXPECT_EQ(received, chunk(0));
    server.pumpSendQueues();  // one datagram for each client
    ASSERT_TRUE(first.receive(&received));
    EXPECT_EQ(received, chunk(1));
    ASSERT_TRUE(second.receive(&received));
    EXPECT_EQ(received, chunk(0));
    EXPECT_TRUE(first.quietFor(10));
    EXPECT_TRUE(second.quietFor(10));
    server.pumpSendQueues();
    EXPECT_EQ(server.clients.size, 1);  // the first is done
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
    EXPECT_EQ(server.gameState, 6);
    EXPECT_EQ(server.lastStateReportTime, reported);

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

    deliver(local, Bytes{'\\', 0x04, 0, 0, 0});  // a query from version 0x045C
    Bytes answer;
    ASSERT_TRUE(local.receive(&answer));
    EXPECT_EQ(answer.size(), 18u);
    deliver(local, Bytes{'\\', 0x04, 1, 0});
    EXPECT_EQ(takeLog(), (std::vector<std::string>{"Query from " + at(local) + " version 1116\n",
                                                   "Sending chunks to " + at(local) + "\n"}));
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
    Bytes received;
    ASSERT_TRUE(client.receive(&received));
    EXPECT_EQ(received, chunk(0));
    ASSERT_TRUE(client.receive(&received));
    EXPECT_EQ(received, chunk(1));

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
    server.onStart();
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Server thread says hello\nServer is running\n"});
    fakeNow += 900001;
    server.tick();
    EXPECT_TRUE(takeLog().empty());  // announcing is off

    UdpPeer browser(3, AddonServer::browserPort);
    if (!browser.isOpen())
        GTEST_SKIP() << "127.0.0.3:48124 is taken";
    server.announceEnabled = true;
    server.browserServer = "127.0.0.3";
    server.gamePortNumber = 2302;
    server.onStart();
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
    std::vector<std::string> log = takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Announcing to the Kitsync browser server\n");
    EXPECT_EQ(log[2], "Announcing to the Kitsync browser server\n");

    server.browserServer = "";  // resolves to nothing, at once
    server.announce();
    EXPECT_EQ(takeLog(), (std::vector<std::string>{"Announcing to the Kitsync browser server\n",
                                                   "Warning: Could not resolve IP to browser server\n"}));
}

TEST_F(ServerTest, MakesAtMostThirtyTwoRecordsForOneAddress)
{
    std::vector<UdpPeer*> peers;
    for (int i = 0; i < 40; ++i)
        peers.push_back(new UdpPeer());
    for (UdpPeer* peer : peers)
        deliver(*peer, chunkRequest());
    EXPECT_EQ(server.clients.size, 32);
    EXPECT_EQ(server.queuedDatagrams, 32 * 3);
    std::vector<std::string> log = takeLog();
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
    EXPECT_EQ(takeLog(), std::vector<std::string>{"Warning: Dropped 8 requests beyond the client limits, the last from " +
                                                  at(*peers[39]) + "\n"});

    UdpPeer other(2);
    ASSERT_TRUE(other.isOpen());
    deliver(other, chunkRequest());  // another address has its own allowance
    EXPECT_EQ(server.clients.size, 33);
    for (UdpPeer* peer : peers)
        delete peer;
}

TEST_F(ServerTest, QueuesAtMostTwoCataloguesPerClientAndAllOrNothing)
{
    UdpPeer client;
    deliver(client, chunkRequest());
    deliver(client, chunkRequest());
    EXPECT_EQ(server.clients[0]->pendingCount(), 6);
    deliver(client, chunkRequest());
    deliver(client, resendRequest(1));
    EXPECT_EQ(server.clients[0]->pendingCount(), 6);
    server.pumpSendQueues();
    deliver(client, chunkRequest());  // 5 + 3 would not fit: nothing is added
    EXPECT_EQ(server.clients[0]->pendingCount(), 5);
    deliver(client, resendRequest(1));
    EXPECT_EQ(server.clients[0]->pendingCount(), 6);
    EXPECT_EQ(server.queuedDatagrams, 6);

    Bytes received;
    ASSERT_TRUE(client.receive(&received));
    for (int32_t expected : {1, 2, 0, 1, 2, 1}) {
        server.pumpSendQueues();
        ASSERT_TRUE(client.receive(&received));
        EXPECT_EQ(received, chunk(expected));
    }
    EXPECT_EQ(server.clients.size, 0);
    EXPECT_EQ(server.queuedDatagrams, 0);
}

TEST_F(ServerTest, HoldsToTheRecordAndDatagramTotals)
{
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
