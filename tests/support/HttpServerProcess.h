#pragma once

#include "support/ChildProcess.h"

#include <cstdint>
#include <string>

// tests/support/http_server.py run as a child process for the lifetime of
// this object: serves the files of a folder on 127.0.0.1 and offers the
// fault routes listed at the top of that script. The server ends with this
// process even when a test crashes, so it never holds a test runner's pipes.
class HttpServerProcess {
public:
    // Starts the server on rootFolder and waits (up to 10 s) for its port.
    // Requests are logged to logFile when it is not empty.
    bool start(const std::string& rootFolder, const std::string& logFile = std::string());
    void stop() { process.stop(); }

    uint16_t port() const { return listeningPort; }
    // "http://127.0.0.1:<port>" followed by path, which begins with '/'.
    std::string url(const std::string& path) const;

    // Everything logged so far: per request its request line, its headers
    // and an empty line.
    std::string requestLog() const;

private:
    ChildProcess process;
    uint16_t listeningPort = 0;
    std::string logFile;
};
