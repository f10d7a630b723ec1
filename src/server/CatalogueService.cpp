#include "server/CatalogueService.h"

#include "foundation/AsciiText.h"
#include "platform/HostResolver.h"
#include "wire/GameStateReport.h"
#include "wire/QueryDatagrams.h"

#include <cstdio>
#include <cstring>

namespace {

const uint32_t loopbackAddress = platform::ipv4Address(127, 0, 0, 1);

RefString decimalText(uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%u", value);
    return RefString(text);
}

RefString clientText(uint32_t address, uint16_t port)
{
    char dotted[platform::addressTextSize];
    platform::addressToText(address, dotted);
    RefString text(dotted);
    text += ":";
    text += decimalText(port);
    return text;
}

}  // namespace

CatalogueService::CatalogueService(const ServingConfig& config, const InfoBlock& catalogue, ServiceOutput& output)
    : config(config), catalogueId(catalogue.infoBlockId), output(output),
      table(config.limits, catalogue.chunks.size), browserAddress(platform::noAddress)
{
    for (int32_t i = 0; i < catalogue.chunks.size; ++i)
        chunks.add(catalogue.chunks[i]);
}

void CatalogueService::start(uint32_t now)
{
    output.log("Server thread says hello\nServer is running\n");
    lastAnnounceTime = now;
    announce();
}

void CatalogueService::receive(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now)
{
    if (length < 4) {
        tick(now);
        return;
    }
    if (data[0] == '\\' && takeStateReport(data, length, address, now))
        return;
    wire::QueryRequest query;
    wire::ChunkRequest all;
    wire::ResendRequest resend;
    size_t size = size_t(length);
    if (query.decode(data, size))
        answerQuery(query, address, port, now);
    else if (all.decode(data, size))
        sendCatalogue(address, port, now);
    else if (resend.decode(data, size) && resend.index < chunks.size)
        resendChunk(resend.index, address, port, now);
}

// Only the game server on this machine, which the rules poll goes to,
// may set the state; from elsewhere the datagram is tested as a request.
bool CatalogueService::takeStateReport(const uint8_t* data, int32_t length, uint32_t address, uint32_t now)
{
    if (address != loopbackAddress)
        return false;
    size_t size = size_t(length < longestReport ? length : longestReport);
    reportText.assign(reinterpret_cast<const char*>(data), size);
    reportText.push_back('\0');  // room for the terminator the decoder writes
    wire::GameStateReport report;
    if (!report.decode(reinterpret_cast<uint8_t*>(&reportText[0]), size, size + 1))
        return false;
    int32_t state = report.state;
    if (state != game.state) {
        game.state = state;
        game.changedAt = now;
    }
    game.reportedAt = now;
    return true;
}

void CatalogueService::answerQuery(const wire::QueryRequest& query, uint32_t address, uint16_t port, uint32_t now)
{
    // The decoded password points into the datagram, which ends with its NUL.
    if (!config.password.isEmpty() && config.password.compare(RefString(query.password.data())) != 0) {
        uint8_t refused[wire::PasswordRefused::kSize];
        output.send(address, port, refused, int32_t(wire::PasswordRefused::encode(refused)));
        if (mayLogRequest(address, port, now)) {
            composeClient("Query with wrong password from ", address, port);
            logScratchWith("\n");
        }
        return;
    }
    wire::QueryAnswer answer;
    answer.chunkCount = static_cast<uint16_t>(chunks.size);
    answer.infoBlockId = catalogueId;
    answer.hasGameState = wire::QueryAnswer::carriesGameState(query.version);
    answer.stateAgeMs = now - game.changedAt;
    answer.gameState = static_cast<uint16_t>(game.state);
    uint8_t bytes[wire::QueryAnswer::kLongSize];
    output.send(address, port, bytes, int32_t(answer.encode(bytes)));
    if (!mayLogRequest(address, port, now))
        return;
    composeClient("Query from ", address, port);
    logScratch += " version ";
    logScratch += decimalText(query.version);
    logScratchWith("\n");
}

void CatalogueService::sendCatalogue(uint32_t address, uint16_t port, uint32_t now)
{
    if (!queueChunks(0, chunks.size, address, port, now) || !mayLogRequest(address, port, now))
        return;
    composeClient("Sending chunks to ", address, port);
    logScratchWith("\n");
}

void CatalogueService::resendChunk(uint16_t index, uint32_t address, uint16_t port, uint32_t now)
{
    if (!queueChunks(index, 1, address, port, now) || !mayLogRequest(address, port, now))
        return;
    logScratch = "Resending chunk ";
    logScratch += decimalText(index);
    logScratch += " to ";
    logScratch += clientText(address, port);
    logScratchWith("\n");
}

// All or nothing: a request that does not fit whole adds no chunk.
bool CatalogueService::queueChunks(int32_t first, int32_t count, uint32_t address, uint16_t port, uint32_t now)
{
    if (table.enqueue(address, port, chunks, first, count))
        return true;
    drops.add(address, port);
    warnIfDue(drops, now);
    return false;
}

void CatalogueService::CountedEvents::add(uint32_t address, uint16_t port)
{
    ++count;
    lastFrom = address;
    lastPort = port;
}

bool CatalogueService::mayLogRequest(uint32_t address, uint16_t port, uint32_t now)
{
    if (now - requestLines.secondStart >= 1000) {
        requestLines.secondStart = now;
        requestLines.used = 0;
    }
    if (requestLines.used < requestLinesPerSecond) {
        ++requestLines.used;
        return true;
    }
    leftOut.add(address, port);
    warnIfDue(leftOut, now);
    return false;
}

void CatalogueService::warnIfDue(CountedEvents& events, uint32_t now)
{
    if (!events.warningDue(now))
        return;
    logScratch = "Warning: ";
    logScratch += events.verb;
    logScratch += " ";
    logScratch += decimalText(events.count);
    logScratch += " ";
    logScratch += events.what;
    logScratch += ", the last from ";
    logScratch += clientText(events.lastFrom, events.lastPort);
    logScratchWith("\n");
    events.count = 0;
    events.warnedAt = now;
    events.warned = true;
}

void CatalogueService::composeClient(const char* text, uint32_t address, uint16_t port)
{
    logScratch = text;
    logScratch += clientText(address, port);
}

void CatalogueService::logScratchWith(const char* tail)
{
    logScratch += tail;
    output.log(logScratch.c_str());
}

void CatalogueService::tick(uint32_t now)
{
    pace(now);
    if (now - lastAnnounceTime > announceInterval) {
        announce();
        lastAnnounceTime = now;
    }
    if (now - lastRulesPollTime > rulesPollInterval)
        pollGameServer(now);
    warnIfDue(drops, now);
    warnIfDue(leftOut, now);
}

// Passes stay on the sendDelay grid, so a late tick makes up the passes
// it missed; after a long pause only a little is made up.
void CatalogueService::pace(uint32_t now)
{
    uint32_t delay = config.sendDelay > 0 ? uint32_t(config.sendDelay) : 1u;
    uint32_t elapsed = now - lastPassTime;
    if (elapsed > catchUpLimit)
        elapsed = 100;
    while (elapsed >= delay) {
        table.sendPass(output);
        elapsed -= delay;
    }
    lastPassTime = now - elapsed;
}

void CatalogueService::pollGameServer(uint32_t now)
{
    if (now - game.reportedAt > stateExpiry && game.state != -1) {
        game.changedAt = now;
        game.state = -1;
    }
    uint8_t poll[wire::RulesPoll::kSize];
    uint16_t rulesPort = static_cast<uint16_t>(config.gamePort + wire::RulesPoll::kRulesPortOffset);
    output.send(loopbackAddress, rulesPort, poll, int32_t(wire::RulesPoll::encode(poll)));
    lastRulesPollTime = now;
}

void CatalogueService::announce()
{
    if (!config.announce)
        return;
    output.log("Announcing to the Kitsync browser server\n");
    if (browserAddress == platform::noAddress) {
        output.log("Warning: Could not resolve IP to browser server\n");
        return;
    }
    wire::AnnounceDatagram announcement;
    announcement.gamePort = config.gamePort;
    uint8_t datagram[wire::AnnounceDatagram::kSize];
    output.send(browserAddress, wire::kBrowserPort, datagram, int32_t(announcement.encode(datagram)));
}
