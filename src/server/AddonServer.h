#pragma once

#include "catalogue/InfoBlock.h"
#include "foundation/RefString.h"
#include "foundation/SharedRef.h"
#include "net/DatagramLoop.h"
#include "server/ClientRecord.h"
#include "server/LogQueue.h"

#include <cstdint>

// Bounds on what requests may make the server hold. Normal clients (a full
// fetch or two plus resends) never meet them; a flood of forged or
// repeated requests meets them instead of the server's memory.
struct ClientLimits {
    int32_t recordsPerAddress = 32;
    int32_t records = 4096;
    int32_t queuedDatagrams = 1048576;  // over all records
    int32_t queueChunkFactor = 2;       // a queue holds at most this many catalogues
};

// The add-on catalogue server: the handler of the program's socket and the
// hub of its state. The main thread fills the catalogue and the settings
// fields, opens the socket, then starts the loop's thread; from then on only
// that thread uses them, and the log queue is the one thing both touch.
class AddonServer : public DatagramHandler {
public:
    AddonServer();
    // Stops and waits for the thread first, so that no handler can run on
    // fields that are being released.
    ~AddonServer() override;

    // Queues a console line for the main thread; null queues an empty one.
    void log(const char* text);

    // Receives and handles one datagram (a query, a chunk or resend
    // request, or the game server's state report).
    void handleDatagram(int32_t error);
    // Bytes sent or received, or -1. Virtual so that a fuzz program can hand
    // the handlers datagrams from memory and collect what they send.
    virtual int32_t sendTo(uint32_t address, uint16_t port, const void* data, int32_t length);
    virtual int32_t receiveFrom(void* buffer, int32_t capacity, uint32_t* address, uint16_t* port);
    // The index of the record for this client, made when there is none;
    // -1 when making one would pass a limit.
    int32_t findOrAddClient(uint32_t address, uint16_t port);
    // One sending pass: at most one datagram per client; records whose
    // queue is empty go.
    void pumpSendQueues();
    // onIdle: sending passes on the sendDelay grid, the rules poll and the
    // announcement.
    void tick();
    void announce();
    // A dotted address or a resolved name, or 0xFFFFFFFF.
    uint32_t resolveHost(const char* name);

    void onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now) override;
    void onStart(uint32_t now) override;
    void onIdle(uint32_t now) override;

    // Datagram words and fixed numbers of the protocol.
    static constexpr uint32_t receiveBufferSize = 65536;
    static constexpr uint16_t queryCommand = 0;
    static constexpr uint16_t chunkCommand = 1;
    static constexpr uint16_t resendCommand = 2;
    static constexpr uint16_t queryAnswerMark = 0x8000;
    static constexpr uint16_t passwordRefusedMark = 0x8001;
    static constexpr uint16_t longAnswerVersion = 1040;
    static constexpr uint16_t browserPort = 48124;
    static constexpr uint32_t catchUpLimit = 10000;
    static constexpr uint32_t announceInterval = 900000;
    static constexpr uint32_t rulesPollInterval = 2000;
    static constexpr uint32_t stateExpiry = 10000;
    static constexpr uint32_t dropWarningInterval = 10000;

    // Fields in the order of their roles: settings and catalogue written
    // before the thread starts, then the server thread's own state.
    int32_t sendDelay = 200;  // ms, always above 10
    InfoBlock infoBlock;      // infoBlockId and chunks
    LogQueue logQueue;        // logLock and logLines
    bool announceEnabled = false;
    RefString password;
    uint16_t gamePortNumber = 0;
    uint8_t* receiveBuffer;
    uint32_t lastPumpTime = 0;
    uint32_t lastAnnounceTime = 0;
    SharedRefArray<ClientRecord> clients;  // in order of creation
    RefString logScratch;
    uint32_t lastRulesPollTime = 0;
    uint32_t stateChangedTime = 0;
    uint32_t lastStateReportTime = 0;
    int32_t gameState = -1;  // -1: none known

    RefString browserServer;  // host name or dotted address
    ClientLimits limits;
    int32_t queuedDatagrams = 0;       // pending over all records
    uint32_t droppedRequests = 0;      // since the last drop warning
    RefString lastDroppedFrom;         // sender of the last dropped request
    uint16_t lastDroppedPort = 0;
    uint32_t lastDropWarningTime = 0;
    bool dropWarningLogged = false;    // lastDropWarningTime means something

    platform::DatagramSocket socket;
    DatagramLoop loop{socket, *this};

private:
    void handleReceived(int32_t length, uint32_t address, uint16_t port, uint32_t now);
    bool takeStateReport(int32_t length, uint32_t address, uint32_t now);
    void answerQuery(uint32_t address, uint16_t port, const RefString& ipText, uint32_t now);
    void queueAllChunks(uint32_t address, uint16_t port, const RefString& ipText, uint32_t now);
    void queueChunk(uint16_t index, uint32_t address, uint16_t port, const RefString& ipText, uint32_t now);
    int32_t recordsAt(uint32_t address) const;
    bool roomFor(const ClientRecord& record, int32_t datagrams) const;
    void dropRequest(const RefString& ipText, uint16_t port, uint32_t now);
    void logDropWarning(uint32_t now);
    void pollGameServer(uint32_t now);
    void composeClient(const char* text, const RefString& ipText, uint16_t port);
};
