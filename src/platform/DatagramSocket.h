#pragma once

#include <cstdint>

namespace platform {

// An IPv4 UDP socket that never blocks. Addresses are in network byte order,
// as in the socket layer's address record; ports in host order. Batched
// forms of the datagram calls can join these without changing callers.
class DatagramSocket {
public:
    DatagramSocket() = default;
    ~DatagramSocket() { close(); }
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;

    // Binds to address and port (0, 0: any address, a free port), closing
    // what was open. False, with nothing open, when that fails (a held port).
    bool open(uint32_t address, uint16_t port);
    void close();
    bool isOpen() const { return handle != -1; }
    uint16_t localPort() const;  // 0 when nothing is open

    // Bytes sent, or -1 (also when the system's buffer is full).
    int32_t sendTo(uint32_t address, uint16_t port, const void* data, int32_t length);
    // The oldest waiting datagram, cut to capacity: its length, or -1 at
    // once when none waits. The sender (or 0, 0) goes where not null.
    int32_t receiveFrom(void* buffer, int32_t capacity, uint32_t* address, uint16_t* port);

    intptr_t nativeHandle() const { return handle; }

private:
    intptr_t handle = -1;
};

// Ends a waitForDatagrams from any thread. Signals do not add up: the wait
// that reports the wake-up takes them all.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void signal();
    void clear();
    // -1 when none could be made: then only datagrams or time end a wait.
    intptr_t nativeHandle() const { return handle; }

private:
    intptr_t handle = -1;
};

enum class WaitOutcome { datagrams, woken, timedOut, failed };

// Until a datagram waits on one of `count` sockets, `wake` (may be null) is
// signalled, or timeoutMs passes (0xFFFFFFFF: no limit). Datagrams win, and
// a wake-up that came with them stays for the next wait. `ready` (may be
// null) gets 1 for each socket with datagrams, 0 for the others. A socket
// that is not open fails the wait.
WaitOutcome waitForDatagrams(const DatagramSocket* sockets, int32_t count, WakeSignal* wake, uint32_t timeoutMs,
                             uint8_t* ready = nullptr);

// Starts Windows Sockets 2.2 for the process; sockets start it themselves,
// so this only lets a program report a failure first. POSIX needs nothing.
bool startWinsock();

}  // namespace platform
