#pragma once

#include "catalogue/PackageArchive.h"
#include "foundation/RefString.h"

#include <cstdint>
#include <string>

// How far the server's own reading of one package archive got, and what
// the catalogue build would have said about it.
struct PackageReport {
    explicit PackageReport(const PackageArchive& inspected) : archive(inspected) {}

    const PackageArchive& archive;
    bool blockRead = false;
    bool entriesRead = false;
    uint32_t listedFiles = 0;
    RefString error;  // the build's "Error: " message; empty on success
};

// The build's console lines, then the rules in decision order and the
// install tree with each file's size and CRC-32.
std::string reportText(const PackageReport& report);

// The same facts as one JSON object.
std::string reportJson(const PackageReport& report);
