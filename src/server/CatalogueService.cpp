#include "server/CatalogueService.h"

#include "foundation/AsciiText.h"
#include "platform/HostResolver.h"
#include "server/WireFormat.h"

#include <cstdio>
#include <cstring>

namespace {

const uint32_t loopbackAddress = platform::ipv4Address(127, 0, 0, 1);
const char rulesPoll[] = "\\rules\\";  // sent without its terminator
const char stateKey[] = "\\gstate\\";
constexpr int32_t stateKeyLength = 8;
constexpr uint16_t queryAnswerMark = 0x8000;
constexpr uint16_t passwordRefusedMark = 0x8001;

RefString decimalText(uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%u", value);
    return RefString(text);
}

// A request from a client, as its bytes say; the chunk index is checked
// against the catalogue by the caller.
struct Request {
    enum Kind { none, query, chunks, resend } kind = none;
    uint16_t version = 0;          // query
    const char* given = nullptr;   // query: the password, NUL-terminated
    uint16_t index = 0;            // resend
};

Request decodeRequest(const uint8_t* data, int32_t length)
{
    Request request;
    uint16_t command = wire::readU16(data + 2);
    if (command == CatalogueService::queryCommand && length > 4 && data[length - 1] == 0) {
        request.kind = Request::query;
        request.version = wire::readU16(data);
        request.given = reinterpret_cast<const char*>(data + 4);
    } else if (command == CatalogueService::chunkCommand && length == 4) {
        request.kind = Request::chunks;
    } else if (command == CatalogueService::resendCommand && length == 6) {
        request.kind = Request::resend;
        request.index = wire::readU16(data + 4);
    }
    return request;
}

// The state in "...\gstate\N\..." (key in any case), read up to the
// closing '\'; false when the key or the closing '\' is missing.
bool decodeStateReport(const char* text, int32_t* state)
{
    const char* key = findIgnoringCase(text, stateKey);
    if (key == nullptr || key[stateKeyLength] == 0)
        return false;
    const char* value = key + stateKeyLength;
    if (std::strchr(value, '\\') == nullptr)
        return false;
    *state = wire::decimalValue(value);
    return true;
}

void encodeRefusal(uint8_t out[4])
{
    wire::putU16(out, passwordRefusedMark);
    wire::putU16(out + 2, 0xFFFF);
}

// 18 bytes; clients before longAnswerVersion read only the first 12.
void encodeQueryAnswer(uint8_t out[18], uint16_t chunkCount, uint64_t id, uint32_t stateAge, int32_t state)
{
    wire::putU16(out, queryAnswerMark);
    wire::putU16(out + 2, chunkCount);
    wire::putU64(out + 4, id);
    wire::putU32(out + 12, stateAge);
    wire::putU16(out + 16, static_cast<uint16_t>(state));
}

void encodeAnnouncement(uint8_t out[6], uint16_t gamePort)
{
    wire::putU16(out, 0xFFFE);
    wire::putU16(out + 2, 0x007F);
    wire::putU16(out + 4, gamePort);
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
    Request request = decodeRequest(data, length);
    if (request.kind == Request::query)
        answerQuery(request.version, request.given, address, port, now);
    else if (request.kind == Request::chunks)
        sendCatalogue(address, port, now);
    else if (request.kind == Request::resend && request.index < chunks.size)
        resendChunk(request.index, address, port, now);
}

// Only the game server on this machine, which the rules poll goes to,
// may set the state; from elsewhere the datagram is tested as a request.
bool CatalogueService::takeStateReport(const uint8_t* data, int32_t length, uint32_t address, uint32_t now)
{
    if (address != loopbackAddress)
        return false;
    reportText.assign(reinterpret_cast<const char*>(data), size_t(length < longestReport ? length : longestReport));
    int32_t state = 0;
    if (!decodeStateReport(reportText.c_str(), &state))
        return false;
    if (state != game.state) {
        game.state = state;
        game.changedAt = now;
    }
    game.reportedAt = now;
    return true;
}

void CatalogueService::answerQuery(uint16_t version, const char* given, uint32_t address, uint16_t port,
                                   uint32_t now)
{
    if (!config.password.isEmpty() && config.password.compare(RefString(given)) != 0) {
        uint8_t refused[4];
        encodeRefusal(refused);
        output.send(address, port, refused, sizeof refused);
        composeClient("Query with wrong password from ", address, port);
        logScratchWith("\n");
        return;
    }
    uint8_t answer[18];
    encodeQueryAnswer(answer, static_cast<uint16_t>(chunks.size), catalogueId, now - game.changedAt, game.state);
    output.send(address, port, answer, version >= longAnswerVersion ? 18 : 12);
    composeClient("Query from ", address, port);
    logScratch += " version ";
    logScratch += decimalText(version);
    logScratchWith("\n");
}

void CatalogueService::sendCatalogue(uint32_t address, uint16_t port, uint32_t now)
{
    if (!queueChunks(0, chunks.size, address, port, now))
        return;
    composeClient("Sending chunks to ", address, port);
    logScratchWith("\n");
}

void CatalogueService::resendChunk(uint16_t index, uint32_t address, uint16_t port, uint32_t now)
{
    if (!queueChunks(index, 1, address, port, now))
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
    ++drops.count;
    drops.lastFrom = address;
    drops.lastPort = port;
    if (!drops.warned || now - drops.warnedAt >= dropWarningInterval)
        logDropWarning(now);
    return false;
}

void CatalogueService::logDropWarning(uint32_t now)
{
    logScratch = "Warning: Dropped ";
    logScratch += decimalText(drops.count);
    logScratch += " requests beyond the client limits, the last from ";
    logScratch += clientText(drops.lastFrom, drops.lastPort);
    logScratchWith("\n");
    drops.count = 0;
    drops.warnedAt = now;
    drops.warned = true;
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
    if (drops.count > 0 && now - drops.warnedAt >= dropWarningInterval)
        logDropWarning(now);
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
    output.send(loopbackAddress, static_cast<uint16_t>(config.gamePort + 1),
                reinterpret_cast<const uint8_t*>(rulesPoll), int32_t(sizeof rulesPoll - 1));
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
    uint8_t datagram[6];
    encodeAnnouncement(datagram, config.gamePort);
    output.send(browserAddress, browserPort, datagram, sizeof datagram);
}
