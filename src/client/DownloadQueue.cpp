#include "client/DownloadQueue.h"

#include "platform/CacheFiles.h"
#include "platform/FileSystem.h"
#include "platform/UrlReader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <zlib.h>

namespace {

// Bytes gather here between writes, so that a slow server's small reads
// still reach the disk in large blocks.
constexpr uint32_t kGatherSize = 256 * 1024;
// A name longer than this is cut: some file systems take 255 bytes.
constexpr size_t kLongestName = 100;

std::string folderOf(const std::string& path)
{
    size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

// The URL's path, without scheme, host, query or fragment.
std::string lastPathComponent(const std::string& url)
{
    size_t end = url.find_first_of("?#");
    std::string path = url.substr(0, end);
    size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? std::string() : path.substr(slash);
    }
    size_t last = path.find_last_of('/');
    return last == std::string::npos ? path : path.substr(last + 1);
}

bool isSafeNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == '+';
}

// Letters of one file name only; Windows drops a trailing dot, so none
// is left there.
std::string safeName(const std::string& name)
{
    std::string safe = name.substr(0, kLongestName);
    for (char& c : safe) {
        if (!isSafeNameCharacter(c))
            c = '_';
    }
    if (safe.empty())
        safe = "package";
    if (safe.back() == '.')
        safe.back() = '_';
    return safe;
}

// 2xx other than 206, or no HTTP at all: the resource from its first byte.
bool answersWhole(int status)
{
    return status == 0 || (status >= 200 && status < 300 && status != 206);
}

// One job, run on a worker thread. The bytes go to cacheFile + ".part",
// which only a complete download leaves by its rename; a broken or stopped
// transfer leaves it for the next run to resume.
class PackageFetch {
public:
    using Report = std::function<void(uint64_t received)>;

    PackageFetch(platform::InternetSession* session, const DownloadJob& job, const std::atomic<bool>& stopping,
                 Report report)
        : session(session), job(job), stopping(stopping), report(std::move(report)), part(job.cacheFile + ".part")
    {
        outcome.archivePath = job.cacheFile;
    }

    DownloadOutcome run()
    {
        std::string local;
        if (platform::localPathOfUrl(job.url.c_str(), &local))
            return inPlace(local);
        uint64_t size = 0;
        if (platform::sizeOfFile(job.cacheFile, &size) && size == job.expectedSize) {
            outcome.fromCache = true;
            return succeed();
        }
        if (!platform::createFolderPath(folderOf(job.cacheFile)))
            return fail("cannot create the cache folder " + folderOf(job.cacheFile));
        uint64_t kept = 0;
        bool hasPart = platform::sizeOfFile(part, &kept);
        if (hasPart && kept == job.expectedSize) {
            outcome.resumedFrom = kept;  // the last run ended just before its rename
            return finish();
        }
        return fetch(kept < job.expectedSize ? kept : 0);
    }

private:
    DownloadOutcome inPlace(const std::string& path)
    {
        outcome.archivePath = path;
        outcome.inPlace = true;
        uint64_t size = 0;
        if (!platform::sizeOfFile(path, &size))
            return fail("no such file: " + path);
        return succeed();
    }

    DownloadOutcome fetch(uint64_t kept)
    {
        std::unique_ptr<platform::UrlReader> reader = platform::openUrl(session, job.url.c_str(), kept);
        if (reader == nullptr)
            return fail("cannot download " + job.url + ": no answer, or not a URL this program can fetch");
        bool resume = kept > 0 && reader->rangeGranted();
        int status = reader->httpStatus();
        if (!resume && !answersWhole(status))
            return fail(job.url + ": the server answered with HTTP status " + std::to_string(status));
        outcome.resumedFrom = resume ? kept : 0;
        uint64_t announced = 0;
        if (reader->size(&announced) && outcome.resumedFrom + announced != job.expectedSize)
            return discard(job.url + " is " + std::to_string(outcome.resumedFrom + announced) +
                           " bytes long, where the catalogue says " + std::to_string(job.expectedSize));
        platform::AppendingFile file;
        if (!file.open(part, resume))
            return fail("cannot write " + part);
        report(outcome.resumedFrom);
        return receive(*reader, file);
    }

    enum class Ending { whole, broken, stopped, tooLong, unwritable };

    // Whatever arrived reaches the .part before any failure is reported,
    // so the next run resumes from all of it.
    DownloadOutcome receive(platform::UrlReader& reader, platform::AppendingFile& file)
    {
        std::unique_ptr<char[]> gathered(new char[kGatherSize]);
        uint32_t filled = 0;
        Ending ending = pump(reader, file, gathered.get(), filled);
        if (ending == Ending::tooLong) {
            file.close();
            return discard(job.url + " sent more than the " + std::to_string(job.expectedSize) +
                           " bytes the catalogue says");
        }
        if (!flush(file, gathered.get(), filled) || !file.close() || ending == Ending::unwritable)
            return fail("cannot write " + part);
        if (ending == Ending::broken)
            return fail("the transfer of " + job.url + " broke off");
        if (ending == Ending::stopped)
            return fail("the download of " + job.url + " was stopped");
        return finish();
    }

    // Reads until the end, a failure or a stop, writing whenever the
    // gathering buffer is full; what it holds at the end is the caller's.
    Ending pump(platform::UrlReader& reader, platform::AppendingFile& file, char* gathered, uint32_t& filled)
    {
        for (;;) {
            if (stopping.load(std::memory_order_relaxed))
                return Ending::stopped;
            uint32_t got = 0;
            if (!reader.read(gathered + filled, kGatherSize - filled, &got))
                return Ending::broken;
            if (got == 0)
                return Ending::whole;
            if (inHand() + filled + got > job.expectedSize)
                return Ending::tooLong;
            filled += got;
            report(inHand() + filled);
            if (filled == kGatherSize && !flush(file, gathered, filled))
                return Ending::unwritable;
        }
    }

    uint64_t inHand() const { return outcome.resumedFrom + outcome.fetched; }

    bool flush(platform::AppendingFile& file, const char* bytes, uint32_t& filled)
    {
        bool ok = filled == 0 || file.write(bytes, filled);
        outcome.fetched += filled;
        filled = 0;
        return ok;
    }

    DownloadOutcome finish()
    {
        uint64_t size = 0;
        if (!platform::sizeOfFile(part, &size) || size != job.expectedSize)
            return fail("the download of " + job.url + " ended after " + std::to_string(size) + " of " +
                        std::to_string(job.expectedSize) + " bytes");
        if (!platform::renameReplacing(part.c_str(), job.cacheFile.c_str()))
            return fail("cannot rename " + part + " to " + job.cacheFile);
        return succeed();
    }

    DownloadOutcome succeed()
    {
        outcome.ok = true;
        report(job.expectedSize);
        return outcome;
    }

    DownloadOutcome fail(const std::string& message)
    {
        outcome.error = message;
        return outcome;
    }

    // The bytes in hand belong to some other file: no run may resume them.
    DownloadOutcome discard(const std::string& message)
    {
        platform::deleteFile(part.c_str());
        return fail(message);
    }

    platform::InternetSession* session;
    const DownloadJob& job;
    const std::atomic<bool>& stopping;
    Report report;
    std::string part;
    DownloadOutcome outcome;
};

}  // namespace

// The jobs are fixed once the workers run, so they read them without the
// lock; everything that changes while they run is under it.
struct DownloadQueue::State {
    platform::InternetSession* session = nullptr;
    unsigned jobs = 1;
    std::vector<DownloadJob> queue;
    std::vector<std::thread> workers;
    std::atomic<bool> stopping{false};

    mutable std::mutex lock;
    std::condition_variable oneFinished;
    std::vector<DownloadProgress> progress;
    std::vector<DownloadOutcome> outcomes;
    std::deque<size_t> finished;  // in the order they finished, not yet taken
    size_t nextJob = 0;
    size_t taken = 0;

    void work();
    bool claim(size_t& index);
    void note(size_t index, uint64_t received);
    void complete(size_t index, DownloadOutcome outcome);
};

void DownloadQueue::State::work()
{
    size_t index = 0;
    while (claim(index)) {
        auto report = [this, index](uint64_t received) { note(index, received); };
        PackageFetch fetch(session, queue[index], stopping, report);
        complete(index, fetch.run());
    }
}

bool DownloadQueue::State::claim(size_t& index)
{
    std::lock_guard<std::mutex> hold(lock);
    if (stopping.load() || nextJob == queue.size())
        return false;
    index = nextJob++;
    progress[index].started = true;
    return true;
}

void DownloadQueue::State::note(size_t index, uint64_t received)
{
    std::lock_guard<std::mutex> hold(lock);
    progress[index].received = received;
}

void DownloadQueue::State::complete(size_t index, DownloadOutcome outcome)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        outcomes[index] = std::move(outcome);
        progress[index].finished = true;
        finished.push_back(index);
    }
    oneFinished.notify_all();
}

DownloadQueue::DownloadQueue(platform::InternetSession* session, unsigned jobs) : state(new State)
{
    state->session = session;
    state->jobs = jobs == 0 ? 1 : jobs;
}

DownloadQueue::~DownloadQueue()
{
    state->stopping.store(true);
    for (std::thread& worker : state->workers)
        worker.join();
}

size_t DownloadQueue::add(const DownloadJob& job)
{
    state->queue.push_back(job);
    DownloadProgress progress;
    progress.total = job.expectedSize;
    state->progress.push_back(progress);
    state->outcomes.emplace_back();
    return state->queue.size() - 1;
}

void DownloadQueue::start()
{
    if (!state->workers.empty())
        return;
    size_t count = std::min<size_t>(state->jobs, state->queue.size());
    for (size_t i = 0; i < count; ++i)
        state->workers.emplace_back([this] { state->work(); });
}

bool DownloadQueue::next(uint32_t timeoutMs, size_t& index, DownloadOutcome& outcome)
{
    std::unique_lock<std::mutex> hold(state->lock);
    if (state->taken == state->queue.size())
        return false;
    if (!state->oneFinished.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                     [this] { return !state->finished.empty(); }))
        return false;
    index = state->finished.front();
    state->finished.pop_front();
    outcome = std::move(state->outcomes[index]);
    ++state->taken;
    return true;
}

std::vector<DownloadProgress> DownloadQueue::progress() const
{
    std::lock_guard<std::mutex> hold(state->lock);
    return state->progress;
}

std::string cacheFileName(const std::string& url)
{
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(url.data()), static_cast<uInt>(url.size()));
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(crc));
    return std::string(hex) + "-" + safeName(lastPathComponent(url));
}
