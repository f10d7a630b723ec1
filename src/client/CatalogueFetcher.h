#pragma once

#include "client/ChunkCollector.h"
#include "client/QueryProtocol.h"
#include "client/ServerLink.h"

#include <cstdint>
#include <string>

struct FetchSettings {
    uint32_t answerTimeoutMs = 1000;  // per query attempt
    uint32_t queryAttempts = 3;
    // The server sends one chunk per pass (every 200 ms unless configured
    // otherwise) and queues the rest, so silence this long means its queue
    // for us is empty: whatever is missing then was lost and is asked for.
    // A server seen to pace more slowly is given four of its gaps instead.
    uint32_t quietTimeoutMs = 1500;
    // Quiet periods in a row that bring no new chunk before giving up.
    uint32_t maxFruitlessRounds = 5;
};

struct FetchProgress {
    uint32_t received = 0;
    uint32_t total = 0;
    uint64_t bytes = 0;  // of valid chunks, as they travelled
    uint32_t elapsedMs = 0;
    uint32_t corrupt = 0;
    uint32_t duplicates = 0;
    uint32_t chunkRequests = 0;
    uint32_t resendRequests = 0;
};

class FetchObserver {
public:
    virtual ~FetchObserver() = default;
    // After every new chunk and after every round of requests.
    virtual void progressed(const FetchProgress& progress) = 0;
};

enum class QueryStatus { answered, refused, noAnswer };

// The client's side of the exchange with one server: a query, then the
// chunk transfer with resends for what is lost or damaged on the way.
class CatalogueFetcher {
public:
    CatalogueFetcher(ServerLink& link, const FetchSettings& settings);

    QueryStatus query(const std::string& password, QueryAnswer& answer);

    // Asks for every chunk and collects until the collector is complete.
    // False, with the reason, once the server has stayed silent for
    // maxFruitlessRounds quiet periods that brought nothing new.
    bool fetchChunks(ChunkCollector& collector, FetchObserver* observer, std::string& error);

    const FetchProgress& progress() const { return state; }

private:
    QueryStatus awaitQueryReply(QueryAnswer& answer);
    bool begin(ChunkCollector& collector, std::string& error);
    bool worthAskingAgain(const ChunkCollector& collector, std::string& error);
    void takeDatagram(ChunkCollector& collector, int32_t size, FetchObserver* observer);
    bool askAgain(ChunkCollector& collector);
    void notePacing(uint32_t now);
    uint32_t quietLimit() const;
    std::string gaveUpMessage(const ChunkCollector& collector) const;

    ServerLink& link;
    FetchSettings settings;
    FetchProgress state;
    std::vector<uint8_t> buffer;
    uint32_t startTick = 0;
    uint32_t lastArrival = 0;
    bool anythingArrived = false;
    uint32_t pacingMs = 0;  // running average of the gaps between arrivals
    uint32_t arrivalsInRound = 0;
    uint32_t fruitlessRounds = 0;
    uint32_t receivedBeforeRound = 0;
};
