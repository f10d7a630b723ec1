#pragma once

#include "platform/HostResolver.h"
#include "server/ServiceOutput.h"
#include "support/TestBytes.h"

#include <cstdint>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// One end of the service's traffic: a client, the game server, the
// browser server.
struct Peer {
    uint32_t address;
    uint16_t port;
};

// Keeps what the service sends and logs, in order, for a test to take.
class ServiceRecorder : public ServiceOutput {
public:
    struct Datagram {
        Peer to;
        Bytes bytes;
        const uint8_t* data;  // where the service's bytes were
    };

    void send(uint32_t address, uint16_t port, const uint8_t* data, int32_t length) override
    {
        sent.push_back(Datagram{Peer{address, port}, Bytes(data, data + length), data});
    }

    void log(const char* text) override { lines.emplace_back(text); }

    bool quiet(const Peer& peer) const { return find(peer) == sent.end(); }

    // The oldest datagram still kept for peer; call only when not quiet.
    const uint8_t* peekData(const Peer& peer) const { return find(peer)->data; }

    // The oldest datagram for peer, which leaves the record; empty when
    // there is none.
    Bytes take(const Peer& peer)
    {
        auto it = find(peer);
        if (it == sent.end())
            return Bytes();
        Bytes bytes = it->bytes;
        sent.erase(it);
        return bytes;
    }

    // Where peer's oldest datagram stands among all kept, or -1.
    int32_t positionOf(const Peer& peer) const
    {
        auto it = find(peer);
        return it == sent.end() ? -1 : int32_t(it - sent.begin());
    }

    Lines takeLog()
    {
        Lines taken;
        taken.swap(lines);
        return taken;
    }

    std::vector<Datagram> sent;
    Lines lines;

private:
    std::vector<Datagram>::const_iterator find(const Peer& peer) const
    {
        for (auto it = sent.begin(); it != sent.end(); ++it) {
            if (it->to.address == peer.address && it->to.port == peer.port)
                return it;
        }
        return sent.end();
    }
};
