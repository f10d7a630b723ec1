#include "platform/CacheFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool isFolder(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

// A relative XDG_CACHE_HOME is invalid by its own rules and is ignored.
std::string defaultCacheFolder()
{
    std::string xdg = environmentValue("XDG_CACHE_HOME");
    if (!xdg.empty() && xdg[0] == '/')
        return xdg + "/kitsync";
    std::string home = environmentValue("HOME");
    if (home.empty())
        return std::string();
    return home + "/.cache/kitsync";
}

// Another process may make the same folder at the same moment; a folder
// that turns up meanwhile is as good as one made here.
bool createFolderPath(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string upper = path.substr(0, slash);
        if (mkdir(upper.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    if (!path.empty() && mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        return false;
    return isFolder(path);
}

bool sizeOfFile(const std::string& path, uint64_t* size)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool AppendingFile::open(const std::string& path, bool keep)
{
    close();
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (keep ? 0 : O_TRUNC);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0)
        return false;
    handle = fd;
    return true;
}

bool AppendingFile::write(const void* bytes, size_t size)
{
    if (handle < 0)
        return false;
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(handle), next, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        next += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool AppendingFile::close()
{
    if (handle < 0)
        return true;
    int fd = static_cast<int>(handle);
    handle = -1;
    return ::close(fd) == 0;
}

}  // namespace platform
