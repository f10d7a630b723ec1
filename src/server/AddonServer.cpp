#include "server/AddonServer.h"

#include "foundation/OutOfMemory.h"
#include "platform/Clock.h"

#include <new>

AddonServer::AddonServer(const ServingConfig& config, const InfoBlock& catalogue, LogQueue& logQueue,
                         const BrowserResolver& browser)
    : UdpService(-1), logQueue(logQueue), browser(browser), service(config, catalogue, *this),
      receiveBuffer(new (std::nothrow) uint8_t[receiveBufferSize])
{
    if (receiveBuffer == nullptr)
        outOfMemory("receive buffer");
}

AddonServer::~AddonServer()
{
    requestStop();
    wait(platform::infiniteTimeout);
    delete[] receiveBuffer;
}

void AddonServer::onStart(uint32_t now)
{
    service.setBrowserAddress(browser.lastAddress());
    service.start(now);
}

void AddonServer::onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now)
{
    service.setBrowserAddress(browser.lastAddress());
    service.receive(data, length, address, port, now);
}

void AddonServer::onIdle(uint32_t now)
{
    service.setBrowserAddress(browser.lastAddress());
    service.tick(now);
}

void AddonServer::onStart()
{
    onStart(platform::tickCount());
}

void AddonServer::onRead(int32_t)
{
    uint32_t now = platform::tickCount();
    uint32_t address = 0;
    uint16_t port = 0;
    int32_t length = receiveFrom(receiveBuffer, receiveBufferSize, &address, &port);
    onDatagram(receiveBuffer, length, address, port, now);
}

void AddonServer::onIdle()
{
    onIdle(platform::tickCount());
}

void AddonServer::send(uint32_t address, uint16_t port, const uint8_t* data, int32_t length)
{
    sendTo(address, port, data, length);
}

void AddonServer::log(const char* text)
{
    logQueue.add(text);
}
