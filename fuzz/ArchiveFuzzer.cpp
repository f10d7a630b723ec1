// Bytes as a downloaded package into the whole inspection: the instruction
// block, the walk over every entry with its CRC check, and the package
// record. A record the server writes must be one that clients can read,
// listing exactly the files the server counted. The archive is read from
// memory through the unzip layer's file functions.
#include "MemoryZip.h"

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "catalogue/PackageArchive.h"
#include "client/CatalogueDecoder.h"
#include "settings/Settings.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemoryZip zip;
    zip.hold(data, size);

    PackageArchive archive("package.zip", static_cast<int8_t>(Settings::kRequiredPackage), &zip.functions);
    archive.packageUrl = "http://127.0.0.1/package.zip";
    if (archive.archiveSize != size)
        std::abort();
    if (!archive.readInstallScript())
        return 0;
    if (!archive.inspectEntries()) {
        if (archive.failure == InspectFailure::None || archive.crcMismatch != (archive.failure == InspectFailure::CrcMismatch))
            std::abort();
        return 0;
    }
    if (archive.failure != InspectFailure::None)
        std::abort();

    Settings configured;
    configured.packageUrls.add(archive.packageUrl);
    configured.packageKinds.add(Settings::kRequiredPackage);
    MemoryStream catalogue(4096);
    writeCatalogueHead(catalogue, configured);
    uint32_t listed = archive.serializeRecord(catalogue);

    Catalogue decoded;
    std::string error;
    if (!decodeCatalogue(catalogue.buffer, catalogue.length, decoded, error)) {
        std::fprintf(stderr, "record unreadable: %s\n", error.c_str());
        std::abort();
    }
    if (decoded.packages.size() != 1 || countFiles(decoded.packages[0].root) != listed)
        std::abort();
    if (decoded.packages[0].name != archive.script.packageName.c_str())
        std::abort();
    return 0;
}
