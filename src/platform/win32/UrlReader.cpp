#include "platform/UrlReader.h"

#include "platform/win32/Win32.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <wininet.h>

namespace platform {

struct InternetSession {
    HINTERNET root = nullptr;
    uint32_t receiveTimeout = 60000;
};

namespace {

// A fresh copy from the origin, passive FTP, bytes exactly as stored.
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PASSIVE | INTERNET_FLAG_TRANSFER_BINARY;

// RELOAD only bypasses this machine's cache; these ask proxies on the way
// for a fresh copy as well.
const char kNoCacheHeaders[] = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";

bool startsWithNoCase(const char* text, const char* prefix)
{
    return _strnicmp(text, prefix, std::strlen(prefix)) == 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isDriveStart(const char* text)
{
    char letter = static_cast<char>(text[0] | 0x20);
    return letter >= 'a' && letter <= 'z' && (text[1] == ':' || text[1] == '|');
}

// The local path of a file: URL: "file:///C:/p", "file://localhost/C:/p",
// "file:/C:/p", "file://C:/p" or "file:C:/p", percent escapes decoded, and
// "file://server/share/p" as the UNC path \\server\share\p. False for a bad
// escape or an escaped NUL.
bool filePathOf(const char* url, std::string* path)
{
    const char* rest = url + 5;  // past "file:"
    path->clear();
    if (std::strncmp(rest, "//", 2) == 0) {
        rest += 2;
        if (!isDriveStart(rest)) {
            const char* slash = std::strchr(rest, '/');
            if (slash == nullptr)
                return false;
            size_t hostLength = static_cast<size_t>(slash - rest);
            bool local = hostLength == 0 || (hostLength == 9 && _strnicmp(rest, "localhost", 9) == 0);
            if (!local)
                path->assign("\\\\").append(rest, hostLength);
            rest = slash;
        }
    }
    if (path->empty() && rest[0] == '/' && isDriveStart(rest + 1))
        ++rest;
    for (; *rest != '\0' && *rest != '?' && *rest != '#'; ++rest) {
        if (*rest != '%') {
            *path += *rest == '/' ? '\\' : *rest;
            continue;
        }
        int high = hexValue(rest[1]);
        int low = high < 0 ? -1 : hexValue(rest[2]);
        if (low < 0 || (high == 0 && low == 0))
            return false;
        *path += static_cast<char>(high * 16 + low);
        rest += 2;
    }
    if (path->size() >= 2 && (*path)[1] == '|')
        (*path)[1] = ':';
    return !path->empty();
}

class FileUrlReader final : public UrlReader {
public:
    static std::unique_ptr<UrlReader> open(const char* url)
    {
        std::string path;
        if (!filePathOf(url, &path))
            return nullptr;
        // Without backup semantics a folder cannot be opened, as wanted.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return nullptr;
        LARGE_INTEGER size{};
        if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
            CloseHandle(file);
            return nullptr;
        }
        return std::unique_ptr<UrlReader>(new FileUrlReader(file, static_cast<uint64_t>(size.QuadPart)));
    }

    ~FileUrlReader() override { CloseHandle(file); }

    bool size(uint64_t* total) const override
    {
        *total = fileSize;
        return true;
    }

    int httpStatus() const override { return 0; }

    bool read(void* buffer, uint32_t capacity, uint32_t* bytesRead) override
    {
        DWORD n = 0;
        BOOL ok = ReadFile(file, buffer, capacity, &n, nullptr);
        *bytesRead = ok ? n : 0;
        if (!ok)
            return false;
        delivered += n;
        // A file changed under the reader is as broken as a cut connection.
        return n > 0 || delivered == fileSize;
    }

private:
    FileUrlReader(HANDLE file, uint64_t fileSize) : file(file), fileSize(fileSize) {}

    HANDLE file;
    uint64_t fileSize;
    uint64_t delivered = 0;
};

class InternetUrlReader final : public UrlReader {
public:
    explicit InternetUrlReader(HINTERNET handle) : handle(handle)
    {
        hasTotal = probeSize(&total);
        DWORD code = 0;
        DWORD length = sizeof code;
        if (HttpQueryInfoA(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length, nullptr))
            status = static_cast<int>(code);
    }

    ~InternetUrlReader() override { InternetCloseHandle(handle); }

    bool size(uint64_t* total) const override
    {
        if (hasTotal)
            *total = this->total;
        return hasTotal;
    }

    int httpStatus() const override { return status; }

    bool read(void* buffer, uint32_t capacity, uint32_t* bytesRead) override
    {
        *bytesRead = 0;
        // InternetReadFile waits until it can fill the whole request; asking
        // what has arrived first hands over a slow server's bytes at once.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(handle, &available, 0, 0))
            return false;
        DWORD n = 0;
        if (available > 0) {
            DWORD wanted = available < capacity ? available : capacity;
            if (!InternetReadFile(handle, buffer, wanted, &n))
                return false;
        }
        *bytesRead = n;
        delivered += n;
        // WinINet reports a connection closed early as a plain end of data.
        return n > 0 || !hasTotal || delivered == total;
    }

private:
    // The size probe moves the resource's pointer to its end and back.
    // Where the handle cannot seek (no cache file behind it) the server's
    // Content-Length header still tells the size.
    bool probeSize(uint64_t* size)
    {
        DWORD end = InternetSetFilePointer(handle, 0, nullptr, FILE_END, 0);
        if (end != INVALID_SET_FILE_POINTER) {
            InternetSetFilePointer(handle, 0, nullptr, FILE_BEGIN, 0);
            *size = end;
            return true;
        }
        char text[32] = {};
        DWORD length = sizeof text - 1;
        if (!HttpQueryInfoA(handle, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr))
            return false;
        char* stop = nullptr;
        unsigned long long value = std::strtoull(text, &stop, 10);
        if (stop == text || *stop != '\0')
            return false;
        *size = value;
        return true;
    }

    HINTERNET handle;
    bool hasTotal = false;
    uint64_t total = 0;
    uint64_t delivered = 0;
    int status = 0;
};

void applyTimeouts(HINTERNET root, DWORD milliseconds)
{
    InternetSetOptionA(root, INTERNET_OPTION_CONNECT_TIMEOUT, &milliseconds, sizeof milliseconds);
    InternetSetOptionA(root, INTERNET_OPTION_SEND_TIMEOUT, &milliseconds, sizeof milliseconds);
    InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &milliseconds, sizeof milliseconds);
    InternetSetOptionA(root, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &milliseconds, sizeof milliseconds);
}

}  // namespace

InternetSession* openInternetSession(const char* agentName)
{
    if (agentName == nullptr)
        return nullptr;
    HINTERNET root = InternetOpenA(agentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (root == nullptr)
        return nullptr;
    auto* session = new InternetSession;
    session->root = root;
    applyTimeouts(root, session->receiveTimeout);
    return session;
}

void closeInternetSession(InternetSession* session)
{
    if (session == nullptr)
        return;
    InternetCloseHandle(session->root);
    delete session;
}

void setReceiveTimeout(InternetSession* session, uint32_t milliseconds)
{
    if (session == nullptr)
        return;
    session->receiveTimeout = milliseconds;
    applyTimeouts(session->root, milliseconds);
}

std::unique_ptr<UrlReader> openUrl(InternetSession* session, const char* url)
{
    if (session == nullptr || url == nullptr)
        return nullptr;
    if (startsWithNoCase(url, "file:"))
        return FileUrlReader::open(url);
    bool supported = startsWithNoCase(url, "http://") || startsWithNoCase(url, "https://") || startsWithNoCase(url, "ftp://");
    if (!supported)
        return nullptr;
    HINTERNET handle = InternetOpenUrlA(session->root, url, kNoCacheHeaders, static_cast<DWORD>(-1), kOpenFlags, 0);
    if (handle == nullptr)
        return nullptr;
    // Child handles inherit the root's time-outs; some WinINet versions
    // read them from the request's own connection only, so say it again.
    applyTimeouts(handle, session->receiveTimeout);
    return std::unique_ptr<UrlReader>(new InternetUrlReader(handle));
}

}  // namespace platform
