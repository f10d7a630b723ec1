#include "client/SyncSession.h"

#include "platform/CacheFiles.h"
#include "platform/FileSystem.h"
#include "platform/UrlReader.h"

namespace {

const uint32_t kProgressIntervalMs = 200;

// Opened only when there is something to download; closed on every way out.
struct SessionHandle {
    explicit SessionHandle(bool wanted) : session(wanted ? platform::openInternetSession("Kitsync Sync") : nullptr) {}
    SessionHandle(const SessionHandle&) = delete;
    SessionHandle& operator=(const SessionHandle&) = delete;
    platform::InternetSession* session;
    ~SessionHandle()
    {
        if (session != nullptr)
            platform::closeInternetSession(session);
    }
};

class SyncRun {
public:
    SyncRun(const Catalogue& catalogue, const FolderCheck& check, const SyncSettings& settings,
            SyncObserver& observer, std::vector<PackageOutcome>& outcomes)
        : catalogue(catalogue), check(check), settings(settings), observer(observer), outcomes(outcomes)
    {
    }

    void queue(DownloadQueue& downloads, const std::vector<PackagePlan>& plans)
    {
        for (const PackagePlan& plan : plans) {
            PackageOutcome& outcome = outcomes[plan.index];
            outcome.state = !plan.selected ? PackageState::notSelected
                            : plan.complete ? PackageState::complete
                                            : PackageState::failed;
            if (!plan.needsWork())
                continue;
            const CataloguePackage& package = catalogue.packages[plan.index];
            DownloadJob job;
            job.url = package.url;
            job.expectedSize = package.archiveSize;
            job.cacheFile = settings.cacheFolder + "/" + cacheFileName(package.url);
            downloads.add(job);
            packageOfJob.push_back(plan.index);
        }
    }

    void run(DownloadQueue& downloads)
    {
        downloads.start();
        for (size_t taken = 0; taken < packageOfJob.size();) {
            size_t job = 0;
            DownloadOutcome download;
            if (!downloads.next(kProgressIntervalMs, job, download)) {
                observer.downloadProgress(downloads.progress(), packageOfJob);
                continue;
            }
            ++taken;
            observer.downloadProgress(downloads.progress(), packageOfJob);
            settle(packageOfJob[job], download);
        }
    }

private:
    void settle(size_t index, const DownloadOutcome& download)
    {
        PackageOutcome& outcome = outcomes[index];
        outcome.fetched = true;
        outcome.download = download;
        if (download.ok)
            install(index, outcome);
        else
            outcome.error = download.error;
        observer.finished(index, outcome);
    }

    void install(size_t index, PackageOutcome& outcome)
    {
        observer.installing(index);
        outcome.installTried = true;
        outcome.install = installPackage(catalogue.packages[index], outcome.download.archivePath, settings.folder,
                                         check.packages[index], &observer);
        InstallStatus status = outcome.install.status;
        outcome.state = status == InstallStatus::installed ? PackageState::installed : PackageState::failed;
        if (status != InstallStatus::installed)
            outcome.error = outcome.install.message;
        if (!outcome.download.inPlace && shouldDiscard(status))
            platform::deleteFile(outcome.download.archivePath.c_str());
    }

    // An archive that is not the one indexed would be found in the cache
    // again by every later run; one that could not be written out is kept
    // for the run after the disk has room.
    bool shouldDiscard(InstallStatus status) const
    {
        if (status == InstallStatus::installed)
            return !settings.keepArchives;
        return status == InstallStatus::differs || status == InstallStatus::unreadable;
    }

    const Catalogue& catalogue;
    const FolderCheck& check;
    const SyncSettings& settings;
    SyncObserver& observer;
    std::vector<PackageOutcome>& outcomes;
    std::vector<size_t> packageOfJob;
};

}  // namespace

bool runSync(const Catalogue& catalogue, const FolderCheck& check, const std::vector<PackagePlan>& plans,
             const SyncSettings& settings, SyncObserver& observer, std::vector<PackageOutcome>& outcomes,
             std::string& error)
{
    outcomes.assign(catalogue.packages.size(), PackageOutcome());
    bool anyWork = false;
    for (const PackagePlan& plan : plans)
        anyWork = anyWork || plan.needsWork();
    if (anyWork && !platform::createFolderPath(settings.cacheFolder)) {
        error = "cannot make the cache folder " + settings.cacheFolder;
        return false;
    }
    SessionHandle handle(anyWork);
    if (anyWork && handle.session == nullptr) {
        error = "cannot open a download session";
        return false;
    }
    SyncRun run(catalogue, check, settings, observer, outcomes);
    DownloadQueue downloads(handle.session, settings.jobs);
    run.queue(downloads, plans);
    run.run(downloads);
    return true;
}

const char* packageStateText(PackageState state)
{
    switch (state) {
    case PackageState::notSelected:
        return "not selected";
    case PackageState::complete:
        return "complete";
    case PackageState::installed:
        return "installed";
    case PackageState::failed:
        return "failed";
    }
    return "?";
}
