#include "ServiceRecorder.h"
#include "client/QueryProtocol.h"
#include "server/CatalogueService.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

namespace {

const uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);

// The service over a catalogue of three chunks, each with bytes of its
// own, driven with a clock of the test's own that starts at 0.
class ServiceTest : public testing::Test {
protected:
    ServiceTest()
    {
        Bytes block(2 * 256 + 10);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = uint8_t(i * 7);
        splitIntoChunks(block.data(), uint32_t(block.size()), catalogue);
        catalogue.infoBlockId = (uint64_t(0x12) << 32) + 1000;
        make();
    }

    void make(const ServingConfig& config = ServingConfig())
    {
        service.reset();  // its handles to the chunks go first
        service = std::make_unique<CatalogueService>(config, catalogue, out);
    }

    void deliver(const Peer& from, const Bytes& datagram)
    {
        service->receive(datagram.data(), int32_t(datagram.size()), from.address, from.port, now);
    }

    // The one datagram the request brought back.
    Bytes exchange(const Peer& from, const Bytes& request)
    {
        deliver(from, request);
        Bytes answer = out.take(from);
        EXPECT_TRUE(out.quiet(from));
        return answer;
    }

    void tickAt(uint32_t time)
    {
        now = time;
        service->tick(now);
    }

    // One sending pass on the default grid.
    void pass() { tickAt(now + 200); }

    // The chunks peer gets, with a sending pass before each when pass; each
    // one leaves as the stored chunk's own bytes.
    void expectChunks(const Peer& peer, std::initializer_list<int32_t> expected, bool withPass = true)
    {
        for (int32_t index : expected) {
            if (withPass)
                pass();
            const ByteBuffer& stored = *catalogue.chunks[index];
            ASSERT_FALSE(out.quiet(peer)) << "chunk " << index;
            EXPECT_EQ(out.peekData(peer), stored.data);
            EXPECT_EQ(out.take(peer), Bytes(stored.data, stored.data + stored.size));
        }
    }

    uint32_t pendingFor(int32_t record) const { return uint32_t(service->clients()[record].pendingCount()); }

    InfoBlock catalogue;
    ServiceRecorder out;
    std::unique_ptr<CatalogueService> service;
    uint32_t now = 0;
    Peer client{loopback, 40000};
    Peer gameServer{loopback, 2303};
};

ServingConfig withPassword(const char* password)
{
    ServingConfig config;
    config.password = password;
    return config;
}

TEST_F(ServiceTest, AnswersQueriesWithTheDocumentedBytesAndRefusesAWrongPassword)
{
    const Bytes shortForm = {0x00, 0x80, 0x03, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00};
    EXPECT_EQ(exchange(client, queryRequest(1039, "")), shortForm);
    EXPECT_EQ(out.takeLog(), Lines{"Query from 127.0.0.1:40000 version 1039\n"});

    Bytes answer = exchange(client, queryRequest(1040, ""));
    ASSERT_EQ(answer.size(), 18u);
    EXPECT_EQ(answer[16], 0xFF);  // no state known yet
    EXPECT_EQ(answer[17], 0xFF);

    deliver(gameServer, bytesOf("\\gstate\\2\\"));
    EXPECT_TRUE(out.quiet(gameServer));  // a report is never answered
    now += 5000;
    Bytes longForm = shortForm;
    longForm.insert(longForm.end(), {0x88, 0x13, 0x00, 0x00, 0x02, 0x00});
    EXPECT_EQ(exchange(client, queryRequest(1040, "")), longForm);

    make(withPassword("Secret"));
    out.takeLog();
    const Bytes refused = {0x01, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(exchange(client, queryRequest(1040, "secret")), refused);
    EXPECT_EQ(exchange(client, queryRequest(1039, "")), refused);
    Bytes withTail = queryRequest(1039, "Secret");
    withTail.insert(withTail.end(), {'x', 'y', '\0'});  // bytes behind the first NUL are ignored
    EXPECT_EQ(exchange(client, withTail).size(), 12u);
    Lines log = out.takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "Query with wrong password from 127.0.0.1:40000\n");
    EXPECT_EQ(log[2], "Query from 127.0.0.1:40000 version 1039\n");
}

TEST_F(ServiceTest, IgnoresMalformedDatagrams)
{
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
    EXPECT_TRUE(out.sent.empty());
    EXPECT_TRUE(out.takeLog().empty());
    EXPECT_EQ(service->clients().size(), 0);
    EXPECT_EQ(service->gameState(), -1);
}

TEST_F(ServiceTest, AShortDatagramRunsTheTimerOnce)
{
    Peer other{loopback, 40001};
    deliver(other, chunkRequest());
    now += 2001;
    deliver(client, Bytes{1, 2});  // ten passes of 200 ms, 1 ms left over
    expectChunks(other, {0, 1, 2}, false);
    EXPECT_EQ(out.take(Peer{loopback, 1}), bytesOf("\\rules\\"));
    EXPECT_TRUE(out.sent.empty());

    deliver(client, chunkRequest());
    tickAt(now + 198);
    EXPECT_TRUE(out.quiet(client));
    tickAt(now + 1);  // the grid: 2000 + 200
    expectChunks(client, {0}, false);
}

TEST_F(ServiceTest, SendsOneQueuedChunkPerPassPerClientAndDropsTheRecordWithTheLast)
{
    const uint32_t heldByService = catalogue.chunks[2].refs();
    deliver(client, chunkRequest());
    EXPECT_EQ(out.takeLog(), Lines{"Sending chunks to 127.0.0.1:40000\n"});
    ASSERT_EQ(service->clients().size(), 1);
    // Handles to the stored chunks, not copies of them.
    EXPECT_EQ(service->clients()[0].sendQueue[2].get(), catalogue.chunks[2].get());
    EXPECT_TRUE(out.quiet(client));  // nothing leaves before a pass
    expectChunks(client, {0, 1, 2});
    EXPECT_EQ(service->clients().size(), 0);
    EXPECT_EQ(service->clients().queuedDatagrams(), 0);
    EXPECT_EQ(catalogue.chunks[2].refs(), heldByService);
    pass();
    EXPECT_TRUE(out.quiet(client));

    // Resends queue behind what is already queued.
    deliver(client, chunkRequest());
    deliver(client, resendRequest(0));
    deliver(client, resendRequest(2));
    Lines log = out.takeLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Resending chunk 0 to 127.0.0.1:40000\n");
    expectChunks(client, {0, 1, 2, 0, 2});
    EXPECT_EQ(service->clients().size(), 0);

    deliver(client, resendRequest(1));  // a resend alone makes a record too
    expectChunks(client, {1});
    EXPECT_EQ(service->clients().size(), 0);

    // Ports of one address have queues of their own.
    Peer first{loopback, 40001}, second{loopback, 40002};
    deliver(first, chunkRequest());
    expectChunks(first, {0});
    deliver(second, chunkRequest());
    pass();
    EXPECT_LT(out.positionOf(second), out.positionOf(first));  // the newest record first
    expectChunks(first, {1}, false);  // one datagram for each client
    expectChunks(second, {0}, false);
    EXPECT_TRUE(out.quiet(first));
    EXPECT_TRUE(out.quiet(second));
    pass();
    ASSERT_EQ(service->clients().size(), 1);  // the first is done
    EXPECT_EQ(service->clients()[0].port, second.port);
}

TEST_F(ServiceTest, TakesTheGameStateOnlyFromThisMachinesGameServer)
{
    // The age of the state, as a long query answer carries it.
    auto stateAge = [this] {
        Bytes answer = exchange(client, queryRequest(1040, ""));
        return uint32_t(answer[12] | answer[13] << 8 | answer[14] << 16 | uint32_t(answer[15]) << 24);
    };
    now = 1000;
    deliver(gameServer, bytesOf("\\hostname\\x\\gstate\\5\\"));
    EXPECT_EQ(service->gameState(), 5);
    EXPECT_EQ(stateAge(), 0u);

    now += 700;
    deliver(gameServer, bytesOf("\\gstate\\5\\"));
    EXPECT_EQ(stateAge(), 700u);  // the same state: unchanged since

    now += 100;
    deliver(gameServer, bytesOf("\\GSTATE\\6\\"));
    EXPECT_EQ(service->gameState(), 6);
    EXPECT_EQ(stateAge(), 0u);
    out.takeLog();

    uint32_t reported = now;
    now += 100;
    deliver(gameServer, bytesOf("\\gstate\\7"));  // no closing '\': not a report
    deliver(Peer{platform::ipv4Address(127, 0, 0, 2), 2303}, bytesOf("\\gstate\\9\\"));
    EXPECT_EQ(service->gameState(), 6);
    EXPECT_TRUE(out.takeLog().empty());
    // Neither counted as a report: 10 s after the last real one the state
    // is forgotten at the next poll.
    tickAt(reported + 10050);
    EXPECT_EQ(service->gameState(), -1);
}

// A leading '\' only makes a datagram a state report when the key and its
// closed value are there; otherwise it is still tested as a request.
TEST_F(ServiceTest, ServesABackslashDatagramThatIsNoReportAsARequest)
{
    Peer local{loopback, 40000};
    deliver(local, bytesOf("\\gstate\\"));  // the key with nothing behind it
    EXPECT_TRUE(out.sent.empty());
    EXPECT_TRUE(out.takeLog().empty());

    Bytes answer = exchange(local, Bytes{'\\', 0x04, 0, 0, 0});  // a query from version 0x045C
    ASSERT_EQ(answer.size(), 18u);
    EXPECT_EQ(answer[16], 0xFF);  // no state taken
    deliver(local, Bytes{'\\', 0x04, 1, 0});
    EXPECT_EQ(out.takeLog(),
              (Lines{"Query from 127.0.0.1:40000 version 1116\n", "Sending chunks to 127.0.0.1:40000\n"}));
    EXPECT_EQ(service->clients().size(), 1);
    EXPECT_EQ(service->gameState(), -1);
}

TEST_F(ServiceTest, KeepsSendingPassesOnTheDelayGrid)
{
    deliver(client, chunkRequest());
    deliver(client, chunkRequest());
    tickAt(450);
    expectChunks(client, {0, 1}, false);
    tickAt(599);
    EXPECT_TRUE(out.quiet(client));
    tickAt(600);  // 450 ms left 50 over
    expectChunks(client, {2}, false);

    tickAt(now + 20000);  // a long pause makes up 100 ms at most: no pass of 200
    EXPECT_TRUE(out.quiet(client));
    EXPECT_EQ(pendingFor(0), 3u);
    tickAt(now + 99);
    EXPECT_TRUE(out.quiet(client));
    tickAt(now + 1);
    expectChunks(client, {0}, false);

    ServingConfig fast;
    fast.sendDelay = 50;
    make(fast);
    deliver(client, chunkRequest());
    tickAt(now + 20000);  // 100 ms worth: two passes of 50
    expectChunks(client, {0, 1}, false);
    tickAt(now + 49);
    EXPECT_TRUE(out.quiet(client));
    tickAt(now + 1);
    expectChunks(client, {2}, false);
}

TEST_F(ServiceTest, PollsTheGameServerAndForgetsAStateThatIsNoLongerReported)
{
    ServingConfig config;
    config.gamePort = 2302;
    make(config);
    now = 3000;
    deliver(gameServer, bytesOf("\\gstate\\7\\"));
    uint32_t reported = now;
    while (now - reported <= 10000) {
        EXPECT_EQ(service->gameState(), 7);
        tickAt(now + 2001);
        EXPECT_EQ(out.take(gameServer), bytesOf("\\rules\\"));
    }
    EXPECT_EQ(service->gameState(), -1);
    Bytes answer = exchange(client, queryRequest(1040, ""));
    EXPECT_EQ(Bytes(answer.begin() + 12, answer.end()), (Bytes{0, 0, 0, 0, 0xFF, 0xFF}));  // forgotten just now
    tickAt(now + 1000);  // within 2 s of the last poll: none
    EXPECT_TRUE(out.quiet(gameServer));
}

TEST_F(ServiceTest, AnnouncesAtStartAndEveryFifteenMinutesWhenEnabled)
{
    const std::string hello = "Server thread says hello\nServer is running\n";
    const std::string announcing = "Announcing to the Kitsync browser server\n";
    const std::string unresolved = "Warning: Could not resolve IP to browser server\n";
    service->start(now);
    EXPECT_EQ(out.takeLog(), Lines{hello});
    tickAt(now + 900001);
    EXPECT_TRUE(out.takeLog().empty());  // announcing is off

    ServingConfig config;
    config.announce = true;
    config.gamePort = 2302;
    make(config);
    const Peer browser{platform::ipv4Address(127, 0, 0, 3), wire::kBrowserPort};
    service->setBrowserAddress(browser.address);
    service->start(now);
    EXPECT_EQ(out.take(browser), (Bytes{0xFE, 0xFF, 0x7F, 0x00, 0xFE, 0x08}));
    tickAt(now + 900000);
    EXPECT_TRUE(out.quiet(browser));
    tickAt(now + 1);
    EXPECT_FALSE(out.quiet(browser));
    out.take(browser);
    EXPECT_EQ(out.takeLog(), (Lines{hello, announcing, announcing}));

    service->setBrowserAddress(platform::noAddress);  // none resolved yet
    tickAt(now + 900001);
    EXPECT_EQ(out.takeLog(), (Lines{announcing, unresolved}));
    EXPECT_TRUE(out.quiet(browser));
}

TEST_F(ServiceTest, MakesAtMostThirtyTwoRecordsForOneAddress)
{
    ServingConfig config;
    config.sendDelay = 1000000;  // no sending passes here
    make(config);
    std::vector<Peer> peers;
    for (uint16_t i = 0; i < 40; ++i) {
        peers.push_back(Peer{loopback, uint16_t(41000 + i)});
        deliver(peers.back(), chunkRequest());
    }
    EXPECT_EQ(service->clients().size(), 32);
    EXPECT_EQ(service->clients().queuedDatagrams(), 32 * 3);
    Lines log = out.takeLog();
    ASSERT_EQ(log.size(), 33u);  // 32 accepted, one warning for the eight dropped
    EXPECT_EQ(log[32], "Warning: Dropped 1 requests beyond the client limits, the last from 127.0.0.1:41032\n");

    deliver(peers[39], resendRequest(0));  // a resend makes no record either
    EXPECT_EQ(service->clients().size(), 32);
    tickAt(now + 9999);
    EXPECT_TRUE(out.takeLog().empty());  // one warning per 10 s
    tickAt(now + 1);
    EXPECT_EQ(out.takeLog(),
              Lines{"Warning: Dropped 8 requests beyond the client limits, the last from 127.0.0.1:41039\n"});

    deliver(Peer{platform::ipv4Address(127, 0, 0, 2), 41000}, chunkRequest());  // another address has its own allowance
    EXPECT_EQ(service->clients().size(), 33);
}

// A flood is answered in full, but its lines are counted past 50 a second,
// with one warning at most every 10 s; ordinary load loses no line.
TEST_F(ServiceTest, PrintsAtMostFiftyRequestLinesASecondAndCountsTheRest)
{
    const Bytes query = queryRequest(kQueryClientVersion, "");
    for (uint16_t i = 0; i < 120; ++i) {
        Peer sender{loopback, uint16_t(42000 + i)};
        EXPECT_EQ(exchange(sender, query).size(), 18u) << i;
    }
    Lines log = out.takeLog();
    ASSERT_EQ(log.size(), 51u);
    EXPECT_EQ(log[49], "Query from 127.0.0.1:42049 version 1040\n");
    EXPECT_EQ(log[50], "Warning: Left out 1 request lines beyond 50 a second from the log, the last from 127.0.0.1:42050\n");

    tickAt(999);
    deliver(client, query);
    EXPECT_TRUE(out.takeLog().empty());  // still the first second
    tickAt(1000);
    deliver(client, resendRequest(1));
    EXPECT_EQ(out.takeLog(), Lines{"Resending chunk 1 to 127.0.0.1:40000\n"});

    tickAt(10000);
    EXPECT_EQ(out.takeLog(),
              Lines{"Warning: Left out 70 request lines beyond 50 a second from the log, the last from 127.0.0.1:40000\n"});
    tickAt(30000);
    EXPECT_TRUE(out.takeLog().empty());  // nothing left out since
}

TEST_F(ServiceTest, QueuesAtMostTwoCataloguesPerClientAndHoldsToTheTotalsAllOrNothing)
{
    deliver(client, chunkRequest());
    deliver(client, chunkRequest());
    deliver(client, chunkRequest());
    deliver(client, resendRequest(1));
    EXPECT_EQ(pendingFor(0), 6u);
    pass();
    deliver(client, chunkRequest());  // 5 + 3 would not fit: nothing is added
    EXPECT_EQ(pendingFor(0), 5u);
    deliver(client, resendRequest(1));
    EXPECT_EQ(pendingFor(0), 6u);
    EXPECT_EQ(service->clients().queuedDatagrams(), 6);

    expectChunks(client, {0}, false);
    expectChunks(client, {1, 2, 0, 1, 2, 1});
    EXPECT_EQ(service->clients().size(), 0);
    EXPECT_EQ(service->clients().queuedDatagrams(), 0);

    // The totals over all records hold too.
    ServingConfig config;
    config.limits.records = 2;
    config.limits.queuedDatagrams = 7;
    make(config);
    Peer a{loopback, 41000}, b{loopback, 41001}, c{loopback, 41002};
    deliver(a, chunkRequest());
    deliver(b, chunkRequest());
    deliver(c, chunkRequest());  // a third record would pass the total
    EXPECT_EQ(service->clients().size(), 2);
    deliver(a, chunkRequest());  // 6 + 3 datagrams would pass the total
    EXPECT_EQ(service->clients().queuedDatagrams(), 6);
    deliver(a, resendRequest(2));
    EXPECT_EQ(service->clients().queuedDatagrams(), 7);
    deliver(b, resendRequest(2));
    EXPECT_EQ(service->clients().queuedDatagrams(), 7);
    EXPECT_EQ(pendingFor(0), 4u);
    EXPECT_EQ(pendingFor(1), 3u);
}

}  // namespace
