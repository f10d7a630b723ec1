#include "platform/CacheFiles.h"

#include "platform/win32/Win32.h"

#include <algorithm>

namespace platform {

namespace {

std::string environmentValue(const char* name)
{
    char value[MAX_PATH + 1] = {};
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

bool isFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Where the folders to make begin: past "C:\" or past "\\server\share\",
// which no one can create.
size_t firstCreatable(const std::string& path)
{
    if (path.size() >= 2 && path[1] == ':')
        return 3;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        size_t server = path.find_first_of("\\/", 2);
        size_t share = server == std::string::npos ? server : path.find_first_of("\\/", server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    return 1;
}

}  // namespace

std::string defaultCacheFolder()
{
    std::string local = environmentValue("LOCALAPPDATA");
    return local.empty() ? std::string() : local + "\\Kitsync";
}

// Another process may make the same folder at the same moment; a folder
// that turns up meanwhile is as good as one made here.
bool createFolderPath(const std::string& path)
{
    for (size_t at = firstCreatable(path); at < path.size(); ++at) {
        if (!isSeparator(path[at]))
            continue;
        std::string upper = path.substr(0, at);
        if (!CreateDirectoryA(upper.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    return isFolder(path);
}

bool sizeOfFile(const std::string& path, uint64_t* size)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool AppendingFile::open(const std::string& path, bool keep)
{
    close();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, keep ? OPEN_ALWAYS : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_END)) {
        CloseHandle(file);
        return false;
    }
    handle = reinterpret_cast<intptr_t>(file);
    return true;
}

// WriteFile takes at most 32 bits of length at a time.
bool AppendingFile::write(const void* bytes, size_t size)
{
    if (handle == -1)
        return false;
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        DWORD step = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(file, next, step, &done, nullptr) || done == 0)
            return false;
        next += done;
        size -= done;
    }
    return true;
}

bool AppendingFile::close()
{
    if (handle == -1)
        return true;
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    handle = -1;
    return CloseHandle(file) != 0;
}

}  // namespace platform
