#include "platform/DatagramSocket.h"

#include "platform/win32/Win32.h"

#include <mswsock.h>
#include <vector>

namespace platform {

namespace {

sockaddr_in ipv4Record(uint32_t address, uint16_t port)
{
    sockaddr_in record{};
    record.sin_family = AF_INET;
    record.sin_port = htons(port);
    record.sin_addr.s_addr = address;
    return record;
}

SOCKET native(intptr_t handle)
{
    return static_cast<SOCKET>(handle);
}

// Not inherited by child processes, which must not keep a port open, and
// never blocking. No other program may take over the port with
// SO_REUSEADDR, which Windows would otherwise allow: a held port must fail
// the bind. And without SIO_UDP_CONNRESET off, a send to a closed port
// fails the next receive with WSAECONNRESET (from the ICMP answer), which
// no POSIX socket does; a good datagram would be lost for it.
SOCKET openBound(uint32_t address, uint16_t port)
{
    if (!win32::ensureSocketLayer())
        return INVALID_SOCKET;
    SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket == INVALID_SOCKET)
        return INVALID_SOCKET;
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    u_long nonBlocking = 1;
    BOOL exclusive = TRUE, report = FALSE;
    DWORD returned = 0;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    sockaddr_in record = ipv4Record(address, port);
    if (bind(socket, reinterpret_cast<sockaddr*>(&record), sizeof record) != 0) {
        closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

}  // namespace

bool DatagramSocket::open(uint32_t address, uint16_t port)
{
    close();
    handle = static_cast<intptr_t>(openBound(address, port));
    return handle != -1;
}

void DatagramSocket::close()
{
    if (handle != -1)
        closesocket(native(handle));
    handle = -1;
}

uint16_t DatagramSocket::localPort() const
{
    sockaddr_in record{};
    int length = sizeof record;
    if (handle == -1 || getsockname(native(handle), reinterpret_cast<sockaddr*>(&record), &length) != 0)
        return 0;
    return ntohs(record.sin_port);
}

int32_t DatagramSocket::sendTo(uint32_t address, uint16_t port, const void* data, int32_t length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return -1;
    sockaddr_in record = ipv4Record(address, port);
    int sent = sendto(native(handle), static_cast<const char*>(data), length, 0,
                      reinterpret_cast<sockaddr*>(&record), sizeof record);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int32_t DatagramSocket::receiveFrom(void* buffer, int32_t capacity, uint32_t* address, uint16_t* port)
{
    sockaddr_in record{};
    int received = SOCKET_ERROR;
    if (capacity >= 0 && (buffer != nullptr || capacity == 0)) {
        int recordLength = sizeof record;
        received = recvfrom(native(handle), static_cast<char*>(buffer), capacity, 0,
                            reinterpret_cast<sockaddr*>(&record), &recordLength);
        // A datagram longer than the buffer arrives cut, as on POSIX; Windows
        // reports the cut as an error although it filled the buffer.
        if (received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE)
            received = capacity;
    }
    if (received == SOCKET_ERROR)
        record = sockaddr_in{};
    if (address != nullptr)
        *address = record.sin_addr.s_addr;
    if (port != nullptr)
        *port = ntohs(record.sin_port);
    return received == SOCKET_ERROR ? -1 : received;
}

// Windows has no batched datagram calls: one call per datagram, until the
// queue is empty (WSAEWOULDBLOCK) or the batch full.
int32_t DatagramSocket::receiveBatch(uint8_t* buffers, int32_t capacity, Datagram* batch, int32_t count)
{
    int32_t taken = 0;
    while (buffers != nullptr && capacity >= 0 && taken < count) {
        uint8_t* slot = buffers + size_t(taken) * size_t(capacity);
        Datagram& d = batch[taken];
        d.data = slot;
        d.length = receiveFrom(slot, capacity, &d.address, &d.port);
        if (d.length < 0)
            break;
        ++taken;
    }
    return taken;
}

int32_t DatagramSocket::sendBatch(const Datagram* batch, int32_t count)
{
    int32_t sent = 0;
    for (int32_t i = 0; i < count; ++i)
        sent += sendTo(batch[i].address, batch[i].port, batch[i].data, batch[i].length) >= 0 ? 1 : 0;
    return sent;
}

bool DatagramSocket::setReceiveBuffer(int32_t bytes)
{
    return setsockopt(native(handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes)
           == 0;
}

// WSAPoll waits on sockets only, so the wake-up is a socket on loopback
// that is connected to itself: a signal is a byte sent there.
WakeSignal::WakeSignal()
{
    SOCKET socket = openBound(htonl(INADDR_LOOPBACK), 0);
    sockaddr_in self{};
    int length = sizeof self;
    if (socket != INVALID_SOCKET
        && (getsockname(socket, reinterpret_cast<sockaddr*>(&self), &length) != 0
            || connect(socket, reinterpret_cast<sockaddr*>(&self), length) != 0)) {
        closesocket(socket);
        socket = INVALID_SOCKET;
    }
    handle = static_cast<intptr_t>(socket);
}

WakeSignal::~WakeSignal()
{
    if (handle != -1)
        closesocket(native(handle));
}

// A send fails only when the socket's buffer is full of earlier signals.
void WakeSignal::signal()
{
    if (handle != -1)
        send(native(handle), "", 1, 0);
}

void WakeSignal::clear()
{
    char taken[16];
    while (handle != -1 && recv(native(handle), taken, sizeof taken, 0) != SOCKET_ERROR) {
    }
}

// WSAPoll rather than select: an fd_set holds 64 sockets unless rebuilt,
// and a load generator plays more clients than that.
WaitOutcome waitForDatagrams(const DatagramSocket* sockets, int32_t count, WakeSignal* wake, uint32_t timeoutMs,
                             uint8_t* ready)
{
    if (count < 0)
        return WaitOutcome::failed;
    bool watchWake = wake != nullptr && wake->nativeHandle() != -1;
    std::vector<WSAPOLLFD> watched(size_t(count) + (watchWake ? 1 : 0));
    for (int32_t i = 0; i < count; ++i) {
        if (!sockets[i].isOpen())
            return WaitOutcome::failed;
        watched[i] = WSAPOLLFD{native(sockets[i].nativeHandle()), POLLRDNORM, 0};
    }
    if (watchWake)
        watched.back() = WSAPOLLFD{native(wake->nativeHandle()), POLLRDNORM, 0};
    if (watched.empty()) {
        Sleep(timeoutMs);
        return WaitOutcome::timedOut;
    }
    INT timeout = timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<INT>(timeoutMs);
    int found = WSAPoll(watched.data(), static_cast<ULONG>(watched.size()), timeout);
    bool anyDatagrams = false;
    for (int32_t i = 0; i < count; ++i) {
        if ((watched[i].revents & POLLNVAL) != 0)
            found = SOCKET_ERROR;
        anyDatagrams = anyDatagrams || watched[i].revents != 0;
        if (ready != nullptr)
            ready[i] = watched[i].revents != 0 ? 1 : 0;
    }
    if (found == SOCKET_ERROR)
        return WaitOutcome::failed;
    if (anyDatagrams)
        return WaitOutcome::datagrams;
    if (!watchWake || watched.back().revents == 0)
        return WaitOutcome::timedOut;
    wake->clear();
    return WaitOutcome::woken;
}

}  // namespace platform
