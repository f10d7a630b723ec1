#pragma once

#include "client/Catalogue.h"

#include <cstdint>
#include <string>
#include <vector>

enum class FileFault {
    missing,
    sizeDiffers,
    crcDiffers,
    unreadable,  // present with the right size, but reading it failed
    unsafeName,  // the catalogue's name would leave the folder; not looked at
};

struct FileFinding {
    std::string path;  // as the catalogue names it, '\' between the parts
    FileFault fault = FileFault::missing;
    uint32_t expectedSize = 0;
    uint32_t expectedCrc = 0;
    uint64_t actualSize = 0;  // for sizeDiffers and crcDiffers
    uint32_t actualCrc = 0;   // for crcDiffers
};

struct PackageFindings {
    std::string name;
    bool optional = false;
    uint32_t filesChecked = 0;
    std::vector<FileFinding> findings;
    // Listed files that a later file of the package at the same path
    // (ignoring case) hides, as an extraction in archive order would: only
    // the later one is judged.
    std::vector<std::string> shadowed;
};

// How a local game folder compares with a catalogue, package by package.
class FolderCheck {
public:
    std::vector<PackageFindings> packages;

    uint32_t filesChecked() const;
    uint32_t count(FileFault fault) const;
    uint32_t faultyFiles() const;
    // True when no package that is not optional has a finding.
    bool requiredComplete() const;
};

// Looks up every listed file of every package below `folder`, matching
// each part of its path ignoring the case of ASCII letters (the catalogue
// holds lower-cased names, the disk may not), and compares size and CRC-32.
// False, with `error` set, only when the folder itself cannot be read.
bool checkFolder(const Catalogue& catalogue, const std::string& folder, FolderCheck& out, std::string& error);

const char* fileFaultText(FileFault fault);
