#pragma once

#include "catalogue/FileTreeNode.h"
#include "foundation/RefString.h"
#include "foundation/SharedRef.h"
#include "install/InstallScript.h"

#include <cstdint>

class ByteStream;

// Why inspectEntries gave up; the build's message depends on it.
enum class InspectFailure {
    None,
    Unreadable,   // an entry could not be listed, opened, read or closed
    CrcMismatch,  // an entry's data does not give its recorded CRC-32
    UnsafePath,   // an entry would be placed outside the game folder
};

// One downloaded package while the catalogue is built: constructed on the
// local file, then readInstallScript, inspectEntries and serializeRecord in
// that order. Destroying it closes the archive so the file can be deleted.
class PackageArchive : public InstallScript {
public:
    // Entries are read and checked in blocks of this size; nothing of an
    // entry's contents is kept.
    static const uint32_t kReadBlockSize = 4096;

    // kind: 3 for an optional package, 10 otherwise. Measures archiveSize,
    // through zipFunctions when given (see InstallScript).
    PackageArchive(const char* localPath, int8_t kind, zlib_filefunc_def* zipFunctions = nullptr);

    // Reads every entry, verifies its CRC-32 and places the files that the
    // rules install or extract into the tree under root. False on the first
    // failure, with failure (and crcMismatch) telling which; the tree stays
    // as far as it got.
    bool inspectEntries();

    // Appends the package's catalogue record; returns the number of files
    // listed to clients (0: the package installs nothing).
    uint32_t serializeRecord(ByteStream& stream) const;

    SharedRef<FileTreeNode> root;
    uint32_t archiveSize = 0;  // 0 when the file cannot be opened
    RefString packageUrl;
    uint32_t packageKind;
    bool crcMismatch = false;
    uint32_t checksum = 0;  // XOR of the CRC-32 of every file entry verified
    InspectFailure failure = InspectFailure::None;
    RefString failedEntry;  // the entry's name as stored, for UnsafePath

private:
    bool inspectCurrentEntry(const unz_file_info& info, const char* storedName);
    bool verifyCurrentEntry(const unz_file_info& info, uint32_t& crc);
    const InstallRule* firstRuleFor(const RefString& name) const;
    bool placeFile(const RefString& target, bool extractOnly, uint32_t size, uint32_t crc);
    bool fail(InspectFailure why);
};

// The build's console messages for a package that cannot be catalogued.
extern const char kBlockErrorMessage[];         // readInstallScript failed
extern const char kNoRequiredFilesMessage[];    // serializeRecord returned 0
extern const char kNoBlockWarning[];            // read, but without a block

// The message for a failed inspectEntries, "Error: " to line feed.
RefString inspectionErrorMessage(const PackageArchive& archive);
