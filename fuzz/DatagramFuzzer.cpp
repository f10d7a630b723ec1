// Datagrams from clients and from the game server into the server's
// handler, with the clock held still. The server's receive and send are
// turned to memory: the handler takes each datagram as the socket would
// give it and every datagram it sends is collected, so a step costs no
// system call. The server tests drive the same handler over real sockets.
//
// An input is a run of steps. The first byte sets the scene (bit 0: a
// password; bit 1: one chunk or three). Each step is a control byte (bits
// 0-2: which of eight senders, on two addresses, sends; bit 3: first move
// the clock by (bits 4-7) x 50 ms and run the timer), a length byte (255:
// the rest of the input) and that many datagram bytes. After every step
// the client limits must hold and every datagram that came back must be
// an answer, a refusal or one of the served chunks.
#include "catalogue/InfoBlock.h"
#include "client/ChunkCollector.h"
#include "client/QueryProtocol.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "server/AddonServer.h"
#include "wire/GameStateReport.h"
#include "wire/QueryDatagrams.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kSenders = 8;
constexpr uint16_t kFirstSenderPort = 40000;
constexpr uint16_t kGamePort = wire::kDefaultGamePort;
constexpr uint32_t kStartTick = 5000000;
uint32_t fakeNow = kStartTick;

uint32_t fixedClock()
{
    return fakeNow;
}

void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

class Scene;

// The server with its socket replaced by memory: one datagram waits to be
// received at a time, and each one it sends goes straight to the scene to
// be judged.
class MemoryServer : public AddonServer {
public:
    explicit MemoryServer(Scene& scene) : scene(scene) {}

    int32_t receiveFrom(void* buffer, int32_t capacity, uint32_t* address, uint16_t* port) override
    {
        if (waiting == nullptr) {
            *address = 0;
            *port = 0;
            return -1;
        }
        // A datagram longer than the buffer is cut, as recvfrom cuts it.
        int32_t length = std::min(waitingLength, capacity);
        std::memcpy(buffer, waiting, size_t(length));
        *address = waitingAddress;
        *port = waitingPort;
        waiting = nullptr;
        return length;
    }

    int32_t sendTo(uint32_t address, uint16_t port, const void* data, int32_t length) override;

    const uint8_t* waiting = nullptr;
    int32_t waitingLength = 0;
    uint32_t waitingAddress = 0;
    uint16_t waitingPort = 0;

private:
    Scene& scene;
};

class Scene {
public:
    MemoryServer* server = nullptr;
    uint32_t senderAddress[kSenders];
    uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);
    InfoBlock oneChunk;
    InfoBlock threeChunks;

    Scene()
    {
        platform::setTickSource(fixedClock);
        server = new MemoryServer(*this);  // never destroyed: its thread never runs
        for (int i = 0; i < kSenders; ++i)
            senderAddress[i] = i < 5 ? loopback : platform::ipv4Address(127, 0, 0, 2);
        server->gamePortNumber = kGamePort;

        std::vector<uint8_t> block(600);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<uint8_t>(i * 7);
        check(splitIntoChunks(block.data(), 100, oneChunk), "one chunk");
        check(splitIntoChunks(block.data(), 600, threeChunks), "three chunks");

        // Small enough that a short input can reach every limit.
        server->limits.recordsPerAddress = 3;
        server->limits.records = 5;
        server->limits.queuedDatagrams = 14;
        server->limits.queueChunkFactor = 2;
    }

    void reset(uint8_t setting)
    {
        AddonServer& s = *server;
        s.password = (setting & 1) ? "secret" : "";
        const InfoBlock& source = (setting & 2) ? threeChunks : oneChunk;
        s.infoBlock.clear();
        for (int32_t i = 0; i < source.chunks.size; ++i)
            s.infoBlock.chunks.add(source.chunks[i]);
        s.infoBlock.infoBlockId = 0x1200000000ull + 1000;
        s.clients.setSize(0);
        s.queuedDatagrams = 0;
        s.droppedRequests = 0;
        s.dropWarningLogged = false;
        s.lastDropWarningTime = 0;
        s.gameState = -1;
        fakeNow = kStartTick;
        s.lastPumpTime = s.lastAnnounceTime = s.lastRulesPollTime = fakeNow;
        s.stateChangedTime = s.lastStateReportTime = fakeNow;
        drainEverything();
    }

    void deliver(int sender, const uint8_t* bytes, size_t length)
    {
        server->waiting = bytes;
        server->waitingLength = int32_t(length);
        server->waitingAddress = senderAddress[sender];
        server->waitingPort = uint16_t(kFirstSenderPort + sender);
        server->handleDatagram(0);
        check(server->waiting == nullptr, "the handler takes the datagram");
    }

    // Everything that goes out must be something the server may send, to
    // one who may get it.
    void judgeSent(uint32_t address, uint16_t port, const uint8_t* bytes, int32_t length)
    {
        if (address == loopback && port == kGamePort + 1) {
            check(wire::RulesPoll::matches(bytes, size_t(length)), "only rules polls reach the game server");
            return;
        }
        int sender = port - kFirstSenderPort;
        check(sender >= 0 && sender < kSenders && address == senderAddress[sender],
              "datagrams go only to those who sent");
        checkReply(bytes, length);
    }

    void drainEverything()
    {
        lines.setSize(0);
        server->logQueue.takeAll(lines);
        for (int32_t i = 0; i < lines.size; ++i) {
            const RefString& line = lines[i];
            check(line.length() > 0 && line.c_str()[line.length() - 1] == '\n', "log lines end with a line feed");
        }
    }

    void checkReply(const uint8_t* bytes, int32_t n)
    {
        const AddonServer& s = *server;
        // Answers and refusals are judged as the query client reads them.
        QueryAnswer answer;
        switch (parseQueryReply(bytes, size_t(n), answer)) {
        case QueryReply::refused:
            check(!s.password.isEmpty(), "refusal only with a password");
            return;
        case QueryReply::answer:
            check(answer.chunkCount == s.infoBlock.chunks.size, "answer carries the chunk count");
            check(answer.infoBlockId == s.infoBlock.infoBlockId, "answer carries the identifier");
            check(!answer.hasGameState || answer.gameState == uint16_t(s.gameState), "answer carries the state");
            return;
        case QueryReply::unrelated:
            break;
        }
        int32_t index = validChunkIndex(bytes, static_cast<size_t>(n));
        check(index >= 0 && index < s.infoBlock.chunks.size, "a chunk datagram is a served chunk");
        const ByteBuffer& chunk = *s.infoBlock.chunks[index];
        check(chunk.size == uint32_t(n) && std::memcmp(chunk.data, bytes, chunk.size) == 0, "chunk sent unchanged");
    }

    void checkLimits() const
    {
        const AddonServer& s = *server;
        const ClientLimits& limits = s.limits;
        check(s.clients.size <= limits.records, "records within their limit");
        int64_t queueLimit = int64_t(limits.queueChunkFactor) * s.infoBlock.chunks.size;
        int64_t pending = 0;
        for (int32_t i = 0; i < s.clients.size; ++i) {
            const ClientRecord& record = *s.clients[i];
            int32_t sameAddress = 0;
            for (int32_t j = 0; j < s.clients.size; ++j) {
                const ClientRecord& other = *s.clients[j];
                if (other.address != record.address)
                    continue;
                ++sameAddress;
                check(j == i || other.port != record.port, "one record per client");
            }
            check(sameAddress <= limits.recordsPerAddress, "records per address within their limit");
            check(record.pendingCount() >= 0 && record.pendingCount() <= queueLimit, "queue within its bound");
            check(record.sendQueue.size <= 2 * queueLimit + 1, "queue storage stays bounded");
            pending += record.pendingCount();
        }
        check(pending == s.queuedDatagrams, "queued count matches the queues");
        check(s.queuedDatagrams <= limits.queuedDatagrams, "queued datagrams within their limit");
    }

private:
    StringArray lines;  // kept, so that its storage serves every step
};

int32_t MemoryServer::sendTo(uint32_t address, uint16_t port, const void* data, int32_t length)
{
    scene.judgeSent(address, port, static_cast<const uint8_t*>(data), length);
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Scene scene;
    if (size == 0)
        return 0;
    scene.reset(data[0]);
    AddonServer& server = *scene.server;

    size_t at = 1;
    while (at + 2 <= size) {
        uint8_t control = data[at];
        size_t length = data[at + 1];
        at += 2;
        if (length == 255 || length > size - at)
            length = size - at;
        if (control & 8) {
            fakeNow += uint32_t(control >> 4) * 50;
            server.tick();
        }
        scene.deliver(control & 7, data + at, length);
        at += length;
        scene.checkLimits();
        scene.drainEverything();
    }
    // Let every queue run dry: records go once their last datagram left.
    for (int pass = 0; pass < 64 && server.clients.size > 0; ++pass) {
        fakeNow += uint32_t(server.sendDelay);
        server.tick();
        scene.checkLimits();
        scene.drainEverything();
    }
    check(server.clients.size == 0 && server.queuedDatagrams == 0, "queues drain");
    return 0;
}
