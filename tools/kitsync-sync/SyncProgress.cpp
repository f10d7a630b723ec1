#include "sync/SyncProgress.h"

#include "platform/Clock.h"
#include "query/CatalogueReport.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::string megabytes(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

SyncProgress::SyncProgress(const Catalogue& catalogue, bool terminal)
    : catalogue(catalogue), terminal(terminal), startTick(platform::tickCount())
{
    const char* pause = std::getenv("KITSYNC_SYNC_PAUSE_AT");
    pauseAt = pause != nullptr ? pause : "";
}

SyncProgress::~SyncProgress()
{
    wipe();
}

std::string SyncProgress::name(size_t package) const
{
    return printableText(catalogue.packages[package].name);
}

void SyncProgress::say(const std::string& line)
{
    wipe();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void SyncProgress::wipe()
{
    if (drawnWidth > 0)
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawnWidth), "");
    drawnWidth = 0;
}

void SyncProgress::downloadProgress(const std::vector<DownloadProgress>& jobs, const std::vector<size_t>& packageOfJob)
{
    announced.resize(jobs.size(), false);
    for (size_t job = 0; job < jobs.size(); ++job) {
        if (!jobs[job].started || announced[job])
            continue;
        announced[job] = true;
        if (!terminal)
            say("Downloading " + name(packageOfJob[job]) + " (" + megabytes(jobs[job].total) + ")");
    }
    if (terminal)
        drawTotal(jobs);
}

void SyncProgress::drawTotal(const std::vector<DownloadProgress>& jobs)
{
    uint64_t received = 0, total = 0;
    size_t done = 0;
    for (const DownloadProgress& job : jobs) {
        received += job.received;
        total += job.total;
        done += job.finished ? 1 : 0;
    }
    uint32_t elapsed = platform::tickCount() - startTick;
    double rate = elapsed > 0 ? static_cast<double>(received) * 1000.0 / elapsed : 0.0;
    std::string line = std::to_string(done) + " of " + std::to_string(jobs.size()) + " downloads, " +
                       megabytes(received) + " of " + megabytes(total) + ", " + megabytes(static_cast<uint64_t>(rate)) +
                       "/s";
    if (rate > 0 && received < total)
        line += ", " + durationText(static_cast<uint32_t>(static_cast<double>(total - received) * 1000.0 / rate)) +
                " left";
    size_t width = line.size() > drawnWidth ? line.size() : drawnWidth;
    std::fprintf(stderr, "\r%-*s", static_cast<int>(width), line.c_str());
    std::fflush(stderr);
    drawnWidth = width;
}

void SyncProgress::installing(size_t package)
{
    if (!terminal)
        say("Installing " + name(package));
}

void SyncProgress::finished(size_t package, const PackageOutcome& outcome)
{
    std::string line = name(package) + ": " + packageStateText(outcome.state);
    if (outcome.state == PackageState::failed)
        line += ": " + printableText(outcome.error);
    else
        line += ", " + std::to_string(outcome.install.written.size() + outcome.install.extracted.size()) +
                " files written";
    say(line);
}

void SyncProgress::pauseIfAsked(const char* moment, const std::string& subject)
{
    if (pauseAt != moment)
        return;
    say(std::string("kitsync-sync: paused at ") + moment + " " + printableText(subject));
    for (;;)
        platform::sleepMilliseconds(1000);
}

void SyncProgress::verifying(const std::string& archivePath)
{
    pauseIfAsked("verifying", archivePath);
}

void SyncProgress::writing(const std::string& target)
{
    pauseIfAsked("writing", target);
}

void SyncProgress::partlyWritten(const std::string& target)
{
    pauseIfAsked("partly-written", target);
}

void SyncProgress::renaming(const std::string& target)
{
    pauseIfAsked("renaming", target);
}
