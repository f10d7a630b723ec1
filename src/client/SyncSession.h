#pragma once

#include "client/Catalogue.h"
#include "client/DownloadQueue.h"
#include "client/FolderCheck.h"
#include "client/PackageInstaller.h"
#include "client/SyncPlan.h"

#include <string>
#include <vector>

struct SyncSettings {
    std::string folder;       // the game folder brought in line
    std::string cacheFolder;  // where archives gather while they download
    unsigned jobs = 4;        // downloads at once
    bool keepArchives = false;
};

enum class PackageState {
    notSelected,  // optional and not asked for
    complete,     // nothing to do
    installed,
    failed,
};

struct PackageOutcome {
    PackageState state = PackageState::notSelected;
    bool fetched = false;         // a download was tried: `download` tells how it went
    DownloadOutcome download;
    bool installTried = false;    // the archive was at hand: `install` tells the rest
    InstallReport install;
    std::string error;            // failed: why, for the player
};

// What a front end shows while a sync runs. Calls come from the thread
// that runs the sync, one at a time.
class SyncObserver : public InstallObserver {
public:
    // `packageOfJob` maps each download to its package; a few times a second.
    virtual void downloadProgress(const std::vector<DownloadProgress>& jobs, const std::vector<size_t>& packageOfJob)
    {
        (void)jobs, (void)packageOfJob;
    }
    virtual void installing(size_t package) { (void)package; }
    virtual void finished(size_t package, const PackageOutcome& outcome) { (void)package, (void)outcome; }
};

// Downloads every package that the plans say needs work, several at once,
// and installs each as soon as its archive is whole, one at a time. Fills
// one outcome per package of the catalogue. False, with `error`, only when
// nothing could start: the cache folder cannot be made or the download
// session cannot open.
bool runSync(const Catalogue& catalogue, const FolderCheck& check, const std::vector<PackagePlan>& plans,
             const SyncSettings& settings, SyncObserver& observer, std::vector<PackageOutcome>& outcomes,
             std::string& error);

// "not selected", "complete", "installed" or "failed".
const char* packageStateText(PackageState state);
