#include "server/ClientRecord.h"

void ClientRecord::enqueue(const SharedRef<ByteBuffer>& datagram)
{
    // A client that keeps asking while its queue drains would otherwise
    // grow the storage by one slot per request for ever.
    if (sendHead > 0 && sendHead >= sendQueue.size / 2) {
        int32_t pending = pendingCount();
        for (int32_t i = 0; i < pending; ++i)
            sendQueue[i] = sendQueue[sendHead + i];
        sendQueue.setSize(pending);
        sendHead = 0;
    }
    sendQueue.add(datagram);
}

SharedRef<ByteBuffer> ClientRecord::takeNext()
{
    SharedRef<ByteBuffer> next = sendQueue[sendHead];
    sendQueue[sendHead].release();
    ++sendHead;
    if (sendHead == sendQueue.size) {
        sendQueue.setSize(0);
        sendHead = 0;
    }
    return next;
}
