#pragma once

#include "client/Catalogue.h"
#include "client/FolderCheck.h"

#include <string>
#include <vector>

enum class InstallStatus {
    installed,    // everything asked for is in place
    differs,      // the archive is not the one the server indexed; nothing written
    unsafeName,   // a name of the catalogue or the archive would leave the folder
    unreadable,   // the archive cannot be read, or an entry fails its CRC-32
    writeFailed,  // the folder could not take a file
};

struct InstallReport {
    InstallStatus status = InstallStatus::installed;
    std::string message;                 // when not installed: what and where
    // Paths below the folder as they are spelt on the disk, '\' between parts.
    std::vector<std::string> written;    // listed files replaced or created
    std::vector<std::string> extracted;  // extract-only files that were missing
    std::vector<std::string> duplicates; // one line per path the archive fills twice: which entry won
};

// Moments of an installation that a front end shows and a test aims at.
class InstallObserver {
public:
    virtual ~InstallObserver() = default;
    virtual void verifying(const std::string& archivePath) { (void)archivePath; }
    // target is the file's path below the folder, '\' between parts.
    virtual void writing(const std::string& target) { (void)target; }
    virtual void partlyWritten(const std::string& target) { (void)target; }
    virtual void renaming(const std::string& target) { (void)target; }
};

// Reads the archive with the catalogue build's own code (instruction
// block, rules, paths) and compares its install tree with the package's
// (names ignoring case, sizes, CRC-32s) and its size with the recorded
// archive size. Only an archive that matches is installed below folder:
// every listed file that `findings` names, and each extract-only file that
// is missing. Files go to a temporary name in their folder, are checked
// against their CRC-32, and are renamed into place once the whole package
// has checked out. Nothing outside folder is touched and no file of it is
// deleted.
//
// Names are looked up ignoring ASCII case: an existing folder or file keeps
// its spelling, what is new takes the archive's. Every name of the catalogue
// and every target of the archive must pass isSafeClientPath, and no folder
// on a target's way may be a link, else unsafeName with nothing written.
// Where the archive fills a path more than once, the last listed entry is
// written, as an extraction in archive order leaves it and as FolderCheck
// judges it. On failure the package's temporary files and the folders made
// for it are removed again.
InstallReport installPackage(const CataloguePackage& package, const std::string& archivePath,
                             const std::string& folder, const PackageFindings& findings,
                             InstallObserver* observer = nullptr);
