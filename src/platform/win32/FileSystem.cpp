#include "platform/FileSystem.h"

#include "platform/win32/Win32.h"

#include <algorithm>
#include <atomic>
#include <string>

namespace platform {

namespace {

std::atomic<int64_t> writeBudget{-1};

// Creates a new temporary file next to path. CREATE_NEW keeps two writers
// from sharing one temporary file.
HANDLE createTemporary(const std::string& path, std::string& temporary)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
        HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes all bytes; WriteFile takes at most 32 bits of length at a time.
// before: what the file already holds, which the test seam's budget counts.
bool writeAll(HANDLE file, const uint8_t* bytes, size_t size, int64_t before = 0)
{
    int64_t budget = writeBudget.load();
    if (budget >= 0)
        budget = std::max<int64_t>(0, budget - before);
    size_t written = 0;
    while (written < size) {
        size_t step = std::min<size_t>(size - written, 1u << 30);
        if (budget >= 0) {
            if (static_cast<int64_t>(written) >= budget) {
                SetLastError(ERROR_DISK_FULL);
                return false;
            }
            step = std::min(step, static_cast<size_t>(budget - static_cast<int64_t>(written)));
        }
        DWORD done = 0;
        if (!WriteFile(file, bytes + written, static_cast<DWORD>(step), &done, nullptr) || done == 0)
            return false;
        written += done;
    }
    return true;
}

}  // namespace

// The data reaches the disk (FlushFileBuffers) before the rename, and the
// rename itself is written through, so after a crash the target holds the
// old bytes or the new ones, never a mixture.
bool writeFileAtomically(const char* path, const void* bytes, size_t size)
{
    std::string target(path);
    std::string temporary;
    HANDLE file = createTemporary(target, temporary);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = writeAll(file, static_cast<const uint8_t*>(bytes), size);
    ok = ok && FlushFileBuffers(file) != 0;
    ok = CloseHandle(file) != 0 && ok;
    ok = ok && MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

bool deleteFile(const char* path)
{
    return DeleteFileA(path) != 0;
}

PathKind pathKind(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::missing;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return PathKind::link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::folder : PathKind::file;
}

bool createFolder(const char* path)
{
    return CreateDirectoryA(path, nullptr) != 0;
}

bool removeFolder(const char* path)
{
    return RemoveDirectoryA(path) != 0;
}

// MoveFileEx replaces a symbolic link at `to` rather than its target.
bool renameReplacing(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

// CREATE_NEW fails on any existing name, a reparse point included.
bool NewFile::create(const char* path)
{
    close();
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    handle = reinterpret_cast<intptr_t>(file);
    written = 0;
    return file != INVALID_HANDLE_VALUE;
}

bool NewFile::write(const void* bytes, size_t size)
{
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    if (!isOpen() || !writeAll(file, static_cast<const uint8_t*>(bytes), size, written))
        return false;
    written += static_cast<int64_t>(size);
    return true;
}

bool NewFile::close()
{
    if (!isOpen())
        return true;
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    handle = kClosed;
    return CloseHandle(file) != 0;
}

void failWritesAfter(int64_t bytes)
{
    writeBudget.store(bytes);
}

}  // namespace platform
