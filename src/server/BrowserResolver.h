#pragma once

#include "concurrency/Thread.h"
#include "foundation/RefString.h"

#include <atomic>
#include <cstdint>

// The browser server's address, looked up away from the serving thread:
// a lookup may block for the resolver's whole time-out, and the serving
// thread must keep every client's chunks on time meanwhile. The last
// address a lookup gave is kept when a later one fails.
class BrowserResolver : private Thread {
public:
    // A dotted address or a resolved name, or platform::noAddress.
    using Lookup = uint32_t (*)(const char* name);

    BrowserResolver(const RefString& name, Lookup lookup, uint32_t refreshMs);
    // Stops the refreshing and waits for it, which lasts until a lookup
    // in progress returns.
    ~BrowserResolver() override;

    // One lookup on the caller's thread.
    void resolveNow();
    // Looks the name up again every refreshMs on a thread of its own.
    void refreshInBackground();
    // platform::noAddress until a lookup gave an address. Any thread.
    uint32_t lastAddress() const { return address.load(); }

private:
    void run() override;

    const RefString name;
    const Lookup lookup;
    const uint32_t refreshMs;
    std::atomic<uint32_t> address;
};
