// The server program on a slow disk: every fsync waits the milliseconds
// given as the first argument before it starts, so each save stays open
// long enough for a test to end the program inside it. Linked with
// --wrap=fsync, which sends the platform layer's calls here. The remaining
// arguments are the server's own.
#include "platform/Clock.h"
#include "server/AddonServer.h"
#include "server/ServerStartup.h"
#include "settings/Settings.h"

#include <cstdio>
#include <cstdlib>

AddonServer addonServer;

namespace {
uint32_t syncPause = 0;
}

extern "C" int __real_fsync(int fd);

extern "C" int __wrap_fsync(int fd)
{
    platform::sleepMilliseconds(syncPause);
    return __real_fsync(fd);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MILLISECONDS [server arguments]\n", argv[0]);
        return 2;
    }
    syncPause = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    argv[1] = argv[0];
    return runServer(argc - 1, argv + 1, addonServer, settings);
}
