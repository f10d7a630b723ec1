#pragma once

#include "query/QueryOptions.h"

#include <string>
#include <vector>

// kitsync-sync ends with kitsync-query's statuses, and one more.
const int kExitInstallFailed = 7;  // a selected package could not be installed

struct SyncOptions {
    QueryOptions query;  // server, password, time-out, --json, --help
    std::string folder;  // the game folder
    bool optional = false;
    std::vector<std::string> packages;  // optional packages asked for by name
    std::string cacheFolder;            // empty: the user's cache folder
    unsigned jobs = 4;
    bool keep = false;
    bool dryRun = false;
};

// Reads the arguments after the program name. False with a message for
// anything it cannot use; "--help" alone succeeds with query.help set.
bool parseSyncOptions(const std::vector<std::string>& arguments, SyncOptions& out, std::string& error);

extern const char kSyncUsage[];
