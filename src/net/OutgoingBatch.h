#pragma once

#include "platform/DatagramSocket.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Datagrams gathered to leave a socket together, in the order they were
// added, with one batched send per flush instead of one send each. The bytes
// are copied, so a caller may reuse its buffer at once. A datagram the
// system refuses is dropped, as a failed send would drop it.
class OutgoingBatch {
public:
    // Full at this many, when the batch flushes itself.
    static constexpr size_t limit = 64;

    explicit OutgoingBatch(platform::DatagramSocket& socket) : socket(socket) {}
    OutgoingBatch(const OutgoingBatch&) = delete;
    OutgoingBatch& operator=(const OutgoingBatch&) = delete;

    void add(uint32_t address, uint16_t port, const uint8_t* data, int32_t length);
    void flush();

private:
    platform::DatagramSocket& socket;
    std::vector<uint8_t> bytes;  // every datagram's, one after the other
    std::vector<size_t> starts;  // in bytes: it may move as it grows
    std::vector<platform::Datagram> waiting;  // data set at the flush
};
