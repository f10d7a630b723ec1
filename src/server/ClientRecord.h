#pragma once

#include "foundation/ByteBuffer.h"
#include "foundation/SharedRef.h"

#include <cstdint>

// One client with datagrams pending, identified by address and port
// together. The queue holds handles to the served chunks themselves, which
// never change once the server runs, so queuing a chunk costs a handle,
// not a copy of its bytes.
class ClientRecord {
public:
    ClientRecord(uint32_t address, uint16_t port) : address(address), port(port) {}
    ClientRecord(const ClientRecord&) = delete;
    ClientRecord& operator=(const ClientRecord&) = delete;

    uint32_t address;  // network byte order, as received
    uint16_t port;     // host order
    // Oldest first. Slots before sendHead are already sent and empty.
    SharedRefArray<ByteBuffer> sendQueue;
    int32_t sendHead = 0;

    int32_t pendingCount() const { return sendQueue.size - sendHead; }
    bool hasPending() const { return sendHead < sendQueue.size; }

    void enqueue(const SharedRef<ByteBuffer>& datagram);
    // The oldest pending datagram, which leaves the queue; call only while
    // hasPending().
    SharedRef<ByteBuffer> takeNext();
};
