#include "platform/UdpSocket.h"

#include "platform/posix/SocketRegistry.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

}  // namespace

SocketHandle openSocket(SocketKind kind)
{
    int type = kind == SocketKind::stream ? SOCK_STREAM : SOCK_DGRAM;
    int handle = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    return handle < 0 ? invalidSocket : handle;
}

int32_t bindSocket(SocketHandle socket, uint32_t address, uint16_t port)
{
    sockaddr_in record = ipv4Record(address, port);
    return bind(socket, reinterpret_cast<sockaddr*>(&record), sizeof record) == 0 ? 0 : -1;
}

int32_t sendTo(SocketHandle socket, uint32_t address, uint16_t port, const void* data, int32_t length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return -1;
    sockaddr_in record = ipv4Record(address, port);
    ssize_t sent;
    do {
        sent = sendto(socket, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                      reinterpret_cast<sockaddr*>(&record), sizeof record);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 && wouldBlock(errno))
        registry::arm(socket, networkWrite);
    return sent < 0 ? -1 : static_cast<int32_t>(sent);
}

int32_t receiveFrom(SocketHandle socket, void* buffer, int32_t capacity, uint32_t* address, uint16_t* port)
{
    sockaddr_in record{};
    socklen_t recordLength = sizeof record;
    ssize_t received = -1;
    if (capacity >= 0 && (buffer != nullptr || capacity == 0)) {
        do {
            recordLength = sizeof record;
            received = recvfrom(socket, buffer, static_cast<size_t>(capacity), 0,
                                reinterpret_cast<sockaddr*>(&record), &recordLength);
        } while (received < 0 && errno == EINTR);
    }
    registry::arm(socket, networkRead);
    if (received < 0)
        record = sockaddr_in{};
    if (address != nullptr)
        *address = record.sin_addr.s_addr;
    if (port != nullptr)
        *port = ntohs(record.sin_port);
    return received < 0 ? -1 : static_cast<int32_t>(received);
}

int32_t closeSocket(SocketHandle socket)
{
    if (socket < 0)
        return -1;
    registry::untieSocket(socket);
    return close(socket) == 0 ? 0 : -1;
}

uint16_t localPort(SocketHandle socket)
{
    sockaddr_in record{};
    socklen_t length = sizeof record;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&record), &length) != 0 || record.sin_family != AF_INET)
        return 0;
    return ntohs(record.sin_port);
}

bool isStreamSocket(SocketHandle socket)
{
    int type = 0;
    socklen_t length = sizeof type;
    return getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

}  // namespace platform
