#pragma once

#include "catalogue/InfoBlock.h"
#include "foundation/ByteBuffer.h"
#include "foundation/RefString.h"
#include "foundation/SharedRef.h"
#include "server/ClientTable.h"
#include "server/ServiceOutput.h"
#include "wire/QueryDatagrams.h"

#include <cstdint>
#include <string>

// What the server is told once, before it serves.
struct ServingConfig {
    RefString password;       // empty: queries need no password
    int32_t sendDelay = 200;  // ms between sending passes, always above 10
    bool announce = false;    // to the browser server, at start and every 15 minutes
    RefString browserServer;  // host name or dotted address, looked up by the caller
    uint16_t gamePort = 0;    // the rules poll goes to this + 1 on this machine
    ClientLimits limits;
};

// The serving protocol with the socket, the clock and the thread left to
// the caller: it is handed each datagram and the time, and hands what
// leaves (answers, chunks, the rules poll, the announcement) and the
// console lines to its output, in the order they happen. All calls come
// from one thread.
class CatalogueService {
public:
    // The catalogue's chunks are shared, not copied; they must not change
    // while the service lives.
    CatalogueService(const ServingConfig& config, const InfoBlock& catalogue, ServiceOutput& output);
    CatalogueService(const CatalogueService&) = delete;
    CatalogueService& operator=(const CatalogueService&) = delete;

    // The greeting and the first announcement.
    void start(uint32_t now);
    // One datagram: a query, a chunk or resend request, or the game
    // server's state report. One too short for any of them runs tick.
    void receive(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now);
    // The idle duty: sending passes on the sendDelay grid, the rules poll,
    // the announcement and the drop warning when they are due.
    void tick(uint32_t now);
    // Where announcements go from now on; noAddress while none is known.
    void setBrowserAddress(uint32_t address) { browserAddress = address; }

    const ClientTable& clients() const { return table; }
    int32_t gameState() const { return game.state; }

    static constexpr uint32_t catchUpLimit = 10000;
    static constexpr uint32_t announceInterval = 900000;
    static constexpr uint32_t rulesPollInterval = 2000;
    static constexpr uint32_t stateExpiry = 10000;
    static constexpr uint32_t warningInterval = 10000;  // ms between two warnings of one kind
    // Beyond this many request lines in a second, the lines are counted
    // instead of printed, so that a flood cannot fill the operator's disk.
    static constexpr int32_t requestLinesPerSecond = 50;
    static constexpr int32_t longestReport = 65535;  // bytes of a state report read

private:
    struct GameState {
        int32_t state = -1;  // -1: none known
        uint32_t changedAt = 0;
        uint32_t reportedAt = 0;
    };
    // Events that are counted rather than logged one by one, and told in
    // one warning line at most every warningInterval.
    struct CountedEvents {
        const char* verb;  // the warning reads "Warning: <verb> <count> <what>, the last from <client>"
        const char* what;
        uint32_t count = 0;  // since the last warning
        uint32_t lastFrom = 0;
        uint16_t lastPort = 0;
        uint32_t warnedAt = 0;
        bool warned = false;  // warnedAt means something
        void add(uint32_t address, uint16_t port);
        bool warningDue(uint32_t now) const { return count > 0 && (!warned || now - warnedAt >= warningInterval); }
    };
    // The request lines of the current second.
    struct LineBudget {
        uint32_t secondStart = 0;
        int32_t used = 0;
    };

    bool takeStateReport(const uint8_t* data, int32_t length, uint32_t address, uint32_t now);
    void answerQuery(const wire::QueryRequest& query, uint32_t address, uint16_t port, uint32_t now);
    void sendCatalogue(uint32_t address, uint16_t port, uint32_t now);
    void resendChunk(uint16_t index, uint32_t address, uint16_t port, uint32_t now);
    // False, after counting the drop, when the table has no room.
    bool queueChunks(int32_t first, int32_t count, uint32_t address, uint16_t port, uint32_t now);
    // True while this second's request lines have room; counts the line
    // as left out otherwise.
    bool mayLogRequest(uint32_t address, uint16_t port, uint32_t now);
    void warnIfDue(CountedEvents& events, uint32_t now);
    void pace(uint32_t now);
    void pollGameServer(uint32_t now);
    void announce();
    void composeClient(const char* text, uint32_t address, uint16_t port);
    void logScratchWith(const char* tail);

    const ServingConfig config;
    const uint64_t catalogueId;
    SharedRefArray<ByteBuffer> chunks;  // handles to the catalogue's own
    ServiceOutput& output;
    ClientTable table;
    GameState game;
    CountedEvents drops{"Dropped", "requests beyond the client limits"};
    CountedEvents leftOut{"Left out", "request lines beyond 50 a second from the log"};
    LineBudget requestLines;
    uint32_t browserAddress;
    uint32_t lastPassTime = 0;
    uint32_t lastAnnounceTime = 0;
    uint32_t lastRulesPollTime = 0;
    RefString logScratch;
    std::string reportText;  // kept, so that its storage serves every report
};
