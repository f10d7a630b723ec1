#pragma once

#include "client/Catalogue.h"
#include "client/FolderCheck.h"

#include <string>
#include <vector>

// Which packages a sync takes up: required ones always, optional ones
// all (`allOptional`) or by their exact names.
struct SyncSelection {
    bool allOptional = false;
    std::vector<std::string> packageNames;
};

struct PackagePlan {
    size_t index = 0;       // into the catalogue's packages and the check's
    bool selected = false;  // taken up by this sync
    bool complete = false;  // every listed file present and equal
    // Selected and not complete: its archive is fetched and installed.
    bool needsWork() const { return selected && !complete; }
};

// One plan per package of the catalogue, in its order. False, naming the
// first, when a name asked for is no package of the catalogue.
bool planSync(const Catalogue& catalogue, const FolderCheck& check, const SyncSelection& selection,
              std::vector<PackagePlan>& plans, std::string& error);
