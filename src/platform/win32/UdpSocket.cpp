#include "platform/UdpSocket.h"

#include "platform/win32/Win32.h"

#include <climits>
#include <mswsock.h>

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

// Without this a datagram socket that sent to a closed port fails its next
// receive with WSAECONNRESET (from the ICMP answer), which no POSIX
// unconnected socket does; the server would drop a good datagram for it.
void ignorePortUnreachable(SOCKET socket)
{
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
}

}  // namespace

SocketHandle openSocket(SocketKind kind)
{
    if (!win32::ensureSocketLayer())
        return invalidSocket;
    bool stream = kind == SocketKind::stream;
    SOCKET socket = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (socket == INVALID_SOCKET)
        return invalidSocket;
    if (socket > static_cast<SOCKET>(INT32_MAX)) {
        closesocket(socket);
        return invalidSocket;
    }
    // Child processes must not keep the server's port open.
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    // No other program may take over the port with SO_REUSEADDR, which
    // Windows would otherwise allow; a busy port must fail the bind.
    BOOL exclusive = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    if (!stream)
        ignorePortUnreachable(socket);
    return static_cast<SocketHandle>(socket);
}

int32_t bindSocket(SocketHandle socket, uint32_t address, uint16_t port)
{
    sockaddr_in record = ipv4Record(address, port);
    return bind(win32::toSocket(socket), reinterpret_cast<sockaddr*>(&record), sizeof record) == 0 ? 0 : -1;
}

int32_t sendTo(SocketHandle socket, uint32_t address, uint16_t port, const void* data, int32_t length)
{
    if (length < 0 || (data == nullptr && length > 0))
        return -1;
    sockaddr_in record = ipv4Record(address, port);
    int sent = sendto(win32::toSocket(socket), static_cast<const char*>(data), length, 0,
                      reinterpret_cast<sockaddr*>(&record), sizeof record);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int32_t receiveFrom(SocketHandle socket, void* buffer, int32_t capacity, uint32_t* address, uint16_t* port)
{
    sockaddr_in record{};
    int received = SOCKET_ERROR;
    if (capacity >= 0 && (buffer != nullptr || capacity == 0)) {
        int recordLength = sizeof record;
        received = recvfrom(win32::toSocket(socket), static_cast<char*>(buffer), capacity, 0,
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

int32_t closeSocket(SocketHandle socket)
{
    if (socket < 0)
        return -1;
    return win32::closeTiedSocket(win32::toSocket(socket)) == 0 ? 0 : -1;
}

uint16_t localPort(SocketHandle socket)
{
    if (socket < 0)
        return 0;
    sockaddr_in record{};
    int length = sizeof record;
    if (getsockname(win32::toSocket(socket), reinterpret_cast<sockaddr*>(&record), &length) != 0
        || record.sin_family != AF_INET)
        return 0;
    return ntohs(record.sin_port);
}

bool isStreamSocket(SocketHandle socket)
{
    if (socket < 0)
        return false;
    int type = 0;
    int length = sizeof type;
    return getsockopt(win32::toSocket(socket), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0
        && type == SOCK_STREAM;
}

}  // namespace platform
