#include "net/OutgoingBatch.h"

void OutgoingBatch::add(uint32_t address, uint16_t port, const uint8_t* data, int32_t length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return;  // what a send would refuse
    starts.push_back(bytes.size());
    bytes.insert(bytes.end(), data, data + length);
    waiting.push_back(platform::Datagram{nullptr, length, address, port});
    if (waiting.size() == limit)
        flush();
}

void OutgoingBatch::flush()
{
    for (size_t i = 0; i < waiting.size(); ++i)
        waiting[i].data = bytes.data() + starts[i];
    socket.sendBatch(waiting.data(), int32_t(waiting.size()));
    waiting.clear();
    starts.clear();
    bytes.clear();
}
