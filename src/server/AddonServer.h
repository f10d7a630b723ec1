#pragma once

#include "catalogue/InfoBlock.h"
#include "net/DatagramLoop.h"
#include "net/OutgoingBatch.h"
#include "platform/DatagramSocket.h"
#include "server/BrowserResolver.h"
#include "server/CatalogueService.h"
#include "server/LogQueue.h"
#include "server/ServiceOutput.h"

#include <cstdint>

// The glue between the catalogue service, the socket and the serving
// loop: each datagram and each quiet spell goes to the service with the
// time, what it sends goes out of the socket, gathered over one batch of
// datagrams or one idle call, and what it logs onto the log queue for the
// main thread. Everything here runs on the serving
// thread, except the browser server's lookups, which never do.
class AddonServer : public DatagramHandler, private ServiceOutput {
public:
    // The catalogue, the log queue and the resolver must outlive the server.
    AddonServer(const ServingConfig& config, const InfoBlock& catalogue, LogQueue& logQueue,
                const BrowserResolver& browser);
    // Stops the serving thread first, so that no handler runs on members
    // that are being released.
    ~AddonServer() override;

    // Binds the server's socket, with a receive queue deep enough for a
    // burst of requests; false when the port is held.
    bool open(uint32_t address, uint16_t port);
    uint16_t localPort() const { return socket.localPort(); }
    // The serving thread; false when it already runs.
    bool start() { return loop.start(); }
    // Ends the serving thread and waits for it.
    void stop() { loop.stop(); }
    void close() { socket.close(); }

    void onStart(uint32_t now) override;
    void onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now) override;
    void onIdle(uint32_t now) override;
    void onBatchEnd() override { outgoing.flush(); }

    static constexpr int32_t receiveQueueBytes = 4 << 20;

private:
    void send(uint32_t address, uint16_t port, const uint8_t* data, int32_t length) override;
    void log(const char* text) override;

    LogQueue& logQueue;
    const BrowserResolver& browser;
    CatalogueService service;
    platform::DatagramSocket socket;
    OutgoingBatch outgoing{socket};
    DatagramLoop loop{socket, *this};
};
