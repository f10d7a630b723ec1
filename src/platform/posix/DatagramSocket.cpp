#include "platform/DatagramSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <vector>

namespace platform {

static sockaddr_in ipv4Record(uint32_t address, uint16_t port)
{
    return sockaddr_in{AF_INET, htons(port), in_addr{address}, {}};
}

// The records of one recvmmsg or sendmmsg call, on the stack.
struct MessageBatch {
    static constexpr int32_t size = 64;
    mmsghdr headers[size];
    iovec pieces[size];
    sockaddr_in records[size];

    void set(int32_t i, const uint8_t* data, int32_t length, sockaddr_in record)
    {
        pieces[i] = iovec{const_cast<uint8_t*>(data), size_t(length)};
        records[i] = record;
        headers[i] = mmsghdr{};
        headers[i].msg_hdr.msg_name = &records[i];
        headers[i].msg_hdr.msg_namelen = sizeof records[i];
        headers[i].msg_hdr.msg_iov = &pieces[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
};

bool DatagramSocket::open(uint32_t address, uint16_t port)
{
    close();
    handle = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in record = ipv4Record(address, port);
    if (handle != -1 && bind(int(handle), reinterpret_cast<sockaddr*>(&record), sizeof record) != 0)
        close();
    return handle != -1;
}

void DatagramSocket::close()
{
    if (handle != -1)
        ::close(int(handle));
    handle = -1;
}

uint16_t DatagramSocket::localPort() const
{
    sockaddr_in record{};
    socklen_t length = sizeof record;
    if (handle == -1 || getsockname(int(handle), reinterpret_cast<sockaddr*>(&record), &length) != 0)
        return 0;
    return ntohs(record.sin_port);
}

int32_t DatagramSocket::sendTo(uint32_t address, uint16_t port, const void* data, int32_t length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return -1;
    sockaddr_in record = ipv4Record(address, port);
    ssize_t sent = sendto(int(handle), data, size_t(length), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&record),
                          sizeof record);
    return sent < 0 ? -1 : int32_t(sent);
}

int32_t DatagramSocket::receiveFrom(void* buffer, int32_t capacity, uint32_t* address, uint16_t* port)
{
    sockaddr_in record{};
    socklen_t recordLength = sizeof record;
    ssize_t received = -1;
    if (capacity >= 0 && (buffer != nullptr || capacity == 0))
        received = recvfrom(int(handle), buffer, size_t(capacity), 0, reinterpret_cast<sockaddr*>(&record),
                            &recordLength);
    if (address != nullptr)
        *address = record.sin_addr.s_addr;
    if (port != nullptr)
        *port = ntohs(record.sin_port);
    return received < 0 ? -1 : int32_t(received);
}

int32_t DatagramSocket::receiveBatch(uint8_t* buffers, int32_t capacity, Datagram* batch, int32_t count)
{
    MessageBatch messages;
    int32_t taken = 0;
    while (buffers != nullptr && capacity >= 0 && taken < count) {
        int32_t asked = std::min(count - taken, MessageBatch::size);
        for (int32_t i = 0; i < asked; ++i)
            messages.set(i, buffers + size_t(taken + i) * size_t(capacity), capacity, sockaddr_in{});
        int got = recvmmsg(int(handle), messages.headers, unsigned(asked), 0, nullptr);
        for (int32_t i = 0; i < got; ++i) {
            const sockaddr_in& from = messages.records[i];
            batch[taken + i] = Datagram{static_cast<const uint8_t*>(messages.pieces[i].iov_base),
                                        int32_t(messages.headers[i].msg_len), from.sin_addr.s_addr,
                                        ntohs(from.sin_port)};
        }
        taken += std::max(got, 0);
        if (got < asked)
            break;  // the queue is empty
    }
    return taken;
}

// sendmmsg stops at the first datagram refused, which is then dropped.
int32_t DatagramSocket::sendBatch(const Datagram* batch, int32_t count)
{
    MessageBatch messages;
    int32_t sent = 0;
    for (int32_t next = 0; next < count;) {
        int32_t asked = std::min(count - next, MessageBatch::size);
        for (int32_t i = 0; i < asked; ++i) {
            const Datagram& d = batch[next + i];
            messages.set(i, d.data, d.length, ipv4Record(d.address, d.port));
        }
        int went = std::max(sendmmsg(int(handle), messages.headers, unsigned(asked), MSG_NOSIGNAL), 0);
        sent += went;
        next += went + (went < asked ? 1 : 0);
    }
    return sent;
}

bool DatagramSocket::setReceiveBuffer(int32_t bytes)
{
    return setsockopt(int(handle), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

WakeSignal::WakeSignal() : handle(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeSignal::~WakeSignal()
{
    if (handle != -1)
        ::close(int(handle));
}

// A write fails only on a counter at its limit, which is signalled; a read
// only on one at zero, which has nothing to take.
void WakeSignal::signal()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(int(handle), &one, sizeof one);
}

void WakeSignal::clear()
{
    uint64_t count = 0;
    [[maybe_unused]] ssize_t taken = read(int(handle), &count, sizeof count);
}

WaitOutcome waitForDatagrams(const DatagramSocket* sockets, int32_t count, WakeSignal* wake, uint32_t timeoutMs,
                             uint8_t* ready)
{
    std::vector<pollfd> watched(size_t(count < 0 ? 0 : count) + 1);
    for (int32_t i = 0; i < count; ++i) {
        if (!sockets[i].isOpen())
            return WaitOutcome::failed;
        watched[i] = pollfd{int(sockets[i].nativeHandle()), POLLIN, 0};
    }
    watched.back() = pollfd{wake != nullptr ? int(wake->nativeHandle()) : -1, POLLIN, 0};
    int found;
    do {
        found = poll(watched.data(), watched.size(), timeoutMs > 0x7FFFFFFFu ? -1 : int(timeoutMs));
    } while (found < 0 && errno == EINTR);  // only poll blocks, so only poll sees a signal
    bool anyDatagrams = false;
    for (int32_t i = 0; i < count; ++i) {
        if ((watched[i].revents & POLLNVAL) != 0)
            found = -1;
        anyDatagrams = anyDatagrams || watched[i].revents != 0;
        if (ready != nullptr)
            ready[i] = watched[i].revents != 0 ? 1 : 0;
    }
    if (found < 0 || count < 0)
        return WaitOutcome::failed;
    if (anyDatagrams)
        return WaitOutcome::datagrams;
    if (watched.back().revents == 0)
        return WaitOutcome::timedOut;
    wake->clear();
    return WaitOutcome::woken;
}

bool startWinsock()
{
    return true;
}

}  // namespace platform
