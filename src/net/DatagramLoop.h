#pragma once

#include "platform/DatagramSocket.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// What a DatagramLoop calls, on the loop's thread, one call at a time. `now`
// is platform::tickCount(); addresses are in network byte order, ports in
// host order.
class DatagramHandler {
public:
    virtual ~DatagramHandler() = default;
    virtual void onStart([[maybe_unused]] uint32_t now) {}
    virtual void onDatagram(const uint8_t* data, int32_t length, uint32_t address, uint16_t port, uint32_t now) = 0;
    virtual void onIdle(uint32_t now) = 0;
    // After the datagrams of one read, so that what they made can leave
    // together.
    virtual void onBatchEnd() {}
};

// Serves one open socket: onStart; then, until a stop is asked for, the
// waiting datagrams in arrival order and onIdle at most every idleInterval,
// on a time-out and also between datagrams, so a busy socket cannot starve
// it. Before each pass of at most datagramsPerPass, with a check for a
// stop or idle after it, the loop reads every datagram waiting on the
// socket into a backlog of its own (up to backlogDatagrams or backlogBytes
// read since it last ran empty): a burst that arrives faster than it is
// handled waits there, not in the socket's queue, where the system would
// drop its tail.
class DatagramLoop {
public:
    static constexpr uint32_t idleInterval = 100;
    // Short passes read the socket often, so that its queue stays short
    // however slowly datagrams are handled.
    static constexpr int32_t datagramsPerPass = 16;
    static constexpr int32_t datagramsPerRead = 64;  // a system call's
    static constexpr int32_t largestDatagram = 65536;
    static constexpr size_t backlogDatagrams = 4096;
    static constexpr size_t backlogBytes = 4 << 20;

    DatagramLoop(platform::DatagramSocket& socket, DatagramHandler& handler) : socket(socket), handler(handler) {}
    ~DatagramLoop() { stop(); }
    DatagramLoop(const DatagramLoop&) = delete;
    DatagramLoop& operator=(const DatagramLoop&) = delete;

    void run();          // on the calling thread
    bool start();        // on a thread of its own; false when one runs
    void requestStop();  // from any thread, a handler too; wakes the wait
    void stop();         // requestStop, then waits for start's thread

private:
    void takeWaitingDatagrams(uint32_t lastIdle);
    void readWaitingDatagrams();
    void handlePass();
    bool backlogged() const { return next < backlog.size(); }

    platform::DatagramSocket& socket;
    DatagramHandler& handler;
    platform::WakeSignal wake;
    std::atomic<bool> stopRequested{false};
    // Room for a read of the largest datagrams; the system touches only
    // the pages that datagrams fill.
    std::unique_ptr<uint8_t[]> buffers{new uint8_t[size_t(datagramsPerRead) * largestDatagram]};
    platform::Datagram batch[datagramsPerRead];
    // Read but not yet handled: each datagram's bytes start at its offset
    // in backlogData, which moves as it grows.
    std::vector<platform::Datagram> backlog;  // senders and lengths
    std::vector<size_t> backlogStarts;
    std::vector<uint8_t> backlogData;
    size_t next = 0;  // the first not handled
    std::thread thread;
};
