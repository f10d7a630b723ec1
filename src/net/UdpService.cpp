#include "net/UdpService.h"

#include "platform/Clock.h"
#include "platform/NetworkEvents.h"
#include "platform/UdpSocket.h"
#include "platform/Winsock.h"

UdpService::UdpService(int32_t socket) : socket(socket)
{
}

UdpService::~UdpService()
{
    wait(platform::infiniteTimeout);
    closeHandle();
    close();
}

bool UdpService::open(uint8_t kind, uint16_t port, uint32_t address)
{
    close();
    socket = platform::openSocket(kind == 1 ? platform::SocketKind::stream : platform::SocketKind::datagram);
    if (socket == platform::invalidSocket)
        return false;
    if (bindTo(port, address) == -1
        || platform::selectNetworkEvents(socket, networkEvent.handle, platform::allNetworkEvents) != 0) {
        close();
        return false;
    }
    return true;
}

int32_t UdpService::bindTo(uint16_t port, uint32_t address)
{
    return platform::bindSocket(socket, address, port);
}

int32_t UdpService::close()
{
    if (socket == platform::invalidSocket)
        return 0;
    int32_t result = platform::closeSocket(socket);
    socket = platform::invalidSocket;
    return result;
}

int32_t UdpService::sendTo(uint32_t address, uint16_t port, const void* data, int32_t length)
{
    return platform::sendTo(socket, address, port, data, length);
}

int32_t UdpService::receiveFrom(void* buffer, int32_t capacity, uint32_t* address, uint16_t* port)
{
    return platform::receiveFrom(socket, buffer, capacity, address, port);
}

void UdpService::run()
{
    onStart();
    uint32_t lastIdle = platform::tickCount();
    while (!stopRequested.load()) {
        const platform::EventHandle handles[2] = {networkEvent.handle, wakeEvent.handle};
        uint32_t result = platform::waitForEvents(handles, 2, idleInterval);
        if (result == platform::waitTimeout) {
            onIdle();
            lastIdle = platform::tickCount();
            continue;
        }
        if (result == 0) {
            dispatchNetworkEvents();
            drainMessages();  // a busy socket always wins the wait
        } else if (result == 1) {
            drainMessages();
        } else {
            platform::sleepMilliseconds(idleInterval);  // a failed wait must not spin
        }
        if (platform::tickCount() - lastIdle >= idleInterval) {
            onIdle();
            lastIdle = platform::tickCount();
        }
    }
    onStop();
}

void UdpService::dispatchNetworkEvents()
{
    platform::NetworkEvents record;
    if (platform::enumNetworkEvents(socket, &record) != 0)
        return;
    uint32_t events = record.events;
    const int32_t* errors = record.errorCodes;
    if (events & platform::networkRead)
        onRead(errors[0]);
    if (events & platform::networkWrite)
        onWrite(errors[1]);
    if (events & platform::networkOutOfBand)
        onOutOfBand(errors[2]);
    if (events & platform::networkAccept)
        onAccept(errors[3]);
    if (events & platform::networkConnect)
        onConnect(errors[4]);
    if (events & platform::networkClose)
        onClose(errors[5]);
}

void UdpService::drainMessages()
{
    uint32_t first, second, third;
    while (popMessage(&first, &second, &third))
        onMessage(first, second, third);
}

void UdpService::onRead(int32_t) {}
void UdpService::onWrite(int32_t) {}
void UdpService::onOutOfBand(int32_t) {}
void UdpService::onAccept(int32_t) {}
void UdpService::onConnect(int32_t) {}
void UdpService::onClose(int32_t) {}
void UdpService::onMessage(uint32_t, uint32_t, uint32_t) {}
void UdpService::onStart() {}
void UdpService::onStop() {}
void UdpService::onIdle() {}

bool UdpService::accepts(uint32_t)
{
    return true;
}

bool startWinsock(uint8_t major, uint8_t minor)
{
    return platform::startWinsock(static_cast<uint16_t>(major + 256u * minor));
}

int32_t cleanupWinsock()
{
    return platform::cleanupWinsock();
}
