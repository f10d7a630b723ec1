/* Preloaded into a server, plays a kernel with a lower net.core.rmem_max:
 * a receive buffer asked for is cut to KITSYNC_RMEM_MAX bytes (212992, a
 * stock Debian kernel's, when unset) before the kernel doubles it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/socket.h>

int setsockopt(int s, int level, int name, const void* value, socklen_t length)
{
    typedef int (*Real)(int, int, int, const void*, socklen_t);
    static Real real;
    const char* limitText = getenv("KITSYNC_RMEM_MAX");
    int limit = limitText != NULL ? atoi(limitText) : 212992;
    if (real == NULL)
        real = (Real)dlsym(RTLD_NEXT, "setsockopt");
    if (level == SOL_SOCKET && name == SO_RCVBUF && length == sizeof(int) && *(const int*)value > limit)
        value = &limit;
    return real(s, level, name, value, length);
}
