#pragma once

#include <cstdint>

namespace platform {

// One datagram of a batch: its bytes, and the peer it came from or goes to.
struct Datagram {
    const uint8_t* data = nullptr;
    int32_t length = 0;
    uint32_t address = 0;
    uint16_t port = 0;
};

// An IPv4 UDP socket that never blocks. Addresses are in network byte order,
// as in the socket layer's address record; ports in host order. The batch
// calls cost one system call per batch where the system has one (Linux).
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

    // Up to `count` waiting datagrams, oldest first: the i-th lands in
    // buffers + i * capacity, cut to capacity, and is described in batch[i].
    // How many were taken; 0 at once when none waits.
    int32_t receiveBatch(uint8_t* buffers, int32_t capacity, Datagram* batch, int32_t count);
    // Sends them in order; one the system refuses (a full buffer, a bad
    // address) is dropped and the rest still go. How many went.
    int32_t sendBatch(const Datagram* batch, int32_t count);
    // Asks for a receive queue of this many bytes, so that a burst waits
    // there; the system may grant less (Linux: twice net.core.rmem_max).
    bool setReceiveBuffer(int32_t bytes);

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
