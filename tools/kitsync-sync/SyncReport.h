#pragma once

#include "client/Catalogue.h"
#include "client/FolderCheck.h"
#include "client/SyncPlan.h"
#include "client/SyncSession.h"

#include <string>
#include <vector>

// Everything a sync learnt and did, for the closing report.
struct SyncResult {
    std::string endpoint;
    std::string folder;
    bool dryRun = false;
    const Catalogue* catalogue = nullptr;
    FolderCheck before;                   // the folder as the sync found it
    std::vector<PackagePlan> plans;
    std::vector<PackageOutcome> outcomes;  // one per package; none in a dry run
    FolderCheck after;                    // checked again after installing

    // Every selected package complete: after a sync, in the folder as it
    // is now; in a dry run, as it was found.
    bool selectedComplete() const;
    int exitStatus() const;
};

// For people: a block per package that was looked at, then a summary.
std::string dryRunText(const SyncResult& result);
std::string syncText(const SyncResult& result);

// One JSON document: what was found, downloaded, written and refused.
std::string syncJson(const SyncResult& result);
