#pragma once

#include "concurrency/EventObject.h"
#include "concurrency/Thread.h"

#include <cstdint>

// A socket endpoint with a thread of its own whose loop turns network
// events, wake-ups and quiet spells into calls of the virtual handlers
// below, all on that thread, one at a time. IPv4 addresses are in network
// byte order, ports in host order.
class UdpService : public Thread {
public:
    explicit UdpService(int32_t socket = -1);

    // Waits for the thread without limit, then closes the socket. It does
    // not ask the thread to stop: a started service is stopped
    // (requestStop, wait) by its owner before the derived part goes.
    ~UdpService() override;

    // kind 1 makes a stream socket, anything else a datagram socket (a
    // socket still open is closed first); it is
    // bound to address and port (0, 0 for any address, a free port) and
    // tied to networkEvent, which makes it non-blocking. On any failure the
    // socket is closed again (socket = -1) and false returned.
    bool open(uint8_t kind, uint16_t port, uint32_t address);
    int32_t bindTo(uint16_t port, uint32_t address);
    // The close result, or 0 when no socket was open.
    int32_t close();
    // Bytes sent or received, or -1; receiveFrom gives the sender (0, 0
    // after a failure). Virtual so that a fuzz program can hand handlers
    // datagrams from memory and collect what they send.
    virtual int32_t sendTo(uint32_t address, uint16_t port, const void* data, int32_t length);
    virtual int32_t receiveFrom(void* buffer, int32_t capacity, uint32_t* address, uint16_t* port);

    // The loop: onStart; then, until stopRequested, wait at most
    // idleInterval for the socket or the wake event; onIdle on a time-out;
    // one handler call per reported network event, in bit order; queued
    // messages to onMessage; finally onStop. A busy socket cannot starve
    // onIdle: a pass that handled anything also runs onIdle once
    // idleInterval has gone by since it last ran.
    void run() override;

    virtual void onRead(int32_t error);
    virtual void onWrite(int32_t error);
    virtual void onOutOfBand(int32_t error);
    virtual void onAccept(int32_t error);
    virtual void onConnect(int32_t error);
    virtual void onClose(int32_t error);
    virtual void onMessage(uint32_t first, uint32_t second, uint32_t third);
    virtual void onStart();
    virtual void onStop();
    virtual void onIdle();
    // Kept for derived classes; nothing calls it.
    virtual bool accepts(uint32_t value);

    static constexpr uint32_t idleInterval = 100;

    EventObject networkEvent{false, false, nullptr};
    int32_t socket;

private:
    void dispatchNetworkEvents();
    void drainMessages();
};

// Starts the socket layer at version major.minor; true on success.
bool startWinsock(uint8_t major, uint8_t minor);
// Ends one start; 0, or -1 when none was left.
int32_t cleanupWinsock();
