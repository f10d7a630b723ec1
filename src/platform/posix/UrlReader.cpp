#include "platform/UrlReader.h"

#include "platform/common/UrlPath.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace platform {

struct InternetSession {
    std::string agentName;
    uint32_t receiveTimeout = 60000;
};

namespace {

// The stall clock is the real one even when a test has replaced tickCount:
// a frozen or racing fake counter must not end transfers.
int64_t monotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool startsWithNoCase(const char* text, size_t length, const char* prefix)
{
    size_t n = std::strlen(prefix);
    return length >= n && strncasecmp(text, prefix, n) == 0;
}

// The local path of a file: URL ("file:///p", "file://localhost/p" or
// "file:/p"), percent escapes decoded. False for other hosts, a bad escape
// or an escaped NUL.
bool filePathOf(const char* url, std::string* path)
{
    const char* rest = url + 5;  // past "file:"
    if (std::strncmp(rest, "//", 2) == 0) {
        rest += 2;
        const char* slash = std::strchr(rest, '/');
        if (slash == nullptr)
            return false;
        size_t hostLength = static_cast<size_t>(slash - rest);
        if (hostLength != 0 && !(hostLength == 9 && strncasecmp(rest, "localhost", 9) == 0))
            return false;
        rest = slash;
    }
    if (*rest != '/')
        return false;
    path->clear();
    return detail::appendUrlPath(rest, '/', path);
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
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        uint64_t fileSize = static_cast<uint64_t>(info.st_size);
        bool granted = offset > 0 && offset <= fileSize;
        if (granted && lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
            ::close(fd);
            return nullptr;
        }
        return std::unique_ptr<UrlReader>(new FileUrlReader(fd, granted ? fileSize - offset : fileSize, granted));
    }

    ~FileUrlReader() override { ::close(fd); }

    bool size(uint64_t* total) const override
    {
        *total = fileSize;
        return true;
    }

    bool rangeGranted() const override { return granted; }

    int httpStatus() const override { return 0; }

    bool read(void* buffer, uint32_t capacity, uint32_t* bytesRead) override
    {
        ssize_t n;
        do {
            n = ::read(fd, buffer, capacity);
        } while (n < 0 && errno == EINTR);
        *bytesRead = n > 0 ? static_cast<uint32_t>(n) : 0;
        if (n < 0)
            return false;
        delivered += *bytesRead;
        // A file changed under the reader is as broken as a cut connection.
        return n > 0 || delivered == fileSize;
    }

private:
    FileUrlReader(int fd, uint64_t fileSize, bool granted) : fd(fd), fileSize(fileSize), granted(granted) {}

    int fd;
    uint64_t fileSize;  // what is left to read from the start
    bool granted;
    uint64_t delivered = 0;
};

// Never undone: the library stays ready until the process ends.
bool initialiseCurlOnce()
{
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result == CURLE_OK;
}

// libcurl refuses a URL with a blank in it, where the usual openers send it
// escaped; a quoted package URL in the settings file may well hold one.
std::string withEscapedBlanks(const char* url)
{
    std::string escaped;
    for (const char* p = url; *p != '\0'; ++p) {
        if (*p == ' ')
            escaped += "%20";
        else
            escaped += *p;
    }
    return escaped;
}

bool isEmptyLine(const char* line, size_t length)
{
    return (length == 1 && line[0] == '\n') || (length == 2 && line[0] == '\r' && line[1] == '\n');
}

// The first byte position of a "Content-Range: bytes N-M/T" line; false
// for any other unit or form.
bool contentRangeStart(const char* line, size_t length, uint64_t* start)
{
    std::string value(line, length);
    size_t at = value.find(':') + 1;
    at = value.find_first_not_of(" \t", at);
    if (at == std::string::npos || strncasecmp(value.c_str() + at, "bytes", 5) != 0)
        return false;
    at = value.find_first_not_of(" \t", at + 5);
    if (at == std::string::npos || value[at] < '0' || value[at] > '9')
        return false;
    char* stop = nullptr;
    unsigned long long first = std::strtoull(value.c_str() + at, &stop, 10);
    if (*stop != '-')
        return false;
    *start = first;
    return true;
}

// libcurl pushes bytes through callbacks; the reader is pulled. The multi
// interface lets read() run the transfer only until some bytes sit in a
// small window, and pausing keeps that window from growing when curl
// offers more than fits.
class CurlUrlReader final : public UrlReader {
public:
    CurlUrlReader(const InternetSession& session, uint64_t offset)
        : receiveTimeout(session.receiveTimeout), offset(offset)
    {
    }

    ~CurlUrlReader() override
    {
        if (multi != nullptr && easy != nullptr)
            curl_multi_remove_handle(multi, easy);
        if (easy != nullptr)
            curl_easy_cleanup(easy);
        if (multi != nullptr)
            curl_multi_cleanup(multi);
        curl_slist_free_all(requestHeaders);
    }

    bool begin(const InternetSession& session, const char* url)
    {
        if (!configure(session, url) || curl_multi_add_handle(multi, easy) != CURLM_OK)
            return false;
        lastByteAt = monotonicMilliseconds();
        return runUntil(&CurlUrlReader::headKnown) || (finished && outcome == CURLE_OK);
    }

    bool size(uint64_t* total) const override
    {
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length < 0)
            return false;
        *total = static_cast<uint64_t>(length);
        return true;
    }

    int httpStatus() const override
    {
        long code = 0;
        if (sawHttpHead)
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        return static_cast<int>(code);
    }

    // An FTP server that refuses the restart fails the open instead.
    bool rangeGranted() const override
    {
        if (offset == 0)
            return false;
        if (!sawHttpHead)
            return true;
        return httpStatus() == 206 && hasRangeStart && rangeStart == offset;
    }

    bool read(void* buffer, uint32_t capacity, uint32_t* bytesRead) override
    {
        if (buffered() == 0 && !finished)
            runUntil(&CurlUrlReader::hasData);
        size_t n = std::min<size_t>(capacity, buffered());
        *bytesRead = static_cast<uint32_t>(n);
        if (n == 0)
            return outcome == CURLE_OK;
        std::memcpy(buffer, window.data() + windowStart, n);
        windowStart += n;
        if (windowStart == window.size()) {
            window.clear();
            windowStart = 0;
        }
        return true;
    }

private:
    static constexpr long kCurlBufferSize = 128 * 1024;
    static constexpr size_t kWindowCapacity = 256 * 1024;

    bool configure(const InternetSession& session, const char* url)
    {
        multi = curl_multi_init();
        easy = curl_easy_init();
        if (multi == nullptr || easy == nullptr)
            return false;
        bool ok = appendHeader("Cache-Control: no-cache") && appendHeader("Pragma: no-cache");
        ok = ok && curl_easy_setopt(easy, CURLOPT_URL, withEscapedBlanks(url).c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps") == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp,ftps") == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_USERAGENT, session.agentName.c_str()) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_HTTPHEADER, requestHeaders) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, 0L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kCurlBufferSize) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlUrlReader::onBody) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlUrlReader::onHeader) == CURLE_OK;
        ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERDATA, this) == CURLE_OK;
        // A plain range, not a resume: curl would refuse a whole answer to
        // a resume, which the caller wants to take from the start.
        if (offset > 0)
            ok = ok && curl_easy_setopt(easy, CURLOPT_RANGE, (std::to_string(offset) + "-").c_str()) == CURLE_OK;
        return ok;
    }

    bool appendHeader(const char* line)
    {
        curl_slist* longer = curl_slist_append(requestHeaders, line);
        if (longer == nullptr)
            return false;  // the list as it was is still ours to free
        requestHeaders = longer;
        return true;
    }

    size_t buffered() const { return window.size() - windowStart; }
    bool hasData() const { return buffered() > 0; }
    bool headKnown() const { return headDone || buffered() > 0 || paused; }

    // Drives the transfer until the condition holds (true) or the transfer
    // ended, failed or went silent for longer than the receive time-out.
    bool runUntil(bool (CurlUrlReader::*condition)() const)
    {
        const int64_t waitStart = monotonicMilliseconds();
        for (;;) {
            if (paused && buffered() == 0) {
                paused = false;
                curl_easy_pause(easy, CURLPAUSE_CONT);  // may hand over data at once
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK)
                finish(CURLE_OUT_OF_MEMORY);
            collectOutcome();
            if ((this->*condition)())
                return true;
            if (finished)
                return false;
            int64_t idle = monotonicMilliseconds() - std::max(lastByteAt, waitStart);
            if (idle >= receiveTimeout) {
                finish(CURLE_OPERATION_TIMEDOUT);
                return false;
            }
            int pause = static_cast<int>(std::min<int64_t>(receiveTimeout - idle, 1000));
            curl_multi_poll(multi, nullptr, 0, pause, nullptr);
        }
    }

    void collectOutcome()
    {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                finish(message->data.result);
        }
    }

    void finish(CURLcode result)
    {
        if (finished)
            return;
        finished = true;
        outcome = result;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self)
    {
        auto* reader = static_cast<CurlUrlReader*>(self);
        size_t n = size * count;
        reader->lastByteAt = monotonicMilliseconds();
        // An empty window takes any amount, so a resumed transfer always
        // makes progress; otherwise curl keeps the bytes until it is drained.
        if (reader->buffered() > 0 && reader->buffered() + n > kWindowCapacity) {
            reader->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        reader->window.insert(reader->window.end(), data, data + n);
        return n;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self)
    {
        auto* reader = static_cast<CurlUrlReader*>(self);
        size_t n = size * count;
        reader->lastByteAt = monotonicMilliseconds();
        reader->noteHeaderLine(data, n);
        return n;
    }

    // Each response head arrives line by line and ends with an empty line;
    // interim (1xx) heads and redirects that curl follows are not the last.
    void noteHeaderLine(const char* line, size_t length)
    {
        if (startsWithNoCase(line, length, "HTTP/")) {
            sawHttpHead = true;
            locationInHead = false;
            hasRangeStart = false;
        } else if (startsWithNoCase(line, length, "Location:")) {
            locationInHead = true;
        } else if (startsWithNoCase(line, length, "Content-Range:")) {
            hasRangeStart = contentRangeStart(line, length, &rangeStart);
        } else if (sawHttpHead && isEmptyLine(line, length)) {
            long code = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
            bool interim = code >= 100 && code < 200;
            bool followed = code >= 300 && code < 400 && locationInHead;
            headDone = !interim && !followed;
        }
    }

    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* requestHeaders = nullptr;
    uint32_t receiveTimeout;
    uint64_t offset;
    int64_t lastByteAt = 0;

    std::vector<char> window;  // received, not yet read: bytes [windowStart, size)
    size_t windowStart = 0;
    bool paused = false;
    bool finished = false;
    CURLcode outcome = CURLE_OK;

    bool sawHttpHead = false;
    bool locationInHead = false;
    bool headDone = false;
    bool hasRangeStart = false;  // of the latest head
    uint64_t rangeStart = 0;
};

}  // namespace

InternetSession* openInternetSession(const char* agentName)
{
    if (agentName == nullptr || !initialiseCurlOnce())
        return nullptr;
    auto* session = new InternetSession;
    session->agentName = agentName;
    return session;
}

void closeInternetSession(InternetSession* session)
{
    delete session;
}

void setReceiveTimeout(InternetSession* session, uint32_t milliseconds)
{
    if (session != nullptr)
        session->receiveTimeout = milliseconds;
}

bool localPathOfUrl(const char* url, std::string* path)
{
    return url != nullptr && startsWithNoCase(url, std::strlen(url), "file:") && filePathOf(url, path);
}

std::unique_ptr<UrlReader> openUrl(InternetSession* session, const char* url, uint64_t offset)
{
    if (session == nullptr || url == nullptr)
        return nullptr;
    if (startsWithNoCase(url, std::strlen(url), "file:"))
        return FileUrlReader::open(url, offset);
    std::unique_ptr<CurlUrlReader> reader(new CurlUrlReader(*session, offset));
    if (!reader->begin(*session, url))
        return nullptr;
    return reader;
}

}  // namespace platform
