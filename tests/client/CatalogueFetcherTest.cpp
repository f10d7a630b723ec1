#include "client/CatalogueFetcher.h"

#include "CatalogueBytes.h"
#include "FakeCatalogueServer.h"
#include "SealedCatalogue.h"
#include "platform/HostResolver.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

FetchSettings quickSettings()
{
    FetchSettings settings;
    settings.answerTimeoutMs = 150;
    settings.quietTimeoutMs = 150;
    settings.maxFruitlessRounds = 3;
    return settings;
}

class Recorder : public FetchObserver {
public:
    void progressed(const FetchProgress& progress) override { seen.push_back(progress); }
    std::vector<FetchProgress> seen;
};

struct Session {
    explicit Session(const FakeCatalogueServer& server) : link(platform::ipv4Address(127, 0, 0, 1), server.port())
    {
        EXPECT_TRUE(link.open());
    }

    // Queries, then fetches; the image when everything worked.
    bool fetch(Bytes& image, std::string& error, FetchObserver* observer = nullptr)
    {
        QueryAnswer answer;
        if (fetcher.query("", answer) != QueryStatus::answered) {
            error = "no answer";
            return false;
        }
        ChunkCollector collector(answer.chunkCount);
        return fetcher.fetchChunks(collector, observer, error) &&
               inflateCompressedBlock(collector.compressedBlock(), image, error);
    }

    ServerLink link;
    CatalogueFetcher fetcher{link, quickSettings()};
};

FakeServerSetup setupFor(const Bytes& image)
{
    SealedCatalogue sealed = sealImage(image);
    FakeServerSetup setup;
    setup.chunks = sealed.chunks;
    setup.id = sealed.id;
    return setup;
}

TEST(CatalogueFetcher, QueryReadsTheLongAnswer)
{
    FakeServerSetup setup = setupFor(sampleCatalogue());
    setup.id = 0x12000003E8ull;
    setup.gameState = 2;
    setup.stateAgeMs = 5000;
    FakeCatalogueServer server(setup);
    Session session(server);
    QueryAnswer answer;
    ASSERT_EQ(session.fetcher.query("", answer), QueryStatus::answered);
    EXPECT_EQ(answer.chunkCount, setup.chunks.size());
    EXPECT_EQ(answer.infoBlockId, 0x12000003E8ull);
    EXPECT_TRUE(answer.hasGameState);
    EXPECT_EQ(answer.gameState, 2);
    EXPECT_EQ(answer.stateAgeMs, 5000u);
}

TEST(CatalogueFetcher, PasswordDecidesBetweenAnswerAndRefusal)
{
    FakeServerSetup setup = setupFor(sampleCatalogue());
    setup.password = "Secret";
    FakeCatalogueServer server(setup);
    Session session(server);
    QueryAnswer answer;
    EXPECT_EQ(session.fetcher.query("secret", answer), QueryStatus::refused);
    EXPECT_EQ(session.fetcher.query("", answer), QueryStatus::refused);
    EXPECT_EQ(session.fetcher.query("Secret", answer), QueryStatus::answered);
    EXPECT_EQ(server.queries(), 3u);
}

TEST(CatalogueFetcher, SilentServerGetsEveryAttemptThenNoAnswer)
{
    FakeServerSetup setup = setupFor(sampleCatalogue());
    setup.answerQueries = false;
    FakeCatalogueServer server(setup);
    Session session(server);
    QueryAnswer answer;
    EXPECT_EQ(session.fetcher.query("", answer), QueryStatus::noAnswer);
    EXPECT_EQ(server.queries(), quickSettings().queryAttempts);
}

TEST(CatalogueFetcher, CleanTransferNeedsNoResend)
{
    Bytes image = bulkyCatalogue(60);
    FakeCatalogueServer server(setupFor(image));
    Session session(server);
    Recorder recorder;
    Bytes fetched;
    std::string error;
    ASSERT_TRUE(session.fetch(fetched, error, &recorder)) << error;
    EXPECT_EQ(fetched, image);
    EXPECT_EQ(server.chunkRequests(), 1u);
    EXPECT_TRUE(server.resendRequests().empty());
    ASSERT_FALSE(recorder.seen.empty());
    EXPECT_EQ(recorder.seen.back().received, recorder.seen.back().total);
}

// The last chunk is the hard case: nothing behind it reveals the loss, so
// only the silence after the queue has drained can.
TEST(CatalogueFetcher, LostAndCorruptChunksComeBackByResendOnce)
{
    Bytes image = bulkyCatalogue(120);
    FakeServerSetup setup = setupFor(image);
    uint16_t last = static_cast<uint16_t>(setup.chunks.size() - 1);
    ASSERT_GT(last, 6);
    setup.dropFirst = {1, 4, last};
    setup.corruptFirst = {2, 5};
    FakeCatalogueServer server(setup);
    Session session(server);
    Bytes fetched;
    std::string error;
    ASSERT_TRUE(session.fetch(fetched, error)) << error;
    EXPECT_EQ(fetched, image);

    std::map<uint16_t, uint32_t> expected = {{1, 1}, {2, 1}, {4, 1}, {5, 1}, {last, 1}};
    EXPECT_EQ(server.resendRequests(), expected);
    EXPECT_EQ(server.chunkRequests(), 1u);
    EXPECT_EQ(session.fetcher.progress().corrupt, 2u);
    EXPECT_EQ(session.fetcher.progress().resendRequests, 5u);
}

// Chunks 120 ms apart with a quiet time-out of 150: a lost chunk makes a
// 240 ms gap, which must not pass for the end of the queue.
TEST(CatalogueFetcher, SlowPacedServerIsNotRushed)
{
    Bytes image = bulkyCatalogue(60);
    FakeServerSetup setup = setupFor(image);
    ASSERT_GE(setup.chunks.size(), 5u);
    setup.sendDelayMs = 120;
    setup.dropFirst = {2};
    FakeCatalogueServer server(setup);
    Session session(server);
    Bytes fetched;
    std::string error;
    ASSERT_TRUE(session.fetch(fetched, error)) << error;
    EXPECT_EQ(fetched, image);
    EXPECT_EQ(server.resendRequests(), (std::map<uint16_t, uint32_t>{{2, 1}}));
}

TEST(CatalogueFetcher, LostChunkRequestIsRepeated)
{
    Bytes image = sampleCatalogue();
    FakeServerSetup setup = setupFor(image);
    setup.ignoreChunkRequests = 1;
    FakeCatalogueServer server(setup);
    Session session(server);
    Bytes fetched;
    std::string error;
    ASSERT_TRUE(session.fetch(fetched, error)) << error;
    EXPECT_EQ(fetched, image);
    EXPECT_EQ(server.chunkRequests(), 2u);
    EXPECT_TRUE(server.resendRequests().empty());
}

// A server that stops halfway is asked for each missing chunk once per
// silent round and then given up on, not flooded.
TEST(CatalogueFetcher, GivesUpOnAServerThatFallsSilent)
{
    FakeServerSetup setup = setupFor(bulkyCatalogue(200));
    setup.sendAtMost = 3;
    size_t total = setup.chunks.size();
    FakeCatalogueServer server(setup);
    Session session(server);
    Bytes fetched;
    std::string error;
    ASSERT_FALSE(session.fetch(fetched, error));
    EXPECT_EQ(error.rfind("the server stopped sending: 3 of " + std::to_string(total) +
                              " chunks received, still missing 3, 4, 5",
                          0),
              0u)
        << error;
    std::map<uint16_t, uint32_t> resends = server.resendRequests();
    EXPECT_EQ(resends.size(), total - 3);
    for (const auto& [index, count] : resends)
        EXPECT_EQ(count, quickSettings().maxFruitlessRounds) << "chunk " << index;
}

}  // namespace
