#include "foundation/OutOfMemory.h"

#include <cstdio>
#include <cstdlib>

void outOfMemory(const char* what)
{
    std::fprintf(stderr, "Fatal: out of memory (%s)\n", what);
    std::abort();
}
