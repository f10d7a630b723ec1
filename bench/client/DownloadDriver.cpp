// Brings a list of packages into a cache folder through DownloadQueue, as
// the sync tool does, so that download-bench.py can time it against other
// clients. Exit status 0 when every package arrived whole.
#include "client/DownloadQueue.h"
#include "platform/UrlReader.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Outcomes in the order they finish; false when one failed or none came
// for a minute.
bool takeAll(DownloadQueue& queue, size_t count)
{
    bool allOk = true;
    size_t index = 0;
    DownloadOutcome outcome;
    size_t taken = 0;
    while (queue.next(60000, index, outcome)) {
        ++taken;
        if (!outcome.ok) {
            std::fprintf(stderr, "package %zu: %s\n", index, outcome.error.c_str());
            allOk = false;
        }
    }
    return allOk && taken == count;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s JOBS SIZE CACHE_FOLDER URL...  (each package SIZE bytes)\n", argv[0]);
        return 2;
    }
    unsigned jobs = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    uint64_t size = std::strtoull(argv[2], nullptr, 10);
    std::string folder = argv[3];
    platform::InternetSession* session = platform::openInternetSession("Kitsync bench");
    if (session == nullptr) {
        std::fprintf(stderr, "no internet session\n");
        return 1;
    }
    bool ok = false;
    {
        DownloadQueue queue(session, jobs);
        for (int i = 4; i < argc; ++i)
            queue.add(DownloadJob{argv[i], size, folder + "/" + cacheFileName(argv[i])});
        queue.start();
        ok = takeAll(queue, static_cast<size_t>(argc - 4));
    }
    platform::closeInternetSession(session);
    return ok ? 0 : 1;
}
