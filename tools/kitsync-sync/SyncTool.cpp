// kitsync-sync: brings a player's game folder in line with a catalogue
// server's packages. Downloads what is missing or differs, checks each
// archive against the catalogue and installs it; never deletes a file.

#include "client/FolderCheck.h"
#include "client/SyncPlan.h"
#include "client/SyncSession.h"
#include "platform/CacheFiles.h"
#include "platform/Terminal.h"
#include "query/CatalogueRetrieval.h"
#include "sync/SyncOptions.h"
#include "sync/SyncProgress.h"
#include "sync/SyncReport.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ProgramVersion.h"

namespace {

int fail(int status, const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "kitsync-sync: %s\n", message.c_str());
    return status;
}

int retrieve(CatalogueRetrieval& retrieval)
{
    std::string message;
    int status = retrieval.open(message);
    if (status == kExitOk)
        status = retrieval.query(message);
    if (status == kExitOk)
        status = retrieval.fetch(message);
    if (status == kExitOk)
        status = retrieval.decode(message);
    return status == kExitOk ? kExitOk : fail(status, message);
}

// A package said to be installed that the second look still finds at
// fault (another package wrote the same path, say) is not complete.
void judgeAgain(SyncResult& result)
{
    for (const PackagePlan& plan : result.plans) {
        PackageOutcome& outcome = result.outcomes[plan.index];
        const std::vector<FileFinding>& left = result.after.packages[plan.index].findings;
        if (outcome.state != PackageState::installed || left.empty())
            continue;
        outcome.state = PackageState::failed;
        outcome.error = "still not complete after installing: " + left.front().path + " " +
                        fileFaultText(left.front().fault);
    }
}

int report(const SyncOptions& options, const SyncResult& result)
{
    if (options.query.json)
        std::fputs(syncJson(result).c_str(), stdout);
    else
        std::fputs((result.dryRun ? dryRunText(result) : syncText(result)).c_str(), stdout);
    std::fflush(stdout);
    return result.exitStatus();
}

int sync(const SyncOptions& options, const CatalogueRetrieval& retrieval, SyncResult& result)
{
    SyncSettings settings;
    settings.folder = options.folder;
    settings.cacheFolder = options.cacheFolder.empty() ? platform::defaultCacheFolder() : options.cacheFolder;
    settings.jobs = options.jobs;
    settings.keepArchives = options.keep;
    if (settings.cacheFolder.empty())
        return fail(kExitLocalFailure, "no cache folder known for this user; name one with --cache");
    std::string error;
    SyncProgress progress(retrieval.catalogue, platform::standardErrorIsTerminal());
    if (!runSync(retrieval.catalogue, result.before, result.plans, settings, progress, result.outcomes, error))
        return fail(kExitLocalFailure, error);
    if (!checkFolder(retrieval.catalogue, options.folder, result.after, error))
        return fail(kExitLocalFailure, error);
    judgeAgain(result);
    return kExitOk;
}

int run(const SyncOptions& options)
{
    CatalogueRetrieval retrieval(options.query);
    int status = retrieve(retrieval);
    if (status != kExitOk)
        return status;
    SyncResult result;
    result.endpoint = retrieval.summary.endpoint;
    result.folder = options.folder;
    result.dryRun = options.dryRun;
    result.catalogue = &retrieval.catalogue;
    std::string error;
    if (!checkFolder(retrieval.catalogue, options.folder, result.before, error))
        return fail(kExitLocalFailure, error);
    SyncSelection selection;
    selection.allOptional = options.optional;
    selection.packageNames = options.packages;
    if (!planSync(retrieval.catalogue, result.before, selection, result.plans, error))
        return fail(kExitUsage, error);
    if (!options.dryRun && (status = sync(options, retrieval, result)) != kExitOk)
        return status;
    return report(options, result);
}

}  // namespace

int main(int argc, char** argv)
{
    if (answerHelpOrVersion(argc, argv, "kitsync-sync", kSyncUsage))
        return kExitOk;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    SyncOptions options;
    std::string error;
    if (!parseSyncOptions(arguments, options, error)) {
        std::fprintf(stderr, "kitsync-sync: %s\n%s", error.c_str(), kSyncUsage);
        return kExitUsage;
    }
    if (options.query.help) {
        std::fputs(kSyncUsage, stdout);
        return kExitOk;
    }
    return run(options);
}
