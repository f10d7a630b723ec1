#include "platform/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::atomic<int64_t> writeBudget{-1};

std::string folderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates a new temporary file next to path; -1 when none can be made.
// O_EXCL keeps two writers from sharing one temporary file.
int createTemporary(const std::string& path, std::string& temporary)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Writes all bytes, resuming after interruptions and short writes. before:
// what the file already holds, which the test seam's budget counts too.
bool writeAll(int fd, const uint8_t* bytes, size_t size, int64_t before = 0)
{
    int64_t budget = writeBudget.load();
    if (budget >= 0)
        budget = std::max<int64_t>(0, budget - before);
    size_t written = 0;
    while (written < size) {
        size_t step = size - written;
        if (budget >= 0) {
            if (static_cast<int64_t>(written) >= budget) {
                errno = ENOSPC;
                return false;
            }
            step = std::min(step, static_cast<size_t>(budget - static_cast<int64_t>(written)));
        }
        ssize_t n = write(fd, bytes + written, step);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

void syncFolder(const std::string& folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool writeFileAtomically(const char* path, const void* bytes, size_t size)
{
    std::string target(path);
    std::string temporary;
    int fd = createTemporary(target, temporary);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, static_cast<const uint8_t*>(bytes), size);
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return false;
    }
    syncFolder(folderOf(target));
    return true;
}

bool deleteFile(const char* path)
{
    return unlink(path) == 0;
}

PathKind pathKind(const char* path)
{
    struct stat facts {};
    if (lstat(path, &facts) != 0)
        return PathKind::missing;
    if (S_ISLNK(facts.st_mode))
        return PathKind::link;
    return S_ISDIR(facts.st_mode) ? PathKind::folder : PathKind::file;
}

bool createFolder(const char* path)
{
    return mkdir(path, 0777) == 0;
}

bool removeFolder(const char* path)
{
    return rmdir(path) == 0;
}

bool renameReplacing(const char* from, const char* to)
{
    return rename(from, to) == 0;
}

// O_EXCL fails on any existing name, links included, and O_NOFOLLOW says
// so twice for systems that read O_EXCL loosely.
bool NewFile::create(const char* path)
{
    close();
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    handle = fd;
    written = 0;
    return fd >= 0;
}

bool NewFile::write(const void* bytes, size_t size)
{
    if (!isOpen() || !writeAll(static_cast<int>(handle), static_cast<const uint8_t*>(bytes), size, written))
        return false;
    written += static_cast<int64_t>(size);
    return true;
}

bool NewFile::close()
{
    if (!isOpen())
        return true;
    int fd = static_cast<int>(handle);
    handle = kClosed;
    return ::close(fd) == 0;
}

void failWritesAfter(int64_t bytes)
{
    writeBudget.store(bytes);
}

}  // namespace platform
