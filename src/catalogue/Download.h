#pragma once

#include <cstdint>

namespace platform {
struct InternetSession;
}

// The session that package downloads go through: opened by the catalogue
// build at its start, closed at its end; null while closed.
extern platform::InternetSession* internetHandle;

// Opens the session with the agent name "Brask Kitsync Server" and stores
// it in internetHandle. Null on failure; the caller reports it.
platform::InternetSession* openInternetHandle();
void closeInternetHandle();

// How long a download may go without receiving a byte before it fails;
// 60 seconds by default. Applies to the session open now and later ones.
void setDownloadStallLimit(uint32_t milliseconds);

// Copies the resource at url into localFileName (created or replaced),
// showing "Received: ..." progress at most once a second on stdout. True
// only when every byte arrived and was written; on failure the message has
// been printed and a partial file may remain. A server's error status
// (400 and above), a cut transfer, a stall or a failed write all fail.
bool downloadPackage(const char* url, const char* localFileName);
