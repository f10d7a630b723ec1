// Fetches one URL into one file the way the catalogue build does, so that
// run.sh can time it against another client. Exit status 0 on success.
#include "catalogue/Download.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
        return 2;
    }
    DownloadSession session;
    if (!session.open()) {
        std::fprintf(stderr, "no internet session\n");
        return 1;
    }
    return session.downloadPackage(argv[1], argv[2]) ? 0 : 1;
}
