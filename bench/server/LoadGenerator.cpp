// Plays many clients of the add-on server at once over loopback.
//
//   kitsync-server-load catalogue <chunks>
//       writes addoninfoblock.udp with that many chunks into the folder
//   kitsync-server-load queries <port> <milliseconds> [<sockets> <window>]
//       keeps a window of queries in flight on each socket (4 and 16 when
//       not given) and counts the answers
//   kitsync-server-load fanout <port> <clients> <chunks> [burst]
//       every client asks for the whole catalogue at once (with "burst" 1,
//       all within a few milliseconds); prints when each one had all
//       chunks, resending what went missing, and how many had to ask again
//   kitsync-server-load chunkflood <port> <sockets> <rounds>
//       every socket sends a chunk request per round and reads nothing
//
// Clients sit on 127.0.0.2 upwards, a few dozen ports per address.
#include "catalogue/InfoBlock.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/DatagramSocket.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Sockets = std::vector<platform::DatagramSocket>;
const uint32_t loopback = platform::ipv4Address(127, 0, 0, 1);

// Client number i on 127.x.y.z, perAddress clients to an address.
uint32_t clientAddress(int32_t i, int32_t perAddress)
{
    int32_t n = 2 + i / perAddress;
    return platform::ipv4Address(127, uint8_t(n / 62500), uint8_t(n / 250 % 250), uint8_t(1 + n % 250));
}

// Closed as the vector goes.
Sockets openClients(int32_t count, int32_t perAddress)
{
    Sockets sockets(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        if (!sockets[i].open(clientAddress(i, perAddress), 0)) {
            std::fprintf(stderr, "cannot open client socket %d\n", i);
            std::exit(1);
        }
    }
    return sockets;
}

void send(platform::DatagramSocket& s, uint16_t port, const uint8_t* bytes, int32_t length)
{
    s.sendTo(loopback, port, bytes, length);
}

const uint8_t query[5] = {0x0F, 0x04, 0, 0, 0};  // version 1039, no password
const uint8_t chunkRequest[4] = {0x10, 0x04, 1, 0};

int makeCatalogue(int32_t chunks)
{
    std::vector<uint8_t> block(size_t(chunks - 1) * 256 + 100);
    uint32_t seed = 12345;
    for (uint8_t& b : block) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    InfoBlock info;
    if (!splitIntoChunks(block.data(), uint32_t(block.size()), info))
        return 1;
    info.infoBlockId = 0x1234000000000000ull + 1000;
    return saveInfoBlock(info) ? 0 : 1;
}

// Batched on both sides, so that the generator costs little per answer and
// the server under test, not the generator, sets the pace.
int runQueries(uint16_t port, uint32_t duration, int32_t senders, int32_t window)
{
    Sockets sockets = openClients(senders, senders);
    std::vector<uint8_t> ready(static_cast<size_t>(senders)), buffers(static_cast<size_t>(window) * 64);
    std::vector<platform::Datagram> answers(static_cast<size_t>(window));
    const platform::Datagram one{query, sizeof query, loopback, port};
    const std::vector<platform::Datagram> queries(static_cast<size_t>(window), one);
    uint64_t answered = 0;
    uint32_t start = platform::tickCount();
    while (platform::tickCount() - start < duration) {
        platform::WaitOutcome n = platform::waitForDatagrams(sockets.data(), senders, nullptr, 50, ready.data());
        for (int32_t i = 0; i < senders; ++i) {
            int32_t got = 0;
            if (n == platform::WaitOutcome::timedOut)  // the window was lost: fill it again
                got = window;
            else if (ready[i])
                got = sockets[i].receiveBatch(buffers.data(), 64, answers.data(), window);
            for (int32_t k = 0; k < got && n != platform::WaitOutcome::timedOut; ++k)
                answered += answers[size_t(k)].length == 12 ? 1 : 0;
            sockets[i].sendBatch(queries.data(), got);
        }
    }
    uint32_t elapsed = platform::tickCount() - start;
    std::printf("answers %llu milliseconds %u rate %.0f\n", (unsigned long long)answered, elapsed,
                answered * 1000.0 / elapsed);
    return 0;
}

struct Fetch {
    std::vector<bool> got;
    int32_t count = 0;
    uint32_t requested = 0;
    uint32_t lastHeard = 0;
    uint32_t completion = 0;
    bool askedAgain = false;
};

// Asks again for what a client silent for two seconds still misses: its
// queue at the server has run empty. With nothing at all, the request
// itself was lost.
int32_t resendMissing(Fetch& fetch, platform::DatagramSocket& s, uint16_t port, uint32_t now)
{
    fetch.lastHeard = now;
    fetch.askedAgain = true;
    if (fetch.count == 0) {
        send(s, port, chunkRequest, sizeof chunkRequest);
        return 1;
    }
    int32_t sent = 0;
    for (size_t k = 0; k < fetch.got.size() && sent < 32; ++k) {
        if (fetch.got[k])
            continue;
        uint8_t resend[6] = {0x10, 0x04, 2, 0, uint8_t(k), uint8_t(k >> 8)};
        send(s, port, resend, sizeof resend);
        ++sent;
    }
    fetch.lastHeard = now;
    return sent;
}

int runFanout(uint16_t port, int32_t clients, int32_t chunks, bool burst)
{
    Sockets sockets = openClients(clients, 25);
    std::vector<Fetch> fetches(static_cast<size_t>(clients));
    std::vector<uint8_t> ready(static_cast<size_t>(clients));
    uint8_t buffer[2048];
    for (int32_t i = 0; i < clients; ++i) {
        if (!burst && i % 50 == 49)
            platform::sleepMilliseconds(10);  // arrivals over one pass; a single burst overruns receive buffers
        fetches[i].got.assign(size_t(chunks), false);
        fetches[i].requested = fetches[i].lastHeard = platform::tickCount();
        send(sockets[i], port, chunkRequest, sizeof chunkRequest);
    }
    uint32_t start = platform::tickCount();
    uint32_t sending = start - fetches[0].requested;
    int32_t done = 0;
    int64_t resends = 0;
    uint32_t limit = uint32_t(chunks) * 200 * 3 + 10000;
    while (done < clients && platform::tickCount() - start < limit) {
        platform::WaitOutcome n = platform::waitForDatagrams(sockets.data(), clients, nullptr, 100, ready.data());
        uint32_t now = platform::tickCount();
        for (int32_t i = 0; i < clients; ++i) {
            Fetch& fetch = fetches[i];
            if (n == platform::WaitOutcome::datagrams && ready[i]) {
                int32_t length = sockets[i].receiveFrom(buffer, sizeof buffer, nullptr, nullptr);
                int32_t index = length >= 7 ? buffer[0] | buffer[1] << 8 : -1;
                fetch.lastHeard = now;
                if (index >= 0 && index < chunks && !fetch.got[index]) {
                    fetch.got[index] = true;
                    if (++fetch.count == chunks) {
                        fetch.completion = now - fetch.requested;
                        ++done;
                    }
                }
            } else if (fetch.count < chunks && now - fetch.lastHeard > 2000) {
                resends += resendMissing(fetch, sockets[i], port, now);
            }
        }
    }
    std::vector<uint32_t> times;
    int32_t askedAgain = 0;
    for (const Fetch& fetch : fetches) {
        if (fetch.count == chunks)
            times.push_back(fetch.completion);
        askedAgain += fetch.askedAgain ? 1 : 0;
    }
    std::sort(times.begin(), times.end());
    uint32_t median = times.empty() ? 0 : times[times.size() / 2];
    uint32_t worst = times.empty() ? 0 : times.back();
    std::printf("completed %zu of %d median %u worst %u resends %lld askedagain %d sending %u\n", times.size(), clients,
                median, worst, (long long)resends, askedAgain, sending);
    return times.size() == size_t(clients) ? 0 : 1;
}

int runChunkFlood(uint16_t port, int32_t count, int32_t rounds)
{
    Sockets sockets = openClients(count, 40);  // more than a record's worth per address
    for (int32_t r = 0; r < rounds; ++r) {
        for (platform::DatagramSocket& s : sockets)
            send(s, port, chunkRequest, sizeof chunkRequest);
        platform::sleepMilliseconds(20);
    }
    std::printf("sent %lld chunk requests from %d ports\n", (long long)count * rounds, count);
    platform::sleepMilliseconds(500);  // let the server take the tail of the flood
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int32_t> n;
    for (int i = 2; i < argc; ++i)
        n.push_back(std::atoi(argv[i]));
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "catalogue" && n.size() == 1)
        return makeCatalogue(n[0]);
    if (mode == "queries" && (n.size() == 2 || n.size() == 4))
        return runQueries(uint16_t(n[0]), uint32_t(n[1]), n.size() == 4 ? n[2] : 4, n.size() == 4 ? n[3] : 16);
    if (mode == "fanout" && (n.size() == 3 || n.size() == 4))
        return runFanout(uint16_t(n[0]), n[1], n[2], n.size() == 4 && n[3] == 1);
    if (mode == "chunkflood" && n.size() == 3)
        return runChunkFlood(uint16_t(n[0]), n[1], n[2]);
    std::fprintf(stderr, "usage: see the head of LoadGenerator.cpp\n");
    return 2;
}
