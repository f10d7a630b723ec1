#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
struct InternetSession;
}

// One package archive to bring into the cache.
struct DownloadJob {
    std::string url;
    // The catalogue's archive size: a finished download has exactly this
    // many bytes, and a partial one is resumed only while it has fewer.
    uint64_t expectedSize = 0;
    // Where the finished archive goes; the bytes gather in cacheFile +
    // ".part" until the last one has arrived. Unused for file: URLs.
    std::string cacheFile;
};

struct DownloadOutcome {
    bool ok = false;
    std::string archivePath;   // cacheFile, or the local file a file: URL names
    bool inPlace = false;      // a file: URL, read where it lies; never delete it
    bool fromCache = false;    // already whole in the cache: nothing was fetched
    uint64_t resumedFrom = 0;  // bytes kept from an interrupted earlier run
    uint64_t fetched = 0;      // bytes received in this run
    std::string error;         // when not ok: what failed, for the player
};

struct DownloadProgress {
    uint64_t received = 0;  // bytes of the archive in hand, resumed ones included
    uint64_t total = 0;     // the expected size
    bool started = false;
    bool finished = false;
};

// Brings package archives into the cache, up to `jobs` at once, each on a
// thread of its own. The caller takes them in the order they finish, so a
// package can be installed while the others still arrive. An interrupted
// download resumes with a range request when the server grants one and
// starts over when it does not.
class DownloadQueue {
public:
    DownloadQueue(platform::InternetSession* session, unsigned jobs);
    ~DownloadQueue();  // stops what still runs (its .part stays) and waits
    DownloadQueue(const DownloadQueue&) = delete;
    DownloadQueue& operator=(const DownloadQueue&) = delete;

    // Before start(); returns the job's index.
    size_t add(const DownloadJob& job);
    void start();

    // Waits at most timeoutMs for the next finished download. False on a
    // time-out, and at once when every download has been taken.
    bool next(uint32_t timeoutMs, size_t& index, DownloadOutcome& outcome);

    // A snapshot, one entry per job, for progress lines.
    std::vector<DownloadProgress> progress() const;

private:
    struct State;
    std::unique_ptr<State> state;
};

// The cache's file name for a package URL: the URL's last path component,
// made safe for any file system, behind the CRC-32 of the whole URL in hex,
// so that two packages of one file name from different places never meet.
std::string cacheFileName(const std::string& url);
