#pragma once

#include "platform/UdpSocket.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// A stand-in for the catalogue server on 127.0.0.1 that speaks the query
// and chunk protocol from a thread of its own and can lose or damage
// chunk datagrams on purpose. Paced like the real one: one datagram per
// pass, one pass per sendDelayMs.
struct FakeServerSetup {
    std::vector<std::vector<uint8_t>> chunks;
    uint64_t id = 0;
    std::string password;
    uint16_t gameState = 0xFFFF;
    uint32_t stateAgeMs = 0;
    uint32_t sendDelayMs = 2;
    std::set<uint16_t> dropFirst;     // the first sending of these chunks is lost
    std::set<uint16_t> corruptFirst;  // the first sending of these has a flipped byte
    uint32_t ignoreChunkRequests = 0;  // this many chunk requests go unheard
    uint32_t sendAtMost = 0xFFFFFFFF;  // datagrams sent before the server falls silent
    bool answerQueries = true;
};

class FakeCatalogueServer {
public:
    explicit FakeCatalogueServer(FakeServerSetup setup);
    ~FakeCatalogueServer();
    FakeCatalogueServer(const FakeCatalogueServer&) = delete;
    FakeCatalogueServer& operator=(const FakeCatalogueServer&) = delete;

    uint16_t port() const { return boundPort; }

    // What the server has seen so far.
    uint32_t queries() const;
    uint32_t chunkRequests() const;
    std::map<uint16_t, uint32_t> resendRequests() const;

private:
    void run();
    void handle(const uint8_t* datagram, int32_t size, uint32_t address, uint16_t port);
    struct Client {
        uint32_t address;
        uint16_t port;
        std::vector<uint16_t> queue;
    };

    Client& clientFor(uint32_t address, uint16_t port);
    void queueAll(uint32_t address, uint16_t port);
    void pump();
    std::vector<uint8_t> transmitted(uint16_t index);

    FakeServerSetup setup;
    platform::SocketHandle socket;
    uint16_t boundPort = 0;
    std::vector<Client> clients;
    std::map<uint16_t, uint32_t> timesSent;
    uint32_t datagramsSent = 0;
    uint32_t chunkRequestsHeard = 0;

    mutable std::mutex statsLock;
    uint32_t queryCount = 0;
    uint32_t chunkRequestCount = 0;
    std::map<uint16_t, uint32_t> resendCounts;

    std::atomic<bool> stopping{false};
    std::thread thread;
};
