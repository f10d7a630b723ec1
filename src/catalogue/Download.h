#pragma once

#include <cstdint>

namespace platform {
struct InternetSession;
}

// The session that package downloads go through, with the agent name
// "Brask Kitsync Server". Whoever runs downloads owns one and opens it for
// as long as they last: the catalogue build opens the one it is handed at
// its start and closes it at its end. Destroying it closes it too.
class DownloadSession {
public:
    DownloadSession() = default;
    ~DownloadSession();
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;

    // False on failure; the caller reports it. A session open before is
    // closed first.
    bool open();
    void close();

    // How long a download may go without receiving a byte before it fails;
    // 60 seconds by default. Kept across closing and opening again.
    void setStallLimit(uint32_t milliseconds);

    // Copies the resource at url into localFileName (created or replaced),
    // showing "Received: ..." progress at most once a second on stdout.
    // True only when every byte arrived and was written; on failure the
    // message has been printed and a partial file may remain. A server's
    // error status (400 and above), a cut transfer, a stall, a failed write
    // or a session that is not open all fail.
    bool downloadPackage(const char* url, const char* localFileName);

private:
    platform::InternetSession* session = nullptr;
    uint32_t stallLimit = 60000;
};
