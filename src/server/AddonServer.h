#pragma once

#include "catalogue/InfoBlock.h"
#include "net/UdpService.h"
#include "server/BrowserResolver.h"
#include "server/CatalogueService.h"
#include "server/LogQueue.h"
#include "server/ServiceOutput.h"

#include <cstdint>

// The glue between the catalogue service, the socket and the serving
// loop: each datagram and each quiet spell goes to the service with the
// time, what it sends goes out of the socket, and what it logs onto the
// log queue for the main thread. Everything here runs on the serving
// thread, except the browser server's lookups, which never do.
class AddonServer : public UdpService, private ServiceOutput {
public:
    // The catalogue, the log queue and the resolver must outlive the server.
    AddonServer(const ServingConfig& config, const InfoBlock& catalogue, LogQueue& logQueue,
                const BrowserResolver& browser);
    // Stops and waits for the thread first, so that no handler can run on
    // members that are being released.
    ~AddonServer() override;

    void onStart(uint32_t now);
    void onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now);
    void onIdle(uint32_t now);  // at least every 100 ms

    static constexpr int32_t receiveBufferSize = 65536;

private:
    // The serving loop's calls, handed on with the time.
    void onStart() override;
    void onRead(int32_t error) override;
    void onIdle() override;

    void send(uint32_t address, uint16_t port, const uint8_t* data, int32_t length) override;
    void log(const char* text) override;

    LogQueue& logQueue;
    const BrowserResolver& browser;
    CatalogueService service;
    uint8_t* receiveBuffer;
};
