#include "server/AddonServer.h"

#include "foundation/OutOfMemory.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "wire/GameStateReport.h"
#include "wire/QueryDatagrams.h"

#include <cstdio>
#include <new>

namespace {

const uint32_t loopbackAddress = platform::ipv4Address(127, 0, 0, 1);

RefString decimalText(uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%u", value);
    return RefString(text);
}

}  // namespace

AddonServer::AddonServer() : UdpService(-1), receiveBuffer(new (std::nothrow) uint8_t[receiveBufferSize])
{
    if (receiveBuffer == nullptr)
        outOfMemory("receive buffer");
}

// The members go after the body in the reverse of their declaration:
// logScratch, clients, password, the log queue, the chunks.
AddonServer::~AddonServer()
{
    requestStop();
    wait(platform::infiniteTimeout);
    delete[] receiveBuffer;
    receiveBuffer = nullptr;
}

void AddonServer::log(const char* text)
{
    logQueue.add(text);
}

void AddonServer::onRead(int32_t error)
{
    handleDatagram(error);
}

void AddonServer::onWrite(int32_t) {}

void AddonServer::onIdle()
{
    tick();
}

void AddonServer::onStart()
{
    log("Server thread says hello\nServer is running\n");
    lastAnnounceTime = platform::tickCount();
    announce();
}

void AddonServer::handleDatagram(int32_t)
{
    uint32_t now = platform::tickCount();
    uint32_t address = 0;
    uint16_t port = 0;
    int32_t length = receiveFrom(receiveBuffer, receiveBufferSize, &address, &port);
    if (length < 4) {
        tick();
        return;
    }
    if (receiveBuffer[0] == '\\' && takeStateReport(length, address, now))
        return;

    char dotted[platform::addressTextSize];
    platform::addressToText(address, dotted);
    RefString ipText(dotted);
    wire::QueryRequest query;
    wire::ChunkRequest chunks;
    wire::ResendRequest resend;
    if (query.decode(receiveBuffer, size_t(length)))
        answerQuery(query, address, port, ipText, now);
    else if (chunks.decode(receiveBuffer, size_t(length)))
        queueAllChunks(address, port, ipText, now);
    else if (resend.decode(receiveBuffer, size_t(length)) && resend.index < infoBlock.chunks.size)
        queueChunk(resend.index, address, port, ipText, now);
}

// Only the game server on this machine, which the rules poll goes to,
// may set the state; from elsewhere the datagram is tested as a request.
bool AddonServer::takeStateReport(int32_t length, uint32_t address, uint32_t now)
{
    if (address != loopbackAddress)
        return false;
    wire::GameStateReport report;
    if (!report.decode(receiveBuffer, size_t(length), receiveBufferSize))
        return false;
    int32_t state = report.state;
    if (state != gameState) {
        gameState = state;
        stateChangedTime = now;
    }
    lastStateReportTime = now;
    return true;
}

void AddonServer::answerQuery(const wire::QueryRequest& query, uint32_t address, uint16_t port,
                              const RefString& ipText, uint32_t now)
{
    uint16_t version = query.version;
    const char* given = query.password.data();  // a NUL ends it in the buffer
    if (!password.isEmpty() && password.compare(RefString(given)) != 0) {
        uint8_t refused[wire::PasswordRefused::kSize];
        sendTo(address, port, refused, int32_t(wire::PasswordRefused::encode(refused)));
        composeClient("Query with wrong password from ", ipText, port);
        logScratch += "\n";
        log(logScratch.c_str());
        return;
    }
    wire::QueryAnswer answer;
    answer.chunkCount = static_cast<uint16_t>(infoBlock.chunks.size);
    answer.infoBlockId = infoBlock.infoBlockId;
    answer.hasGameState = wire::QueryAnswer::carriesGameState(version);
    answer.stateAgeMs = now - stateChangedTime;
    answer.gameState = static_cast<uint16_t>(gameState);
    uint8_t datagram[wire::QueryAnswer::kLongSize];
    sendTo(address, port, datagram, int32_t(answer.encode(datagram)));
    composeClient("Query from ", ipText, port);
    logScratch += " version ";
    logScratch += decimalText(version);
    logScratch += "\n";
    log(logScratch.c_str());
}

// All or nothing: a request that does not fit whole adds no chunk.
void AddonServer::queueAllChunks(uint32_t address, uint16_t port, const RefString& ipText, uint32_t now)
{
    int32_t count = infoBlock.chunks.size;
    int32_t i = queuedDatagrams + count <= limits.queuedDatagrams ? findOrAddClient(address, port) : -1;
    if (i < 0 || !roomFor(*clients[i], count)) {
        dropRequest(ipText, port, now);
        return;
    }
    for (int32_t k = 0; k < count; ++k)
        clients[i]->enqueue(infoBlock.chunks[k]);
    queuedDatagrams += count;
    composeClient("Sending chunks to ", ipText, port);
    logScratch += "\n";
    log(logScratch.c_str());
}

void AddonServer::queueChunk(uint16_t index, uint32_t address, uint16_t port, const RefString& ipText, uint32_t now)
{
    int32_t i = queuedDatagrams < limits.queuedDatagrams ? findOrAddClient(address, port) : -1;
    if (i < 0 || !roomFor(*clients[i], 1)) {
        dropRequest(ipText, port, now);
        return;
    }
    clients[i]->enqueue(infoBlock.chunks[index]);
    ++queuedDatagrams;
    logScratch = "Resending chunk ";
    logScratch += decimalText(index);
    logScratch += " to ";
    logScratch += ipText;
    logScratch += ":";
    logScratch += decimalText(port);
    logScratch += "\n";
    log(logScratch.c_str());
}

int32_t AddonServer::findOrAddClient(uint32_t address, uint16_t port)
{
    int32_t sameAddress = 0;
    for (int32_t i = 0; i < clients.size; ++i) {
        const ClientRecord& record = *clients[i];
        if (record.address != address)
            continue;
        if (record.port == port)
            return i;
        ++sameAddress;
    }
    if (clients.size >= limits.records || sameAddress >= limits.recordsPerAddress)
        return -1;
    int32_t index = clients.size;
    clients.at(index) = SharedRef<ClientRecord>(new ClientRecord(address, port));
    return index;
}

bool AddonServer::roomFor(const ClientRecord& record, int32_t datagrams) const
{
    int64_t queueLimit = int64_t(limits.queueChunkFactor) * infoBlock.chunks.size;
    return record.pendingCount() + int64_t(datagrams) <= queueLimit
        && int64_t(queuedDatagrams) + datagrams <= limits.queuedDatagrams;
}

void AddonServer::dropRequest(const RefString& ipText, uint16_t port, uint32_t now)
{
    ++droppedRequests;
    lastDroppedFrom = ipText;
    lastDroppedPort = port;
    if (!dropWarningLogged || now - lastDropWarningTime >= dropWarningInterval)
        logDropWarning(now);
}

void AddonServer::logDropWarning(uint32_t now)
{
    logScratch = "Warning: Dropped ";
    logScratch += decimalText(droppedRequests);
    logScratch += " requests beyond the client limits, the last from ";
    logScratch += lastDroppedFrom;
    logScratch += ":";
    logScratch += decimalText(lastDroppedPort);
    logScratch += "\n";
    log(logScratch.c_str());
    droppedRequests = 0;
    lastDropWarningTime = now;
    dropWarningLogged = true;
}

void AddonServer::composeClient(const char* text, const RefString& ipText, uint16_t port)
{
    logScratch = text;
    logScratch += ipText;
    logScratch += ":";
    logScratch += decimalText(port);
}

void AddonServer::pumpSendQueues()
{
    for (int32_t i = clients.size - 1; i >= 0; --i) {
        ClientRecord& record = *clients[i];
        if (!record.hasPending())
            continue;
        SharedRef<ByteBuffer> next = record.takeNext();
        --queuedDatagrams;
        sendTo(record.address, record.port, next->data, int32_t(next->size));
    }
    // Records whose queue ran empty go in the pass that sent their last
    // datagram; one sweep keeps the others in order of creation.
    int32_t kept = 0;
    for (int32_t i = 0; i < clients.size; ++i) {
        if (clients[i]->hasPending())
            clients[kept++] = clients[i];
    }
    clients.setSize(kept);
}

void AddonServer::tick()
{
    uint32_t now = platform::tickCount();
    uint32_t delay = sendDelay > 0 ? uint32_t(sendDelay) : 1u;
    uint32_t elapsed = now - lastPumpTime;
    if (elapsed > catchUpLimit)
        elapsed = 100;  // after a long pause only a little is made up
    while (elapsed >= delay) {
        pumpSendQueues();
        elapsed -= delay;
    }
    lastPumpTime = now - elapsed;  // passes stay on the sendDelay grid

    if (now - lastAnnounceTime > announceInterval) {
        announce();
        lastAnnounceTime = now;
    }
    if (now - lastRulesPollTime > rulesPollInterval)
        pollGameServer(now);
    if (droppedRequests > 0 && now - lastDropWarningTime >= dropWarningInterval)
        logDropWarning(now);
}

void AddonServer::pollGameServer(uint32_t now)
{
    if (now - lastStateReportTime > stateExpiry && gameState != -1) {
        stateChangedTime = now;
        gameState = -1;
    }
    uint8_t poll[wire::RulesPoll::kSize];
    uint16_t rulesPort = static_cast<uint16_t>(gamePortNumber + wire::RulesPoll::kRulesPortOffset);
    sendTo(loopbackAddress, rulesPort, poll, int32_t(wire::RulesPoll::encode(poll)));
    lastRulesPollTime = now;
}

void AddonServer::announce()
{
    if (!announceEnabled)
        return;
    log("Announcing to the Kitsync browser server\n");
    uint32_t ip = resolveHost(browserServer.c_str());
    if (ip == platform::noAddress) {
        log("Warning: Could not resolve IP to browser server\n");
        return;
    }
    wire::AnnounceDatagram announcement;
    announcement.gamePort = gamePortNumber;
    uint8_t datagram[wire::AnnounceDatagram::kSize];
    sendTo(ip, wire::kBrowserPort, datagram, int32_t(announcement.encode(datagram)));
}

uint32_t AddonServer::resolveHost(const char* name)
{
    return platform::resolveHost(name);
}
