#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// The browser server's address, looked up away from the serving thread:
// a lookup may block for the resolver's whole time-out, and the serving
// thread must keep every client's chunks on time meanwhile. The last
// address a lookup gave is kept when a later one fails.
class BrowserResolver {
public:
    // A dotted address or a resolved name, or platform::noAddress.
    using Lookup = uint32_t (*)(const char* name);

    BrowserResolver(std::string name, Lookup lookup, uint32_t refreshMs);
    // Stops the refreshing and waits for it, which lasts until a lookup
    // in progress returns.
    ~BrowserResolver();
    BrowserResolver(const BrowserResolver&) = delete;
    BrowserResolver& operator=(const BrowserResolver&) = delete;

    // One lookup on the caller's thread.
    void resolveNow();
    // Looks the name up again every refreshMs on a thread of its own.
    void refreshInBackground();
    // platform::noAddress until a lookup gave an address. Any thread.
    uint32_t lastAddress() const { return address.load(); }

private:
    void refreshUntilStopped();

    const std::string name;
    const Lookup lookup;
    const uint32_t refreshMs;
    std::atomic<uint32_t> address;
    std::mutex stopLock;
    std::condition_variable stopAsked;
    bool stopping = false;  // under stopLock
    std::thread thread;
};
