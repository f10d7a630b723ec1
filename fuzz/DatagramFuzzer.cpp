// Datagrams from clients and from the game server into the catalogue
// service, with the clock in the fuzzer's hand. The service has no socket:
// every datagram it sends comes straight back to be judged, so a step
// costs no system call.
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
#include "platform/HostResolver.h"
#include "server/CatalogueService.h"
#include "wire/GameStateReport.h"
#include "wire/QueryDatagrams.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kSenders = 8;
constexpr uint16_t kFirstSenderPort = 40000;
constexpr uint16_t kGamePort = wire::kDefaultGamePort;
constexpr uint32_t kStartTick = 5000000;

void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The catalogues and senders every input shares, and the judge of what
// the service sends and logs.
class Scene : public ServiceOutput {
public:
    uint32_t senderAddress[kSenders];
    uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);
    InfoBlock oneChunk;
    InfoBlock threeChunks;
    const CatalogueService* service = nullptr;
    const InfoBlock* served = nullptr;
    bool password = false;

    Scene()
    {
        for (int i = 0; i < kSenders; ++i)
            senderAddress[i] = i < 5 ? loopback : platform::ipv4Address(127, 0, 0, 2);
        std::vector<uint8_t> block(600);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<uint8_t>(i * 7);
        check(splitIntoChunks(block.data(), 100, oneChunk), "one chunk");
        check(splitIntoChunks(block.data(), 600, threeChunks), "three chunks");
        oneChunk.infoBlockId = threeChunks.infoBlockId = 0x1200000000ull + 1000;
    }

    ServingConfig configFor(uint8_t setting)
    {
        password = (setting & 1) != 0;
        served = (setting & 2) ? &threeChunks : &oneChunk;
        ServingConfig config;
        config.password = password ? "secret" : "";
        config.gamePort = kGamePort;
        // Small enough that a short input can reach every limit.
        config.limits.recordsPerAddress = 3;
        config.limits.records = 5;
        config.limits.queuedDatagrams = 14;
        config.limits.queueChunkFactor = 2;
        return config;
    }

    // Everything that goes out must be something the server may send, to
    // one who may get it.
    void send(uint32_t address, uint16_t port, const uint8_t* bytes, int32_t length) override
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

    void log(const char* text) override
    {
        size_t length = std::strlen(text);
        check(length > 0 && text[length - 1] == '\n', "log lines end with a line feed");
    }

    void checkReply(const uint8_t* bytes, int32_t n)
    {
        // Answers and refusals are judged as the query client reads them.
        QueryAnswer answer;
        switch (parseQueryReply(bytes, size_t(n), answer)) {
        case QueryReply::refused:
            check(password, "refusal only with a password");
            return;
        case QueryReply::answer:
            check(answer.chunkCount == served->chunks.size, "answer carries the chunk count");
            check(answer.infoBlockId == served->infoBlockId, "answer carries the identifier");
            check(!answer.hasGameState || answer.gameState == uint16_t(service->gameState()), "answer carries the state");
            return;
        case QueryReply::unrelated:
            break;
        }
        int32_t index = validChunkIndex(bytes, static_cast<size_t>(n));
        check(index >= 0 && index < served->chunks.size, "a chunk datagram is a served chunk");
        const ByteBuffer& chunk = *served->chunks[index];
        check(chunk.size == uint32_t(n) && bytes == chunk.data, "the stored chunk is sent, not a copy");
    }

    void checkLimits() const
    {
        const ClientTable& clients = service->clients();
        const ClientLimits& limits = clients.bounds();
        check(clients.size() <= limits.records, "records within their limit");
        int64_t queueLimit = int64_t(limits.queueChunkFactor) * served->chunks.size;
        int64_t pending = 0;
        for (int32_t i = 0; i < clients.size(); ++i) {
            const ClientRecord& record = clients[i];
            int32_t sameAddress = 0;
            for (int32_t j = 0; j < clients.size(); ++j) {
                const ClientRecord& other = clients[j];
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
        check(pending == clients.queuedDatagrams(), "queued count matches the queues");
        check(clients.queuedDatagrams() <= limits.queuedDatagrams, "queued datagrams within their limit");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Scene scene;
    if (size == 0)
        return 0;
    CatalogueService service(scene.configFor(data[0]), *scene.served, scene);
    scene.service = &service;
    uint32_t now = kStartTick;
    service.tick(now);  // the first tick only sets the grid and polls

    size_t at = 1;
    while (at + 2 <= size) {
        uint8_t control = data[at];
        size_t length = data[at + 1];
        at += 2;
        if (length == 255 || length > size - at)
            length = size - at;
        if (control & 8) {
            now += uint32_t(control >> 4) * 50;
            service.tick(now);
        }
        int sender = control & 7;
        service.receive(data + at, int32_t(length), scene.senderAddress[sender], uint16_t(kFirstSenderPort + sender),
                        now);
        at += length;
        scene.checkLimits();
    }
    // Let every queue run dry: records go once their last datagram left.
    for (int pass = 0; pass < 64 && service.clients().size() > 0; ++pass) {
        now += 200;
        service.tick(now);
        scene.checkLimits();
    }
    check(service.clients().size() == 0 && service.clients().queuedDatagrams() == 0, "queues drain");
    scene.service = nullptr;
    return 0;
}
