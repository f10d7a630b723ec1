// The server program on a disk that fills up: every file it writes fails
// with "no space" once the byte budget given as the first argument is
// spent (-1: no limit). The remaining arguments are the server's own.
#include "platform/FileSystem.h"
#include "server/ServerStartup.h"
#include "settings/Settings.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s BYTES [server arguments]\n", argv[0]);
        return 2;
    }
    platform::failWritesAfter(std::strtoll(argv[1], nullptr, 10));
    argv[1] = argv[0];
    Settings settings;
    return runServer(argc - 1, argv + 1, settings);
}
