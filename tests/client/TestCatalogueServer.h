#pragma once

#include "net/DatagramLoop.h"
#include "platform/HostResolver.h"
#include "server/CatalogueService.h"
#include "wire/GameStateReport.h"
#include "wire/QueryDatagrams.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// The server's own protocol core on a real socket and loop on 127.0.0.1,
// between which the test can lose or damage chunk datagrams and leave
// requests unheard, so that clients are tested against the real protocol.
struct TestServerSetup {
    std::vector<std::vector<uint8_t>> chunks;
    uint64_t id = 0;
    std::string password;
    int32_t gameState = -1;    // -1: no state reported
    uint32_t stateAgeMs = 0;   // the state's age when the first query comes
    int32_t sendDelayMs = 20;  // the service's own lower bound is 11
    std::set<uint16_t> dropFirst;     // the first sending of these chunks is lost
    std::set<uint16_t> corruptFirst;  // the first sending of these has a flipped byte
    uint32_t ignoreChunkRequests = 0;  // this many chunk requests go unheard
    uint32_t sendAtMost = 0xFFFFFFFF;  // chunks sent before the server falls silent
    bool answerQueries = true;
};

// What the server has heard so far.
struct TestServerCounts {
    uint32_t queries = 0;
    uint32_t chunkRequests = 0;
    std::map<uint16_t, uint32_t> resends;
};

class TestCatalogueServer : private DatagramHandler, private ServiceOutput {
public:
    explicit TestCatalogueServer(TestServerSetup setup) : setup(std::move(setup))
    {
        const std::vector<std::vector<uint8_t>>& chunks = this->setup.chunks;
        for (size_t i = 0; i < chunks.size(); ++i)
            catalogue.chunks.at(int32_t(i)) =
                SharedRef<ByteBuffer>(new ByteBuffer(chunks[i].data(), uint32_t(chunks[i].size())));
        catalogue.infoBlockId = this->setup.id;
        ServingConfig config;
        config.password = this->setup.password.c_str();
        config.sendDelay = this->setup.sendDelayMs;
        service = std::make_unique<CatalogueService>(config, catalogue, static_cast<ServiceOutput&>(*this));
        socket.open(localhost, 0);
        loop.start();
    }
    ~TestCatalogueServer() { loop.stop(); }
    TestCatalogueServer(const TestCatalogueServer&) = delete;
    TestCatalogueServer& operator=(const TestCatalogueServer&) = delete;

    uint16_t port() const { return socket.localPort(); }
    TestServerCounts counts() const
    {
        std::lock_guard<std::mutex> hold(countsLock);
        return heard;
    }

private:
    void onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now) override
    {
        if (!heardAndPassedOn(data, size_t(length)))
            return;
        if (!stateReported && setup.gameState >= 0) {
            // Reported just that long ago, so the answer carries exactly the age.
            uint8_t report[wire::GameStateReport::kMaxSize];
            wire::GameStateReport state;
            state.state = setup.gameState;
            service->receive(report, int32_t(state.encode(report)), localhost, 2303, now - setup.stateAgeMs);
        }
        stateReported = true;
        service->receive(data, length, address, port, now);
    }
    void onIdle(uint32_t now) override { service->tick(now); }

    bool heardAndPassedOn(const uint8_t* data, size_t size)
    {
        wire::QueryRequest query;
        wire::ChunkRequest chunkRequest;
        wire::ResendRequest resend;
        std::lock_guard<std::mutex> hold(countsLock);
        if (query.decode(data, size)) {
            ++heard.queries;
            return setup.answerQueries;
        }
        if (chunkRequest.decode(data, size))
            return ++heard.chunkRequests > setup.ignoreChunkRequests;
        if (resend.decode(data, size) && resend.index < setup.chunks.size())
            ++heard.resends[resend.index];
        return true;
    }

    // Chunks leave as the stored chunk's own bytes, which tells them from answers.
    void send(uint32_t address, uint16_t port, const uint8_t* data, int32_t length) override
    {
        std::vector<uint8_t> bytes(data, data + length);
        for (int32_t index = 0; index < catalogue.chunks.size; ++index) {
            if (catalogue.chunks[index]->data != data)
                continue;
            bool first = ++timesSent[index] == 1;
            if (chunksSent++ >= setup.sendAtMost || (first && setup.dropFirst.count(uint16_t(index)) != 0))
                return;
            if (first && setup.corruptFirst.count(uint16_t(index)) != 0)
                bytes[2] ^= 0x5A;
        }
        socket.sendTo(address, port, bytes.data(), length);
    }
    void log(const char*) override {}

    const uint32_t localhost = platform::ipv4Address(127, 0, 0, 1);
    TestServerSetup setup;
    InfoBlock catalogue;
    std::unique_ptr<CatalogueService> service;
    std::map<int32_t, uint32_t> timesSent;
    uint32_t chunksSent = 0;
    bool stateReported = false;

    mutable std::mutex countsLock;
    TestServerCounts heard;

    platform::DatagramSocket socket;
    DatagramLoop loop{socket, *this};
};
