#include "platform/UrlReader.h"

#include "platform/common/UrlPath.h"
#include "platform/win32/Win32.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <wininet.h>

namespace platform {

namespace {

// Shared by several holders across threads; the last to let go frees it,
// and the destructor gives back whatever the object owns.
class Held {
public:
    explicit Held(int holders) : holders(holders) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    void acquire() { holders.fetch_add(1); }

    void release()
    {
        if (holders.fetch_sub(1) == 1)
            delete this;
    }

protected:
    virtual ~Held() = default;
    std::atomic<int> holders;
};

// The WinINet root handle, held by the session and by every courier that
// may still use it. A courier left behind by a time-out can be inside
// InternetOpenUrlA on the root, or hold a child of it, long after the
// session was closed; closing the root then would invalidate the child,
// and the courier's own close would hit a handle number that WinINet may
// already have given to someone else. The last holder closes it.
class SharedRoot final : public Held {
public:
    explicit SharedRoot(HINTERNET handle) : Held(1), handle(handle) {}

    const HINTERNET handle;

private:
    ~SharedRoot() override { InternetCloseHandle(handle); }
};

}  // namespace

struct InternetSession {
    SharedRoot* root = nullptr;
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
    if (!detail::appendUrlPath(rest, '\\', path))
        return false;
    if (path->size() >= 2 && (*path)[1] == '|')
        (*path)[1] = ':';
    return !path->empty();
}

// A file shorter than the offset is read whole, as a server that cannot
// grant the range would send it.
class FileUrlReader final : public UrlReader {
public:
    static std::unique_ptr<UrlReader> open(const char* url, uint64_t offset)
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
        uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
        bool granted = offset > 0 && offset <= fileSize;
        LARGE_INTEGER start{};
        start.QuadPart = static_cast<LONGLONG>(offset);
        if (granted && !SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
            CloseHandle(file);
            return nullptr;
        }
        return std::unique_ptr<UrlReader>(new FileUrlReader(file, granted ? fileSize - offset : fileSize, granted));
    }

    ~FileUrlReader() override { CloseHandle(file); }

    bool size(uint64_t* total) const override
    {
        *total = fileSize;
        return true;
    }

    bool rangeGranted() const override { return granted; }

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
    FileUrlReader(HANDLE file, uint64_t fileSize, bool granted) : file(file), fileSize(fileSize), granted(granted) {}

    HANDLE file;
    uint64_t fileSize;  // what is left to read from the start
    bool granted;
    uint64_t delivered = 0;
};

void applyTimeouts(HINTERNET handle, DWORD milliseconds)
{
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &milliseconds, sizeof milliseconds);
    InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &milliseconds, sizeof milliseconds);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &milliseconds, sizeof milliseconds);
    InternetSetOptionA(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &milliseconds, sizeof milliseconds);
}

// The size probe moves the resource's pointer to its end and back. Where
// the handle cannot seek (no cache file behind it) the server's
// Content-Length header still tells the size.
bool probeSize(HINTERNET handle, uint64_t* size)
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

// Whether the answer's "Content-Range: bytes N-M/T" begins at offset.
bool rangeStartsAt(HINTERNET handle, uint64_t offset)
{
    char text[96] = {};
    DWORD length = sizeof text - 1;
    if (!HttpQueryInfoA(handle, HTTP_QUERY_CONTENT_RANGE, text, &length, nullptr))
        return false;
    const char* at = text;
    while (*at == ' ')
        ++at;
    if (_strnicmp(at, "bytes", 5) != 0)
        return false;
    at += 5;
    while (*at == ' ')
        ++at;
    char* stop = nullptr;
    unsigned long long first = std::strtoull(at, &stop, 10);
    return stop != at && *stop == '-' && first == offset;
}

// The request's extra headers: no caching anywhere, and the range asked for.
std::string requestHeaders(uint64_t offset)
{
    std::string headers = kNoCacheHeaders;
    if (offset > 0)
        headers += "Range: bytes=" + std::to_string(offset) + "-\r\n";
    return headers;
}

// The WinINet calls that wait for the network run on a thread of this
// object's own, so that the reader can give up on a silent server after
// the receive time-out even where WinINet itself waits on (Wine's ignores
// its time-out options). Everything such a call touches belongs to the
// courier; once the reader has let go, the thread frees it after the call
// returns, whenever that is.
class Courier final : public Held {
public:
    static constexpr DWORD kBlockSize = 4096;

    static Courier* start(SharedRoot* root, const char* url, uint64_t offset, DWORD timeout)
    {
        auto* courier = new (std::nothrow) Courier;  // held by the owner and the thread
        if (courier == nullptr)
            return nullptr;
        root->acquire();
        courier->root = root;
        courier->url = url;
        courier->offset = offset;
        courier->timeout = timeout;
        courier->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        courier->done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        HANDLE thread = nullptr;
        if (courier->wake != nullptr && courier->done != nullptr)
            thread = CreateThread(nullptr, 0, &Courier::main, courier, 0, nullptr);
        if (thread == nullptr) {
            courier->holders.store(1);  // no thread will let go of it
            courier->release();
            return nullptr;
        }
        CloseHandle(thread);
        return courier;
    }

    // Each task runs on the courier's thread. False when it failed or has
    // not ended within the time-out. A late task may still signal `done`
    // whenever it ends, so after one nothing more is handed over: that
    // signal would be taken for the end of the next task.
    bool open() { return hand(Task::open) && handle != nullptr; }

    // Up to kBlockSize bytes into block, as soon as any have arrived.
    bool read(DWORD capacity)
    {
        wanted = capacity < kBlockSize ? capacity : kBlockSize;
        return hand(Task::read) && readOk;
    }

    // The owner's last word: the thread ends after its current task. The
    // thread may end and let go as soon as the task is stored, even before
    // the wake below, so the courier lives on until both have let go.
    void quit()
    {
        task.store(Task::quit);
        SetEvent(wake);
        release();
    }

    // Results, valid after a task that ended in time.
    int status = 0;
    bool granted = false;
    bool hasTotal = false;
    uint64_t total = 0;
    char block[kBlockSize];
    DWORD got = 0;

private:
    enum class Task { open, read, quit };

    static DWORD WINAPI main(LPVOID raw)
    {
        auto* courier = static_cast<Courier*>(raw);
        for (;;) {
            WaitForSingleObject(courier->wake, INFINITE);
            Task next = courier->task.load();
            if (next == Task::quit)
                break;
            if (next == Task::open)
                courier->openNow();
            else
                courier->readNow();
            SetEvent(courier->done);
        }
        courier->release();
        return 0;
    }

    bool hand(Task next)
    {
        if (late)
            return false;
        task.store(next);
        SetEvent(wake);
        late = WaitForSingleObject(done, timeout) != WAIT_OBJECT_0;
        return !late;
    }

    Courier() : Held(2) {}

    // The owner and the thread each let go once; the last one frees.
    ~Courier() override
    {
        if (handle != nullptr)
            InternetCloseHandle(handle);
        closeEvents();
        root->release();
    }

    void openNow()
    {
        // A partial answer must not meet WinINet's cache, which would try to
        // join it to the rest; without a cache file the size comes from the
        // answer's Content-Length, the length of the part.
        DWORD flags = offset > 0 ? kOpenFlags | INTERNET_FLAG_NO_CACHE_WRITE : kOpenFlags;
        std::string headers = requestHeaders(offset);
        DWORD headersLength = static_cast<DWORD>(headers.size());
        handle = InternetOpenUrlA(root->handle, url.c_str(), headers.c_str(), headersLength, flags, 0);
        if (handle == nullptr)
            return;
        // Child handles inherit the root's time-outs; some WinINet versions
        // read them from the request's own connection only, so say it again.
        applyTimeouts(handle, timeout);
        hasTotal = probeSize(handle, &total);
        DWORD code = 0;
        DWORD length = sizeof code;
        if (HttpQueryInfoA(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length, nullptr))
            status = static_cast<int>(code);
        // WinINet sends no range to an FTP server: it answers whole.
        granted = offset > 0 && status == 206 && rangeStartsAt(handle, offset);
    }

    // InternetReadFile waits until it can fill the whole request; asking
    // what has arrived first hands over a slow server's bytes at once.
    void readNow()
    {
        got = 0;
        DWORD available = 0;
        readOk = InternetQueryDataAvailable(handle, &available, 0, 0) != 0;
        if (readOk && available > 0)
            readOk = InternetReadFile(handle, block, available < wanted ? available : wanted, &got) != 0;
    }

    void closeEvents()
    {
        if (wake != nullptr)
            CloseHandle(wake);
        if (done != nullptr)
            CloseHandle(done);
    }

    SharedRoot* root = nullptr;
    HINTERNET handle = nullptr;
    std::string url;
    uint64_t offset = 0;
    DWORD timeout = 0;
    HANDLE wake = nullptr;
    HANDLE done = nullptr;
    std::atomic<Task> task{Task::open};
    bool late = false;  // owner's side only
    DWORD wanted = 0;
    bool readOk = false;
};

class InternetUrlReader final : public UrlReader {
public:
    explicit InternetUrlReader(Courier* courier) : courier(courier) {}

    ~InternetUrlReader() override { courier->quit(); }

    bool size(uint64_t* total) const override
    {
        if (courier->hasTotal)
            *total = courier->total;
        return courier->hasTotal;
    }

    int httpStatus() const override { return courier->status; }

    bool rangeGranted() const override { return courier->granted; }

    bool read(void* buffer, uint32_t capacity, uint32_t* bytesRead) override
    {
        *bytesRead = 0;
        if (broken)
            return false;
        if (capacity == 0)
            return true;
        if (!courier->read(capacity)) {
            broken = true;  // the courier may still be waiting: ask it nothing more
            return false;
        }
        std::memcpy(buffer, courier->block, courier->got);
        *bytesRead = courier->got;
        delivered += courier->got;
        // WinINet reports a connection closed early as a plain end of data.
        return courier->got > 0 || !courier->hasTotal || delivered == courier->total;
    }

private:
    Courier* courier;
    bool broken = false;
    uint64_t delivered = 0;
};

}  // namespace

InternetSession* openInternetSession(const char* agentName)
{
    if (agentName == nullptr)
        return nullptr;
    HINTERNET root = InternetOpenA(agentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (root == nullptr)
        return nullptr;
    auto* session = new InternetSession;
    session->root = new SharedRoot(root);
    applyTimeouts(root, session->receiveTimeout);
    return session;
}

// Couriers still at work keep the root open until they end.
void closeInternetSession(InternetSession* session)
{
    if (session == nullptr)
        return;
    session->root->release();
    delete session;
}

void setReceiveTimeout(InternetSession* session, uint32_t milliseconds)
{
    if (session == nullptr)
        return;
    session->receiveTimeout = milliseconds;
    applyTimeouts(session->root->handle, milliseconds);
}

bool localPathOfUrl(const char* url, std::string* path)
{
    return url != nullptr && startsWithNoCase(url, "file:") && filePathOf(url, path);
}

std::unique_ptr<UrlReader> openUrl(InternetSession* session, const char* url, uint64_t offset)
{
    if (session == nullptr || url == nullptr)
        return nullptr;
    if (startsWithNoCase(url, "file:"))
        return FileUrlReader::open(url, offset);
    bool supported = startsWithNoCase(url, "http://") || startsWithNoCase(url, "https://") || startsWithNoCase(url, "ftp://");
    if (!supported)
        return nullptr;
    Courier* courier = Courier::start(session->root, url, offset, session->receiveTimeout);
    if (courier == nullptr)
        return nullptr;
    if (!courier->open()) {
        courier->quit();
        return nullptr;
    }
    return std::unique_ptr<UrlReader>(new InternetUrlReader(courier));
}

}  // namespace platform
