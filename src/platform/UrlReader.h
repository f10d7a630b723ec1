#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// An internet session: the agent name and options that every URL opened on
// it shares, like a WinINet root handle. Opaque; one per process is enough.
struct InternetSession;

// Null on failure. Proxies follow the platform's usual configuration.
InternetSession* openInternetSession(const char* agentName);
void closeInternetSession(InternetSession* session);

// Longest wait for the next byte, while opening or reading, before the
// transfer counts as failed. 60 seconds unless set.
void setReceiveTimeout(InternetSession* session, uint32_t milliseconds);

// One resource being fetched, from the origin (never from a cache), byte
// for byte as stored there (no content decoding, binary FTP), redirects
// followed. The resource streams through: only a small window of it is
// held in memory at any time. Destroying the reader closes it.
class UrlReader {
public:
    virtual ~UrlReader() = default;

    // The size announced by the server (for file: URLs, the file's size) of
    // what read() delivers: with a granted range, the bytes from the offset
    // on. False when none was announced.
    virtual bool size(uint64_t* total) const = 0;

    // Whether read() starts at the offset asked of openUrl: an HTTP 206
    // whose Content-Range begins there, an FTP restart the server took, a
    // local file that long. False when no offset above 0 was asked, and
    // when the server sent something else: the whole resource (200), which
    // the caller takes from the start, or an error.
    virtual bool rangeGranted() const = 0;

    // The final HTTP status after redirects; 0 for other schemes.
    virtual int httpStatus() const = 0;

    // Up to capacity bytes as soon as any are available; *bytesRead is 0 at
    // the end of the resource. False when the transfer failed: the
    // connection broke, the server went silent past the receive time-out,
    // or fewer bytes came than it announced.
    virtual bool read(void* buffer, uint32_t capacity, uint32_t* bytesRead) = 0;
};

// Sends the request and waits for the response's head, so that size() and
// httpStatus() are known before the first read. Null when the URL is
// malformed, of an unsupported scheme, or its server cannot be reached or
// does not answer. An HTTP error status is not a failure here: the caller
// reads it from httpStatus(). Accepts http, https, ftp, ftps and file URLs.
// An offset above 0 asks for the bytes from there on (HTTP "Range:
// bytes=N-"), so that an interrupted transfer can go on; whether the server
// obliged is rangeGranted(). With 0 no range is asked for.
std::unique_ptr<UrlReader> openUrl(InternetSession* session, const char* url, uint64_t offset = 0);

// The local file that a file: URL names, by this platform's rules, percent
// escapes decoded: the file openUrl would read. False for any other URL and
// for a file: URL that openUrl would refuse.
bool localPathOfUrl(const char* url, std::string* path);

}  // namespace platform
