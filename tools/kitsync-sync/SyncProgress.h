#pragma once

#include "client/Catalogue.h"
#include "client/SyncSession.h"

#include <cstdint>
#include <string>
#include <vector>

// Shows a running sync on standard error. On a terminal each package gets
// a line when it is done and one line at the bottom, redrawn in place,
// holds the total: bytes, rate and time left. Otherwise every step is a
// plain line, so logs read well.
//
// For tests that must stop the program at a given moment, the environment
// variable KITSYNC_SYNC_PAUSE_AT names one (verifying, writing,
// partly-written, renaming): on reaching it the program says so on
// standard error and waits there until it is killed.
class SyncProgress : public SyncObserver {
public:
    SyncProgress(const Catalogue& catalogue, bool terminal);
    ~SyncProgress() override;

    void downloadProgress(const std::vector<DownloadProgress>& jobs, const std::vector<size_t>& packageOfJob) override;
    void installing(size_t package) override;
    void finished(size_t package, const PackageOutcome& outcome) override;
    void verifying(const std::string& archivePath) override;
    void writing(const std::string& target) override;
    void partlyWritten(const std::string& target) override;
    void renaming(const std::string& target) override;

private:
    void say(const std::string& line);
    void drawTotal(const std::vector<DownloadProgress>& jobs);
    void wipe();
    void pauseIfAsked(const char* moment, const std::string& subject);
    std::string name(size_t package) const;

    const Catalogue& catalogue;
    bool terminal;
    std::string pauseAt;
    uint32_t startTick;
    std::vector<bool> announced;  // per download: its start was told
    size_t drawnWidth = 0;
};
