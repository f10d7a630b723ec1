#include "platform/NetworkEvents.h"

#include "platform/win32/Win32.h"

#include <map>

namespace platform {

namespace {

// Every tie, by socket, under one lock: sockets and events are closed from
// whichever thread owns them.
class Ties {
public:
    Ties() { InitializeCriticalSection(&section); }
    ~Ties() = delete;  // lives until the process ends; threads may still use it

    void enter() { EnterCriticalSection(&section); }
    void leave() { LeaveCriticalSection(&section); }
    std::map<SOCKET, NativeEvent*> eventOfSocket;

private:
    CRITICAL_SECTION section;
};

Ties& ties()
{
    static Ties* shared = new Ties;
    return *shared;
}

// Cancelling the selection also clears the socket's recorded events, so an
// enumeration after an untie reports nothing stale. The event may already
// be signalled for them (Winsock sets it when the datagram arrives, not
// when someone waits); that signal belonged to the socket and goes too.
void untieLocked(NativeEvent* event)
{
    if (event->tiedSocket == INVALID_SOCKET)
        return;
    WSAEventSelect(event->tiedSocket, nullptr, 0);
    ties().eventOfSocket.erase(event->tiedSocket);
    event->tiedSocket = INVALID_SOCKET;
    ResetEvent(event->handle);
}

}  // namespace

namespace win32 {

// Under the tie lock: no new socket can reuse the handle's number before
// its old tie is gone, and no event can arrive after the reset.
int closeTiedSocket(SOCKET socket)
{
    ties().enter();
    int result = closesocket(socket);
    auto tie = ties().eventOfSocket.find(socket);
    if (tie != ties().eventOfSocket.end()) {
        tie->second->tiedSocket = INVALID_SOCKET;
        ResetEvent(tie->second->handle);
        ties().eventOfSocket.erase(tie);
    }
    ties().leave();
    return result;
}

void untieEvent(NativeEvent* event)
{
    ties().enter();
    untieLocked(event);
    ties().leave();
}

}  // namespace win32

int32_t selectNetworkEvents(SocketHandle socket, EventHandle event, uint32_t mask)
{
    if (socket == invalidSocket || (event == nullptr && mask != 0))
        return -1;
    SOCKET native = win32::toSocket(socket);
    ties().enter();
    auto old = ties().eventOfSocket.find(native);
    if (old != ties().eventOfSocket.end())
        untieLocked(old->second);
    if (mask != 0)
        untieLocked(event);
    int result = WSAEventSelect(native, mask != 0 ? event->handle : nullptr, static_cast<long>(mask & allNetworkEvents));
    if (result == 0 && mask != 0) {
        event->tiedSocket = native;
        ties().eventOfSocket[native] = event;
    }
    ties().leave();
    if (result != 0)
        return -1;
    // The selection already made the socket non-blocking; saying so again
    // keeps that true for an untie, whatever the socket layer does there.
    u_long nonBlocking = 1;
    ioctlsocket(native, FIONBIO, &nonBlocking);
    return 0;
}

int32_t enumNetworkEvents(SocketHandle socket, NetworkEvents* record)
{
    if (socket == invalidSocket || record == nullptr)
        return -1;
    *record = NetworkEvents();
    WSANETWORKEVENTS found{};
    if (WSAEnumNetworkEvents(win32::toSocket(socket), nullptr, &found) != 0)
        return -1;
    record->events = static_cast<uint32_t>(found.lNetworkEvents) & allNetworkEvents;
    for (int32_t bit = 0; bit < networkEventCount; ++bit)
        record->errorCodes[bit] = found.iErrorCode[bit];
    return 0;
}

}  // namespace platform
