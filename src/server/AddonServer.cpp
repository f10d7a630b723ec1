#include "server/AddonServer.h"

AddonServer::AddonServer(const ServingConfig& config, const InfoBlock& catalogue, LogQueue& logQueue,
                         const BrowserResolver& browser)
    : logQueue(logQueue), browser(browser), service(config, catalogue, *this)
{
}

AddonServer::~AddonServer()
{
    loop.stop();
}

bool AddonServer::open(uint32_t address, uint16_t port)
{
    if (!socket.open(address, port))
        return false;
    socket.setReceiveBuffer(receiveQueueBytes);  // less, even the default, still serves
    return true;
}

void AddonServer::onStart(uint32_t now)
{
    service.setBrowserAddress(browser.lastAddress());
    service.start(now);
    outgoing.flush();
}

// The browser address is refreshed by start and idle calls, which announce;
// a tick that a short datagram runs uses the one of the last idle call.
void AddonServer::onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now)
{
    service.receive(data, length, address, port, now);
}

void AddonServer::onIdle(uint32_t now)
{
    service.setBrowserAddress(browser.lastAddress());
    service.tick(now);
    outgoing.flush();
}

void AddonServer::send(uint32_t address, uint16_t port, const uint8_t* data, int32_t length)
{
    outgoing.add(address, port, data, length);
}

void AddonServer::log(const char* text)
{
    logQueue.add(text);
}
