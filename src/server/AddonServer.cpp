#include "server/AddonServer.h"

#include "foundation/AsciiText.h"
#include "foundation/OutOfMemory.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "server/WireFormat.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

const uint32_t loopbackAddress = platform::ipv4Address(127, 0, 0, 1);
const char rulesPoll[] = "\\rules\\";  // sent without its terminator
const char stateKey[] = "\\gstate\\";
constexpr int32_t stateKeyLength = 8;

RefString decimalText(uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%u", value);
    return RefString(text);
}

}  // namespace

AddonServer::AddonServer() : receiveBuffer(new (std::nothrow) uint8_t[receiveBufferSize])
{
    if (receiveBuffer == nullptr)
        outOfMemory("receive buffer");
}

// The members go after the body in the reverse of their declaration:
// logScratch, clients, password, the log queue, the chunks.
AddonServer::~AddonServer()
{
    loop.stop();
    delete[] receiveBuffer;
    receiveBuffer = nullptr;
}

void AddonServer::log(const char* text)
{
    logQueue.add(text);
}

int32_t AddonServer::sendTo(uint32_t address, uint16_t port, const void* data, int32_t length)
{
    return socket.sendTo(address, port, data, length);
}

int32_t AddonServer::receiveFrom(void* buffer, int32_t capacity, uint32_t* address, uint16_t* port)
{
    return socket.receiveFrom(buffer, capacity, address, port);
}

// The handlers below mark the datagram up in place, so it goes into the
// server's own buffer first.
void AddonServer::onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now)
{
    std::memcpy(receiveBuffer, data, size_t(length));
    handleReceived(length, address, port, now);
}

void AddonServer::onIdle(uint32_t)
{
    tick();
}

void AddonServer::onStart(uint32_t now)
{
    log("Server thread says hello\nServer is running\n");
    lastAnnounceTime = now;
    announce();
}

void AddonServer::handleDatagram(int32_t)
{
    uint32_t now = platform::tickCount();
    uint32_t address = 0;
    uint16_t port = 0;
    int32_t length = receiveFrom(receiveBuffer, receiveBufferSize, &address, &port);
    handleReceived(length, address, port, now);
}

void AddonServer::handleReceived(int32_t length, uint32_t address, uint16_t port, uint32_t now)
{
    if (length < 4) {
        tick();
        return;
    }
    if (receiveBuffer[0] == '\\' && takeStateReport(length, address, now))
        return;

    char dotted[platform::addressTextSize];
    platform::addressToText(address, dotted);
    RefString ipText(dotted);
    uint16_t command = wire::readU16(receiveBuffer + 2);
    if (command == queryCommand && length > 4 && receiveBuffer[length - 1] == 0)
        answerQuery(address, port, ipText, now);
    else if (command == chunkCommand && length == 4)
        queueAllChunks(address, port, ipText, now);
    else if (command == resendCommand && length == 6 && wire::readU16(receiveBuffer + 4) < infoBlock.chunks.size)
        queueChunk(wire::readU16(receiveBuffer + 4), address, port, ipText, now);
}

// Only the game server on this machine, which the rules poll goes to,
// may set the state; from elsewhere the datagram is tested as a request.
bool AddonServer::takeStateReport(int32_t length, uint32_t address, uint32_t now)
{
    if (address != loopbackAddress)
        return false;
    int32_t end = length < int32_t(receiveBufferSize) ? length : int32_t(receiveBufferSize) - 1;
    receiveBuffer[end] = 0;
    const char* text = reinterpret_cast<const char*>(receiveBuffer);
    const char* key = findIgnoringCase(text, stateKey);
    if (key == nullptr || key[stateKeyLength] == 0)
        return false;
    const char* value = key + stateKeyLength;
    if (std::strchr(value, '\\') == nullptr)
        return false;
    int32_t state = wire::decimalValue(value);  // stops at the closing '\'
    if (state != gameState) {
        gameState = state;
        stateChangedTime = now;
    }
    lastStateReportTime = now;
    return true;
}

void AddonServer::answerQuery(uint32_t address, uint16_t port, const RefString& ipText, uint32_t now)
{
    uint16_t version = wire::readU16(receiveBuffer);
    const char* given = reinterpret_cast<const char*>(receiveBuffer + 4);
    if (!password.isEmpty() && password.compare(RefString(given)) != 0) {
        uint8_t refused[4];
        wire::putU16(refused, passwordRefusedMark);
        wire::putU16(refused + 2, 0xFFFF);
        sendTo(address, port, refused, sizeof refused);
        composeClient("Query with wrong password from ", ipText, port);
        logScratch += "\n";
        log(logScratch.c_str());
        return;
    }
    uint8_t answer[18];
    wire::putU16(answer, queryAnswerMark);
    wire::putU16(answer + 2, static_cast<uint16_t>(infoBlock.chunks.size));
    wire::putU64(answer + 4, infoBlock.infoBlockId);
    wire::putU32(answer + 12, now - stateChangedTime);
    wire::putU16(answer + 16, static_cast<uint16_t>(gameState));
    sendTo(address, port, answer, version >= longAnswerVersion ? 18 : 12);
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
    sendTo(loopbackAddress, static_cast<uint16_t>(gamePortNumber + 1), rulesPoll, int32_t(sizeof rulesPoll - 1));
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
    uint8_t datagram[6];
    wire::putU16(datagram, 0xFFFE);
    wire::putU16(datagram + 2, 0x007F);
    wire::putU16(datagram + 4, gamePortNumber);
    sendTo(ip, browserPort, datagram, sizeof datagram);
}

uint32_t AddonServer::resolveHost(const char* name)
{
    return platform::resolveHost(name);
}
