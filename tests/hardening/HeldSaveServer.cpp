// The server program with saves that a test can hold: a save flushes its
// temporary file (the target's name, ".tmp", process and counter) to the
// disk, and that flush waits for as long as a file of the target's name
// exists in the folder given as the first argument. Linked with
// --wrap=fsync, which sends the platform layer's calls here. The remaining
// arguments are the server's own.
#include "platform/Clock.h"
#include "server/ServerStartup.h"
#include "settings/Settings.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {
std::filesystem::path holds;
}

extern "C" int __real_fsync(int fd);

extern "C" int __wrap_fsync(int fd)
{
    std::error_code error;
    std::string name = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).filename().string();
    size_t mark = name.rfind(".tmp");
    while (mark != std::string::npos && std::filesystem::exists(holds / name.substr(0, mark), error))
        platform::sleepMilliseconds(2);
    return __real_fsync(fd);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HOLDS-FOLDER [server arguments]\n", argv[0]);
        return 2;
    }
    holds = argv[1];
    argv[1] = argv[0];
    Settings settings;
    return runServer(argc - 1, argv + 1, settings);
}
