#pragma once

#include <cstdint>

// Where the catalogue service's datagrams and console lines go: a socket
// and the log queue when serving, a record of them in a test. Both calls
// come on the thread that drives the service.
class ServiceOutput {
public:
    virtual ~ServiceOutput() = default;

    // The bytes are valid only during the call; a chunk's are the stored
    // chunk itself, never a copy.
    virtual void send(uint32_t address, uint16_t port, const uint8_t* data, int32_t length) = 0;

    // One console line (or several), ending with a line feed.
    virtual void log(const char* text) = 0;
};
