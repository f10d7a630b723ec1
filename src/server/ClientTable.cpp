#include "server/ClientTable.h"

ClientTable::ClientTable(const ClientLimits& limits, int32_t catalogueChunks)
    : limits(limits), queueLimit(int64_t(limits.queueChunkFactor) * catalogueChunks)
{
}

bool ClientTable::enqueue(uint32_t address, uint16_t port, const SharedRefArray<ByteBuffer>& datagrams,
                          int32_t first, int32_t count)
{
    if (queued + count > limits.queuedDatagrams)
        return false;
    int32_t i = findOrAdd(address, port);
    if (i < 0)
        return false;
    ClientRecord& record = *records[i];
    if (record.pendingCount() + int64_t(count) > queueLimit)
        return false;
    for (int32_t k = 0; k < count; ++k)
        record.enqueue(datagrams[first + k]);
    queued += count;
    return true;
}

int32_t ClientTable::findOrAdd(uint32_t address, uint16_t port)
{
    int32_t sameAddress = 0;
    for (int32_t i = 0; i < records.size; ++i) {
        const ClientRecord& record = *records[i];
        if (record.address != address)
            continue;
        if (record.port == port)
            return i;
        ++sameAddress;
    }
    if (records.size >= limits.records || sameAddress >= limits.recordsPerAddress)
        return -1;
    int32_t index = records.size;
    records.at(index) = SharedRef<ClientRecord>(new ClientRecord(address, port));
    return index;
}

void ClientTable::sendPass(ServiceOutput& output)
{
    for (int32_t i = records.size - 1; i >= 0; --i) {
        ClientRecord& record = *records[i];
        if (!record.hasPending())
            continue;
        SharedRef<ByteBuffer> next = record.takeNext();
        --queued;
        output.send(record.address, record.port, next->data, int32_t(next->size));
    }
    dropEmptyRecords();
}

// Records whose queue ran empty go in the pass that sent their last
// datagram; one sweep keeps the others in order of creation.
void ClientTable::dropEmptyRecords()
{
    int32_t kept = 0;
    for (int32_t i = 0; i < records.size; ++i) {
        if (records[i]->hasPending())
            records[kept++] = records[i];
    }
    records.setSize(kept);
}
