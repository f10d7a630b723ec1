#include "server/BrowserResolver.h"

#include "platform/HostResolver.h"
#include "platform/NativeEvent.h"
#include "platform/WaitResult.h"

BrowserResolver::BrowserResolver(const RefString& name, Lookup lookup, uint32_t refreshMs)
    : name(name), lookup(lookup), refreshMs(refreshMs), address(platform::noAddress)
{
}

BrowserResolver::~BrowserResolver()
{
    requestStop();
    wait(platform::infiniteTimeout);
}

void BrowserResolver::resolveNow()
{
    uint32_t found = lookup(name.c_str());
    if (found != platform::noAddress)
        address.store(found);
}

void BrowserResolver::refreshInBackground()
{
    start();
}

void BrowserResolver::run()
{
    for (;;) {
        platform::waitForEvents(&wakeEvent.handle, 1, refreshMs);  // requestStop sets it
        if (stopRequested.load())
            return;
        resolveNow();
    }
}
