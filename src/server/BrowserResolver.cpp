#include "server/BrowserResolver.h"

#include "platform/HostResolver.h"

#include <chrono>

BrowserResolver::BrowserResolver(std::string name, Lookup lookup, uint32_t refreshMs)
    : name(std::move(name)), lookup(lookup), refreshMs(refreshMs), address(platform::noAddress)
{
}

BrowserResolver::~BrowserResolver()
{
    {
        std::lock_guard<std::mutex> hold(stopLock);
        stopping = true;
    }
    stopAsked.notify_all();
    if (thread.joinable())
        thread.join();
}

void BrowserResolver::resolveNow()
{
    uint32_t found = lookup(name.c_str());
    if (found != platform::noAddress)
        address.store(found);
}

void BrowserResolver::refreshInBackground()
{
    if (!thread.joinable())
        thread = std::thread(&BrowserResolver::refreshUntilStopped, this);
}

void BrowserResolver::refreshUntilStopped()
{
    std::unique_lock<std::mutex> hold(stopLock);
    while (!stopAsked.wait_for(hold, std::chrono::milliseconds(refreshMs), [this] { return stopping; })) {
        hold.unlock();
        resolveNow();
        hold.lock();
    }
}
