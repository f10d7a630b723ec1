#include "FakeCatalogueServer.h"

#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/SocketWait.h"

namespace {

uint16_t u16At(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void putLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

FakeCatalogueServer::FakeCatalogueServer(FakeServerSetup setup) : setup(std::move(setup))
{
    socket = platform::openSocket(platform::SocketKind::datagram);
    platform::bindSocket(socket, platform::ipv4Address(127, 0, 0, 1), 0);
    boundPort = platform::localPort(socket);
    thread = std::thread([this] { run(); });
}

FakeCatalogueServer::~FakeCatalogueServer()
{
    stopping = true;
    thread.join();
    platform::closeSocket(socket);
}

uint32_t FakeCatalogueServer::queries() const
{
    std::lock_guard<std::mutex> hold(statsLock);
    return queryCount;
}

uint32_t FakeCatalogueServer::chunkRequests() const
{
    std::lock_guard<std::mutex> hold(statsLock);
    return chunkRequestCount;
}

std::map<uint16_t, uint32_t> FakeCatalogueServer::resendRequests() const
{
    std::lock_guard<std::mutex> hold(statsLock);
    return resendCounts;
}

void FakeCatalogueServer::run()
{
    std::vector<uint8_t> buffer(65536);
    uint32_t lastPass = platform::tickCount();
    while (!stopping) {
        if (platform::waitUntilReadable(socket, setup.sendDelayMs) == platform::SocketWait::readable) {
            uint32_t address = 0;
            uint16_t port = 0;
            int32_t size = platform::receiveFrom(socket, buffer.data(), 65536, &address, &port);
            if (size >= 4)
                handle(buffer.data(), size, address, port);
        }
        if (platform::tickCount() - lastPass >= setup.sendDelayMs) {
            lastPass = platform::tickCount();
            pump();
        }
    }
}

void FakeCatalogueServer::handle(const uint8_t* datagram, int32_t size, uint32_t address, uint16_t port)
{
    uint16_t command = u16At(datagram + 2);
    std::lock_guard<std::mutex> hold(statsLock);
    if (command == 0 && size > 4 && datagram[size - 1] == 0) {
        ++queryCount;
        if (!setup.answerQueries)
            return;
        std::string given(reinterpret_cast<const char*>(datagram + 4));
        std::vector<uint8_t> reply;
        if (!setup.password.empty() && given != setup.password) {
            putLe(reply, 0xFFFF8001u, 4);
        } else {
            putLe(reply, 0x8000, 2);
            putLe(reply, setup.chunks.size(), 2);
            putLe(reply, setup.id, 8);
            putLe(reply, setup.stateAgeMs, 4);
            putLe(reply, setup.gameState, 2);
        }
        platform::sendTo(socket, address, port, reply.data(), static_cast<int32_t>(reply.size()));
    } else if (command == 1 && size == 4) {
        ++chunkRequestCount;
        if (++chunkRequestsHeard > setup.ignoreChunkRequests)
            queueAll(address, port);
    } else if (command == 2 && size == 6 && u16At(datagram + 4) < setup.chunks.size()) {
        uint16_t index = u16At(datagram + 4);
        ++resendCounts[index];
        clientFor(address, port).queue.push_back(index);
    }
}

FakeCatalogueServer::Client& FakeCatalogueServer::clientFor(uint32_t address, uint16_t port)
{
    for (Client& known : clients) {
        if (known.address == address && known.port == port)
            return known;
    }
    clients.push_back(Client{address, port, {}});
    return clients.back();
}

void FakeCatalogueServer::queueAll(uint32_t address, uint16_t port)
{
    Client& client = clientFor(address, port);
    for (size_t i = 0; i < setup.chunks.size(); ++i)
        client.queue.push_back(static_cast<uint16_t>(i));
}

std::vector<uint8_t> FakeCatalogueServer::transmitted(uint16_t index)
{
    std::vector<uint8_t> datagram = setup.chunks[index];
    bool first = ++timesSent[index] == 1;
    if (first && setup.dropFirst.count(index) != 0)
        return {};
    if (first && setup.corruptFirst.count(index) != 0)
        datagram[2] ^= 0x5A;
    return datagram;
}

void FakeCatalogueServer::pump()
{
    for (size_t i = clients.size(); i-- > 0;) {
        Client& client = clients[i];
        if (!client.queue.empty() && datagramsSent < setup.sendAtMost) {
            ++datagramsSent;
            std::vector<uint8_t> datagram = transmitted(client.queue.front());
            client.queue.erase(client.queue.begin());
            if (!datagram.empty())
                platform::sendTo(socket, client.address, client.port, datagram.data(),
                                 static_cast<int32_t>(datagram.size()));
        }
        if (client.queue.empty())
            clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    }
}
