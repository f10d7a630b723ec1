#pragma once

#include "foundation/ByteBuffer.h"
#include "foundation/SharedRef.h"
#include "server/ClientRecord.h"
#include "server/ServiceOutput.h"

#include <cstdint>

// Bounds on what requests may make the server hold. Normal clients (a full
// fetch or two plus resends) never meet them; a flood of forged or
// repeated requests meets them instead of the server's memory.
struct ClientLimits {
    int32_t recordsPerAddress = 32;
    int32_t records = 4096;
    int32_t queuedDatagrams = 1048576;  // over all records
    int32_t queueChunkFactor = 2;       // a queue holds at most this many catalogues
};

// The clients with datagrams pending, in order of creation, each with its
// queue, held within the limits.
class ClientTable {
public:
    ClientTable(const ClientLimits& limits, int32_t catalogueChunks);
    ClientTable(const ClientTable&) = delete;
    ClientTable& operator=(const ClientTable&) = delete;

    // Queues datagrams[first, first + count) for the client, all or
    // nothing: false, with nothing queued, when that would pass a limit.
    bool enqueue(uint32_t address, uint16_t port, const SharedRefArray<ByteBuffer>& datagrams, int32_t first,
                 int32_t count);

    // One sending pass: at most one datagram per client, the newest record
    // first; records whose queue ran empty go.
    void sendPass(ServiceOutput& output);

    int32_t size() const { return records.size; }
    const ClientRecord& operator[](int32_t i) const { return *records[i]; }
    int32_t queuedDatagrams() const { return queued; }
    const ClientLimits& bounds() const { return limits; }

private:
    // The index of the record for this client, made when there is none;
    // -1 when making one would pass a limit.
    int32_t findOrAdd(uint32_t address, uint16_t port);
    void dropEmptyRecords();

    const ClientLimits limits;
    const int64_t queueLimit;  // datagrams one record may hold
    SharedRefArray<ClientRecord> records;
    int32_t queued = 0;  // pending over all records
};
