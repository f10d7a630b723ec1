#include "client/CatalogueFetcher.h"

#include "CatalogueBytes.h"
#include "TestCatalogueServer.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace {

FetchSettings quickSettings()
{
    FetchSettings settings;
    settings.answerTimeoutMs = 300;
    settings.quietTimeoutMs = 300;
    settings.maxFruitlessRounds = 3;
    return settings;
}

TestServerSetup setupFor(const Bytes& image)
{
    TestServerSetup setup;
    setup.chunks = sealImage(image);
    return setup;
}

// Records progress; a sluggish one sleeps past the quiet time-out once the
// first chunk is in.
class Recorder : public FetchObserver {
public:
    explicit Recorder(bool sluggish = false) : sluggish(sluggish) {}
    void progressed(const FetchProgress& progress) override
    {
        seen.push_back(progress);
        if (sluggish && progress.received == 1)
            platform::sleepMilliseconds(quickSettings().quietTimeoutMs + 200);
    }
    bool sluggish;
    std::vector<FetchProgress> seen;
};

// A server made from a setup, and a fetcher that talks to it.
struct Session {
    explicit Session(TestServerSetup setup)
        : server(std::move(setup)), link(platform::ipv4Address(127, 0, 0, 1), server.port())
    {
        EXPECT_TRUE(link.open());
    }

    // Queries, then fetches; false, with the error, when the transfer fails.
    bool fetch(Bytes& image, std::string& error, FetchObserver* observer = nullptr)
    {
        QueryAnswer answer;
        EXPECT_EQ(fetcher.query("", answer), QueryStatus::answered);
        ChunkCollector collector(answer.chunkCount);
        return fetcher.fetchChunks(collector, observer, error) &&
               inflateCompressedBlock(collector.compressedBlock(), image, error);
    }
    void expectImage(const Bytes& image, FetchObserver* observer = nullptr)
    {
        Bytes fetched;
        std::string error;
        EXPECT_TRUE(fetch(fetched, error, observer)) << error;
        EXPECT_EQ(fetched, image);
    }

    TestCatalogueServer server;
    ServerLink link;
    CatalogueFetcher fetcher{link, quickSettings()};
};

TEST(CatalogueFetcher, PasswordDecidesBetweenAnswerAndRefusal)
{
    TestServerSetup setup = setupFor(sampleCatalogue());
    setup.password = "Secret";
    setup.id = 0x12000003E8ull;
    Session session(setup);
    QueryAnswer answer;
    EXPECT_EQ(session.fetcher.query("secret", answer), QueryStatus::refused);
    EXPECT_EQ(session.fetcher.query("", answer), QueryStatus::refused);
    ASSERT_EQ(session.fetcher.query("Secret", answer), QueryStatus::answered);
    EXPECT_EQ(answer.chunkCount, setup.chunks.size());
    EXPECT_EQ(answer.infoBlockId, 0x12000003E8ull);
    EXPECT_EQ(session.server.counts().queries, 3u);

    setup.answerQueries = false;
    Session silent(setup);
    EXPECT_EQ(silent.fetcher.query("Secret", answer), QueryStatus::noAnswer);
    EXPECT_EQ(silent.server.counts().queries, quickSettings().queryAttempts);
}

// A lost chunk request is repeated, and a client kept busy past the quiet
// time-out reads what has queued up before it takes the pause for silence:
// none of these needs a resend.
TEST(CatalogueFetcher, WholeTransferNeedsNoResend)
{
    Bytes image = bulkyCatalogue(60);
    for (uint32_t unheard : {0u, 1u, 2u}) {
        SCOPED_TRACE(unheard);
        TestServerSetup setup = setupFor(image);
        setup.ignoreChunkRequests = unheard % 2;
        Session session(setup);
        Recorder recorder(unheard == 2);
        session.expectImage(image, &recorder);
        EXPECT_EQ(session.server.counts().chunkRequests, 1 + unheard % 2);
        EXPECT_TRUE(session.server.counts().resends.empty());
        ASSERT_FALSE(recorder.seen.empty());
        EXPECT_EQ(recorder.seen.back().received, recorder.seen.back().total);
    }
}

// Each lost or damaged chunk is asked for once. The last chunk is the hard
// case: nothing behind it reveals the loss, so only the silence after the
// queue has drained can. Chunks 200 ms apart with a quiet time-out of 300:
// a lost chunk makes a 400 ms gap, which must not pass for the end.
TEST(CatalogueFetcher, LostAndCorruptChunksComeBackByResendOnce)
{
    Bytes image = bulkyCatalogue(120);
    TestServerSetup setup = setupFor(image);
    uint16_t last = static_cast<uint16_t>(setup.chunks.size() - 1);
    ASSERT_GT(last, 6);
    setup.dropFirst = {1, 4, last};
    setup.corruptFirst = {2, 5};
    Session session(setup);
    session.expectImage(image);
    std::map<uint16_t, uint32_t> expected = {{1, 1}, {2, 1}, {4, 1}, {5, 1}, {last, 1}};
    EXPECT_EQ(session.server.counts().resends, expected);
    EXPECT_EQ(session.server.counts().chunkRequests, 1u);
    EXPECT_EQ(session.fetcher.progress().corrupt, 2u);
    EXPECT_EQ(session.fetcher.progress().resendRequests, 5u);

    TestServerSetup slow = setupFor(bulkyCatalogue(60));
    slow.sendDelayMs = 200;
    slow.dropFirst = {2};
    Session paced(slow);
    paced.expectImage(bulkyCatalogue(60));
    EXPECT_EQ(paced.server.counts().resends, (std::map<uint16_t, uint32_t>{{2, 1}}));
}

// A server that stops halfway is asked for each missing chunk once per
// silent round and then given up on, not flooded.
TEST(CatalogueFetcher, GivesUpOnAServerThatFallsSilent)
{
    TestServerSetup setup = setupFor(bulkyCatalogue(200));
    setup.sendAtMost = 3;
    size_t total = setup.chunks.size();
    Session session(setup);
    Bytes fetched;
    std::string error;
    ASSERT_FALSE(session.fetch(fetched, error));
    EXPECT_EQ(error.rfind("the server stopped sending: 3 of " + std::to_string(total) +
                              " chunks received, still missing 3, 4, 5", 0),
              0u)
        << error;
    std::map<uint16_t, uint32_t> resends = session.server.counts().resends;
    EXPECT_EQ(resends.size(), total - 3);
    for (const auto& [index, count] : resends)
        EXPECT_EQ(count, quickSettings().maxFruitlessRounds) << "chunk " << index;
}

}  // namespace
