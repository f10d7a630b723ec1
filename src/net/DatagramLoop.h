#pragma once

#include "platform/DatagramSocket.h"

#include <atomic>
#include <thread>

// What a DatagramLoop calls, on the loop's thread, one call at a time. `now`
// is platform::tickCount(); addresses are in network byte order, ports in
// host order.
class DatagramHandler {
public:
    virtual ~DatagramHandler() = default;
    virtual void onStart([[maybe_unused]] uint32_t now) {}
    virtual void onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now) = 0;
    virtual void onIdle(uint32_t now) = 0;
};

// Serves one open socket: onStart; then, until a stop is asked for, the
// waiting datagrams in arrival order and onIdle at most every idleInterval,
// on a time-out and also between datagrams, so a busy socket cannot starve
// it. At most datagramsPerPass are taken between checks for a stop or idle.
class DatagramLoop {
public:
    static constexpr uint32_t idleInterval = 100;
    static constexpr int32_t datagramsPerPass = 64;

    DatagramLoop(platform::DatagramSocket& socket, DatagramHandler& handler) : socket(socket), handler(handler) {}
    ~DatagramLoop() { stop(); }
    DatagramLoop(const DatagramLoop&) = delete;
    DatagramLoop& operator=(const DatagramLoop&) = delete;

    void run();          // on the calling thread
    bool start();        // on a thread of its own; false when one runs
    void requestStop();  // from any thread, a handler too; wakes the wait
    void stop();         // requestStop, then waits for start's thread

private:
    void takeWaitingDatagrams();

    platform::DatagramSocket& socket;
    DatagramHandler& handler;
    platform::WakeSignal wake;
    std::atomic<bool> stopRequested{false};
    uint8_t buffer[65536];  // the largest datagram
    std::thread thread;
};
