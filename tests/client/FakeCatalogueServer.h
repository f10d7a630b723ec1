#pragma once

#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/DatagramSocket.h"
#include "wire/QueryDatagrams.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// A stand-in for the catalogue server on 127.0.0.1 that speaks the query
// and chunk protocol from a thread of its own and can lose or damage
// chunk datagrams on purpose. Paced like the real one: one datagram per
// pass, one pass per sendDelayMs. It serves one client at a time.
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

// What the server has heard so far.
struct FakeServerCounts {
    uint32_t queries = 0;
    uint32_t chunkRequests = 0;
    std::map<uint16_t, uint32_t> resends;
};

class FakeCatalogueServer {
public:
    explicit FakeCatalogueServer(FakeServerSetup setup) : setup(std::move(setup))
    {
        socket.open(platform::ipv4Address(127, 0, 0, 1), 0);
        boundPort = socket.localPort();
        thread = std::thread([this] { run(); });
    }
    ~FakeCatalogueServer()
    {
        stopping = true;
        thread.join();
    }
    FakeCatalogueServer(const FakeCatalogueServer&) = delete;
    FakeCatalogueServer& operator=(const FakeCatalogueServer&) = delete;

    uint16_t port() const { return boundPort; }
    FakeServerCounts counts() const
    {
        std::lock_guard<std::mutex> hold(countsLock);
        return heard;
    }

private:
    void run()
    {
        std::vector<uint8_t> buffer(65536);
        uint32_t lastPass = platform::tickCount();
        while (!stopping) {
            platform::WaitOutcome outcome = platform::waitForDatagrams(&socket, 1, nullptr, setup.sendDelayMs);
            if (outcome == platform::WaitOutcome::datagrams) {
                int32_t size = socket.receiveFrom(buffer.data(), 65536, &clientAddress, &clientPort);
                if (size >= 4)
                    handle(buffer.data(), size);
            }
            if (platform::tickCount() - lastPass >= setup.sendDelayMs) {
                lastPass = platform::tickCount();
                sendNext();
            }
        }
    }

    // Read with the wire library's decoders, so that the fake takes what the
    // real server takes; it always gives the long answer.
    void handle(const uint8_t* datagram, int32_t size)
    {
        wire::QueryRequest query;
        wire::ChunkRequest chunkRequest;
        wire::ResendRequest resend;
        std::lock_guard<std::mutex> hold(countsLock);
        if (query.decode(datagram, size_t(size))) {
            ++heard.queries;
            if (setup.answerQueries)
                answer(std::string(query.password));
        } else if (chunkRequest.decode(datagram, size_t(size))) {
            if (++heard.chunkRequests > setup.ignoreChunkRequests) {
                for (size_t i = 0; i < setup.chunks.size(); ++i)
                    queue.push_back(static_cast<uint16_t>(i));
            }
        } else if (resend.decode(datagram, size_t(size)) && resend.index < setup.chunks.size()) {
            ++heard.resends[resend.index];
            queue.push_back(resend.index);
        }
    }

    void answer(const std::string& password)
    {
        uint8_t reply[wire::QueryAnswer::kLongSize];
        wire::QueryAnswer fields{uint16_t(setup.chunks.size()), setup.id, true, setup.stateAgeMs, setup.gameState};
        bool refused = !setup.password.empty() && password != setup.password;
        size_t size = refused ? wire::PasswordRefused::encode(reply) : fields.encode(reply);
        socket.sendTo(clientAddress, clientPort, reply, static_cast<int32_t>(size));
    }

    void sendNext()
    {
        if (queue.empty() || datagramsSent == setup.sendAtMost)
            return;
        ++datagramsSent;
        uint16_t index = queue.front();
        queue.pop_front();
        std::vector<uint8_t> datagram = setup.chunks[index];
        bool first = ++timesSent[index] == 1;
        if (first && setup.dropFirst.count(index) != 0)
            return;
        if (first && setup.corruptFirst.count(index) != 0)
            datagram[2] ^= 0x5A;
        socket.sendTo(clientAddress, clientPort, datagram.data(), static_cast<int32_t>(datagram.size()));
    }

    FakeServerSetup setup;
    platform::DatagramSocket socket;
    uint16_t boundPort = 0;
    uint32_t clientAddress = 0;  // the sender of the last datagram
    uint16_t clientPort = 0;
    std::deque<uint16_t> queue;
    std::map<uint16_t, uint32_t> timesSent;
    uint32_t datagramsSent = 0;

    mutable std::mutex countsLock;
    FakeServerCounts heard;

    std::atomic<bool> stopping{false};
    std::thread thread;
};
