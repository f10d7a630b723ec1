#include "client/CatalogueFetcher.h"

#include "platform/Clock.h"

namespace {

// Larger than any UDP datagram over IPv4, so nothing is ever cut short.
constexpr int32_t kReceiveCapacity = 65536;

// Silence of this many average gaps means the server's queue has run dry.
constexpr uint32_t kPacingFactor = 4;
constexpr uint32_t kMaxPacingMs = 15000;

}  // namespace

CatalogueFetcher::CatalogueFetcher(ServerLink& link, const FetchSettings& settings)
    : link(link), settings(settings), buffer(kReceiveCapacity)
{
}

QueryStatus CatalogueFetcher::query(const std::string& password, QueryAnswer& answer)
{
    for (uint32_t attempt = 0; attempt < settings.queryAttempts; ++attempt) {
        link.send(queryRequest(kQueryClientVersion, password));
        QueryStatus status = awaitQueryReply(answer);
        if (status != QueryStatus::noAnswer)
            return status;
    }
    return QueryStatus::noAnswer;
}

// Other datagrams may still be in flight from an earlier attempt or
// transfer; only an answer or a refusal ends the wait.
QueryStatus CatalogueFetcher::awaitQueryReply(QueryAnswer& answer)
{
    uint32_t start = platform::tickCount();
    for (;;) {
        uint32_t waitMs = platform::millisecondsLeft(start, settings.answerTimeoutMs);
        int32_t size = link.receive(buffer.data(), kReceiveCapacity, waitMs);
        if (size >= 0) {
            QueryReply reply = parseQueryReply(buffer.data(), static_cast<size_t>(size), answer);
            if (reply == QueryReply::answer)
                return QueryStatus::answered;
            if (reply == QueryReply::refused)
                return QueryStatus::refused;
        }
        if (waitMs == 0)  // one look at what waits, as for the chunks
            return QueryStatus::noAnswer;
    }
}

bool CatalogueFetcher::fetchChunks(ChunkCollector& collector, FetchObserver* observer, std::string& error)
{
    if (!begin(collector, error))
        return false;
    while (!collector.isComplete()) {
        // Past the limit, what already waits is still read first: a client
        // that was kept off the processor has not heard silence.
        uint32_t waitMs = platform::millisecondsLeft(lastArrival, quietLimit());
        int32_t size = link.receive(buffer.data(), kReceiveCapacity, waitMs);
        if (size >= 0) {
            takeDatagram(collector, size, observer);
            continue;
        }
        if (waitMs > 0)
            continue;
        if (!worthAskingAgain(collector, error))
            return false;
        askAgain(collector);
        if (observer != nullptr)
            observer->progressed(state);
    }
    state.elapsedMs = platform::tickCount() - startTick;
    return true;
}

bool CatalogueFetcher::begin(ChunkCollector& collector, std::string& error)
{
    state = FetchProgress();
    state.total = collector.chunkCount();
    if (state.total == 0) {
        error = "the server announces a catalogue of no chunks";
        return false;
    }
    startTick = lastArrival = platform::tickCount();
    anythingArrived = false;
    pacingMs = 0;
    arrivalsInRound = 0;
    fruitlessRounds = 0;
    receivedBeforeRound = 0;
    ++state.chunkRequests;
    link.send(chunkRequest());
    return true;
}

// Called at each silence: false, with the reason, once too many rounds of
// asking in a row have brought nothing new.
bool CatalogueFetcher::worthAskingAgain(const ChunkCollector& collector, std::string& error)
{
    fruitlessRounds = collector.receivedCount() == receivedBeforeRound ? fruitlessRounds + 1 : 0;
    receivedBeforeRound = collector.receivedCount();
    if (fruitlessRounds < settings.maxFruitlessRounds)
        return true;
    error = gaveUpMessage(collector);
    return false;
}

// Any chunk-shaped datagram, even a damaged one, shows that the server is
// still working through our queue, so it defers the next round of asking.
// A late answer to a repeated query is neither.
void CatalogueFetcher::takeDatagram(ChunkCollector& collector, int32_t size, FetchObserver* observer)
{
    ChunkCollector::Verdict verdict = collector.offer(buffer.data(), static_cast<size_t>(size));
    QueryAnswer ignored;
    if (verdict == ChunkCollector::Verdict::corrupt &&
        parseQueryReply(buffer.data(), static_cast<size_t>(size), ignored) != QueryReply::unrelated)
        return;
    if (verdict == ChunkCollector::Verdict::foreign)
        return;
    anythingArrived = true;
    notePacing(platform::tickCount());
    state.elapsedMs = lastArrival - startTick;
    if (verdict == ChunkCollector::Verdict::corrupt)
        ++state.corrupt;
    if (verdict == ChunkCollector::Verdict::duplicate)
        ++state.duplicates;
    if (verdict != ChunkCollector::Verdict::accepted)
        return;
    state.received = collector.receivedCount();
    state.bytes = collector.acceptedBytes();
    if (observer != nullptr)
        observer->progressed(state);
}

// A server configured to send slowly must not be taken for one that has
// stopped: the silence allowed grows with the gap seen between arrivals.
// Gaps that span a round of asking say nothing about the pacing.
void CatalogueFetcher::notePacing(uint32_t now)
{
    if (arrivalsInRound++ > 0) {
        uint32_t gap = now - lastArrival;
        gap = gap < kMaxPacingMs ? gap : kMaxPacingMs;
        pacingMs = pacingMs == 0 ? gap : (3 * pacingMs + gap) / 4;
    }
    lastArrival = now;
}

uint32_t CatalogueFetcher::quietLimit() const
{
    uint32_t paced = pacingMs * kPacingFactor;
    return paced > settings.quietTimeoutMs ? paced : settings.quietTimeoutMs;
}

// Silence with nothing received means the request itself was lost; after
// that, one resend request per chunk still missing, never more per round.
bool CatalogueFetcher::askAgain(ChunkCollector& collector)
{
    lastArrival = platform::tickCount();
    arrivalsInRound = 0;
    if (!anythingArrived) {
        ++state.chunkRequests;
        return link.send(chunkRequest());
    }
    bool allSent = true;
    for (uint16_t index : collector.missingIndices()) {
        ++state.resendRequests;
        allSent = link.send(resendRequest(index)) && allSent;
    }
    return allSent;
}

std::string CatalogueFetcher::gaveUpMessage(const ChunkCollector& collector) const
{
    if (!anythingArrived)
        return "no chunk came after " + std::to_string(state.chunkRequests) + " requests for the catalogue";
    std::string message = "the server stopped sending: " + std::to_string(collector.receivedCount()) + " of " +
                          std::to_string(collector.chunkCount()) + " chunks received";
    std::vector<uint16_t> missing = collector.missingIndices();
    message += ", still missing";
    for (size_t i = 0; i < missing.size() && i < 10; ++i)
        message += (i == 0 ? " " : ", ") + std::to_string(missing[i]);
    if (missing.size() > 10)
        message += " and " + std::to_string(missing.size() - 10) + " more";
    return message;
}
