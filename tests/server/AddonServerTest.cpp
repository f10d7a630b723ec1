#include "ServiceRecorder.h"
#include "client/QueryProtocol.h"
#include "server/AddonServer.h"
#include "server/BrowserResolver.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

const uint32_t browserAddress = platform::ipv4Address(127, 0, 0, 3);

// A resolver that does not answer until the test lets it, as one waiting
// out its time-out would.
struct StuckLookup {
    static uint32_t lookup(const char*)
    {
        std::unique_lock<std::mutex> hold(lock);
        entered = true;
        changed.notify_all();
        changed.wait(hold, [] { return released; });
        return platform::noAddress;
    }
    static void awaitEntered()
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [] { return entered; });
    }

    StuckLookup()
    {
        std::lock_guard<std::mutex> hold(lock);
        entered = released = false;
    }
    // Lets the lookup answer; declared after the resolver, so that this
    // comes before the resolver waits for its thread.
    ~StuckLookup()
    {
        std::lock_guard<std::mutex> hold(lock);
        released = true;
        changed.notify_all();
    }

    static inline std::mutex lock;
    static inline std::condition_variable changed;
    static inline bool entered = false, released = false;
};

uint32_t answers[2];
int answered = 0;
uint32_t scriptedLookup(const char*)
{
    return answers[answered++];
}

// The server glue with the socket's sending turned to a record.
class RecordingServer : public AddonServer {
public:
    using AddonServer::AddonServer;
    void send(uint32_t address, uint16_t port, const uint8_t* data, int32_t length) override
    {
        out.send(address, port, data, length);
    }
    ServiceRecorder out;
};

class ServerGlue : public testing::Test {
protected:
    ServerGlue()
    {
        Bytes block(600);
        splitIntoChunks(block.data(), uint32_t(block.size()), catalogue);
        config.announce = true;
        config.gamePort = 2302;
    }

    Lines takeLog()
    {
        StringArray lines;
        logQueue.takeAll(lines);
        Lines taken;
        for (int32_t i = 0; i < lines.size; ++i)
            taken.emplace_back(lines[i].c_str());
        return taken;
    }

    InfoBlock catalogue;
    ServingConfig config;
    LogQueue logQueue;
    const Peer client{platform::ipv4Address(127, 0, 0, 1), 40000};
    const Peer browser{browserAddress, wire::kBrowserPort};
};

TEST_F(ServerGlue, AStuckLookupOfTheBrowserServerHoldsUpNoChunk)
{
    BrowserResolver resolver("browser.example", StuckLookup::lookup, 0);
    StuckLookup stuck;
    resolver.refreshInBackground();
    StuckLookup::awaitEntered();

    RecordingServer server(config, catalogue, logQueue, resolver);
    server.onStart(0);
    Bytes request = chunkRequest();
    server.onDatagram(request.data(), int32_t(request.size()), client.address, client.port, 0);
    for (uint32_t now = 100; now <= 600; now += 100)
        server.onIdle(now);
    for (int32_t i = 0; i < catalogue.chunks.size; ++i) {
        const ByteBuffer& chunk = *catalogue.chunks[i];
        EXPECT_EQ(server.out.take(client), Bytes(chunk.data, chunk.data + chunk.size)) << "chunk " << i;
    }
    EXPECT_EQ(takeLog(), (Lines{"Server thread says hello\nServer is running\n",
                                "Announcing to the Kitsync browser server\n",
                                "Warning: Could not resolve IP to browser server\n",
                                "Sending chunks to 127.0.0.1:40000\n"}));
}

TEST_F(ServerGlue, AnnouncesToTheLastAddressALookupGave)
{
    answers[0] = browserAddress;
    answers[1] = platform::noAddress;
    answered = 0;
    BrowserResolver resolver("browser.example", scriptedLookup, 900000);
    EXPECT_EQ(resolver.lastAddress(), platform::noAddress);
    resolver.resolveNow();
    resolver.resolveNow();  // a failed lookup keeps the address
    EXPECT_EQ(resolver.lastAddress(), browserAddress);

    RecordingServer server(config, catalogue, logQueue, resolver);
    server.onStart(0);
    EXPECT_EQ(server.out.take(browser), (Bytes{0xFE, 0xFF, 0x7F, 0x00, 0xFE, 0x08}));
    EXPECT_EQ(takeLog(), (Lines{"Server thread says hello\nServer is running\n",
                                "Announcing to the Kitsync browser server\n"}));
}

}  // namespace
