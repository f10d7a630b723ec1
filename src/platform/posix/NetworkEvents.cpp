#include "platform/NetworkEvents.h"

#include "platform/posix/SocketRegistry.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <unordered_map>

namespace platform {

namespace {

// Every tie between a socket and an event, both ways, under one lock: the
// socket calls arm events from whichever thread makes them, and the waits
// record readiness from the waiting thread.
std::mutex& registryLock()
{
    static std::mutex lock;
    return lock;
}

std::unordered_map<int, NativeEvent*>& eventOfSocket()
{
    static std::unordered_map<int, NativeEvent*> ties;
    return ties;
}

constexpr int readBit = 0;

bool isOpenDescriptor(int descriptor)
{
    return descriptor >= 0 && fcntl(descriptor, F_GETFD) != -1;
}

bool isStream(int socket)
{
    int type = 0;
    socklen_t length = sizeof type;
    return getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

// Windows Sockets numbers for the errors a datagram socket can meet; others
// pass as the system's own number.
int32_t windowsSocketsError(int error)
{
    switch (error) {
    case 0: return 0;
    case ECONNRESET: return 10054;
    case ECONNREFUSED: return 10061;  // an ICMP port-unreachable answer
    case EHOSTUNREACH: return 10065;
    case ENETUNREACH: return 10051;
    case ENETDOWN: return 10050;
    case EMSGSIZE: return 10040;
    case ETIMEDOUT: return 10060;
    case ENOBUFS: return 10055;
    default: return error;
    }
}

int takeSocketError(int socket)
{
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
    return error;
}

void untieLocked(NativeEvent* event)
{
    if (event->socket >= 0)
        eventOfSocket().erase(event->socket);
    event->socket = -1;
    event->mask = event->armed = event->recorded = 0;
    for (int32_t& code : event->errorCodes)
        code = 0;
    event->silenced = false;
}

short interestOf(const NativeEvent* event)
{
    short interest = 0;
    if (event->armed & networkRead)
        interest |= POLLIN;
    if (event->armed & networkWrite)
        interest |= POLLOUT;
    return interest;
}

// Turns poll's readiness into recorded events. An error is handed to the
// next read, as Windows Sockets does; a hang-up or a closed descriptor that
// records nothing silences the socket, so that a wait cannot spin on it.
uint32_t recordLocked(NativeEvent* event, short readiness)
{
    if (readiness & POLLNVAL) {
        event->silenced = true;
        return 0;
    }
    uint32_t seen = 0;
    if ((readiness & POLLERR) && (event->armed & networkRead)) {
        event->errorCodes[readBit] = windowsSocketsError(takeSocketError(event->socket));
        seen |= networkRead;
    } else if (readiness & POLLERR) {
        takeSocketError(event->socket);
    }
    if ((readiness & POLLIN) && (event->armed & networkRead))
        seen |= networkRead;
    if ((readiness & POLLOUT) && (event->armed & networkWrite))
        seen |= networkWrite;
    if ((readiness & POLLHUP) && seen == 0)
        event->silenced = true;
    event->armed &= ~seen;
    event->recorded |= seen;
    return seen;
}

void pollLocked(NativeEvent* event)
{
    short interest = interestOf(event);
    if (interest == 0 || event->silenced)
        return;
    pollfd probe{event->socket, interest, 0};
    if (poll(&probe, 1, 0) == 1)
        recordLocked(event, probe.revents);
}

}  // namespace

namespace registry {

bool watchOf(NativeEvent* event, SocketWatch* watch)
{
    std::lock_guard<std::mutex> guard(registryLock());
    if (event->socket < 0 || event->silenced)
        return false;
    watch->socket = event->socket;
    watch->interest = interestOf(event);
    return watch->interest != 0;
}

bool noteReadiness(NativeEvent* event, int socket, short readiness)
{
    std::lock_guard<std::mutex> guard(registryLock());
    if (event->socket != socket)
        return false;  // untied while the wait polled
    return recordLocked(event, readiness) != 0;
}

void arm(int socket, uint32_t events)
{
    std::lock_guard<std::mutex> guard(registryLock());
    auto tie = eventOfSocket().find(socket);
    if (tie != eventOfSocket().end())
        tie->second->armed |= events & tie->second->mask;
}

void untieSocket(int socket)
{
    std::lock_guard<std::mutex> guard(registryLock());
    auto tie = eventOfSocket().find(socket);
    if (tie != eventOfSocket().end())
        untieLocked(tie->second);
}

void untieEvent(NativeEvent* event)
{
    std::lock_guard<std::mutex> guard(registryLock());
    untieLocked(event);
}

}  // namespace registry

int32_t selectNetworkEvents(SocketHandle socket, EventHandle event, uint32_t mask)
{
    if (!isOpenDescriptor(socket) || (event == nullptr && mask != 0))
        return -1;
    int flags = fcntl(socket, F_GETFL);
    if (flags == -1 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) == -1)
        return -1;
    bool stream = isStream(socket);

    std::lock_guard<std::mutex> guard(registryLock());
    auto old = eventOfSocket().find(socket);
    if (old != eventOfSocket().end())
        untieLocked(old->second);
    if (mask == 0)
        return 0;
    untieLocked(event);
    event->socket = socket;
    event->mask = mask & allNetworkEvents;
    // Write is armed too: a fresh datagram socket reports it once.
    event->armed = stream ? 0 : event->mask;
    eventOfSocket()[socket] = event;
    return 0;
}

int32_t enumNetworkEvents(SocketHandle socket, NetworkEvents* record)
{
    if (record == nullptr)
        return -1;
    *record = NetworkEvents();
    std::lock_guard<std::mutex> guard(registryLock());
    auto tie = eventOfSocket().find(socket);
    // A tied socket is open: closing it unties it. Only an untied one costs
    // the system call that tells a closed descriptor from a quiet socket.
    if (tie == eventOfSocket().end())
        return isOpenDescriptor(socket) ? 0 : -1;
    NativeEvent* event = tie->second;
    pollLocked(event);
    record->events = event->recorded;
    for (int32_t bit = 0; bit < networkEventCount; ++bit) {
        record->errorCodes[bit] = event->errorCodes[bit];
        event->errorCodes[bit] = 0;
    }
    event->recorded = 0;
    return 0;
}

}  // namespace platform
