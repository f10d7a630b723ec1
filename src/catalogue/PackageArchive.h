#pragma once

#include "catalogue/FileTreeNode.h"
#include "foundation/RefString.h"
#include "foundation/SharedRef.h"
#include "install/InstallScript.h"

#include <minizip/unzip.h>

#include <cstdint>
#include <vector>

class ByteStream;

// Why inspectEntries gave up; the build's message depends on it.
enum class InspectFailure {
    None,
    Unreadable,   // an entry could not be listed, opened, read or closed
    CrcMismatch,  // an entry's data does not give its recorded CRC-32
    UnsafePath,   // an entry would be placed outside the game folder
};

// An archive entry that a rule placed in the tree, as the central
// directory records it: enough to find it again and to extract it.
struct PlacedEntry {
    RefString storedName;  // as stored in the archive
    RefString target;      // below the game folder, '\' form, the archive's case
    bool extractOnly = false;
    uint32_t size = 0;
    uint32_t crc = 0;
    unz64_file_pos position{};
};

// Takes an entry's data in order, block by block, while it is extracted.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    // False stops the extraction.
    virtual bool take(const unsigned char* bytes, size_t size) = 0;
};

enum class ExtractResult {
    Extracted,    // every byte went to the sink, and size and CRC-32 match the directory
    Unreadable,   // the entry cannot be found, opened or read, or ends early
    CrcMismatch,  // read whole, but the data does not give the recorded CRC-32
    SinkRefused,  // the sink stopped it
};

// One downloaded package while the catalogue is built: constructed on the
// local file, then readInstallScript, inspectEntries and serializeRecord in
// that order. The archive stays open from readInstallScript on, for the walk
// over its entries; destroying it closes the file so it can be deleted.
class PackageArchive {
public:
    // Entry names are read into a buffer of this size, terminator included;
    // an entry whose name does not fit can never be the instruction file.
    static const uint32_t kNameBufferSize = 260;
    // The instruction file is held in memory whole; a larger one is refused
    // instead of trusting whatever size its header claims.
    static const uint32_t kMaxInstructionSize = 16u * 1024 * 1024;
    // Entries are read and checked in blocks of this size; nothing of an
    // entry's contents is kept.
    static const uint32_t kReadBlockSize = 4096;
    // Extraction hands the sink blocks of this size (the last one smaller),
    // large enough that writing them costs few system calls.
    static const uint32_t kExtractBlockSize = 256 * 1024;

    // kind: 3 for an optional package, 10 otherwise. zipFunctions, when
    // given, is how the archive named localPath is read (the fuzz program's
    // archive in memory); without, it is that file. Measures archiveSize.
    PackageArchive(const char* localPath, int8_t kind, zlib_filefunc_def* zipFunctions = nullptr);
    PackageArchive(const PackageArchive&) = delete;
    PackageArchive& operator=(const PackageArchive&) = delete;
    ~PackageArchive();

    // Opens the archive, parses the block of its instruction file into
    // script and completes the defaults. True when the archive holds no
    // block or a block accepted whole; false when the archive, the
    // instruction file or a line of the block cannot be read. Prints nothing.
    bool readInstallScript();
    bool isOpen() const { return zipHandle != nullptr; }

    // Reads every entry, verifies its CRC-32 and places the files that the
    // rules install or extract into the tree under root. False on the first
    // failure, with failure (and crcMismatch) telling which; the tree stays
    // as far as it got.
    bool inspectEntries();

    // The same tree from the central directory alone: recorded names, sizes
    // and CRC-32s, nothing inflated, so never a CrcMismatch. A client uses it
    // to compare an archive with its catalogue before extracting anything.
    bool placeEntries();

    // Inflates one entry of placedEntries into sink and checks what came
    // out against the recorded size and CRC-32. After readInstallScript.
    ExtractResult extract(const PlacedEntry& entry, EntrySink& sink);

    // Appends the package's catalogue record; returns the number of files
    // listed to clients (0: the package installs nothing).
    uint32_t serializeRecord(ByteStream& stream) const;

    InstallScript script;
    SharedRef<FileTreeNode> root;
    uint32_t archiveSize = 0;  // 0 when the file cannot be opened
    RefString packageUrl;
    uint32_t packageKind;
    bool crcMismatch = false;
    uint32_t checksum = 0;  // XOR of the CRC-32 of every file entry verified
    InspectFailure failure = InspectFailure::None;
    RefString failedEntry;  // the entry's name as stored, for UnsafePath
    // Every entry that either walk placed, in archive order; an entry that
    // repeats a file (same path, size and CRC-32) is here though not in the tree.
    std::vector<PlacedEntry> placedEntries;

private:
    bool findInstructionEntry(bool& found, uint64_t& size);
    bool readCurrentEntryText(uint64_t size, RefString& text);
    bool walkEntries(bool inflate);
    bool placeCurrentEntry(const unz_file_info& info, const char* storedName, bool inflate);
    void recordPlaced(const char* storedName, const RefString& target, bool extractOnly, uint32_t size, uint32_t crc);
    bool verifyCurrentEntry(const unz_file_info& info, uint32_t& crc);
    const InstallRule* firstRuleFor(const RefString& name) const;
    bool placeFile(const RefString& target, bool extractOnly, uint32_t size, uint32_t crc);
    bool fail(InspectFailure why);

    zlib_filefunc_def* zipFunctions;
    unzFile zipHandle = nullptr;
    std::vector<unsigned char> extractBlock;
};

// The build's console messages for a package that cannot be catalogued.
extern const char kBlockErrorMessage[];         // readInstallScript failed
extern const char kNoRequiredFilesMessage[];    // serializeRecord returned 0
extern const char kNoBlockWarning[];            // read, but without a block

// The message for a failed inspectEntries, "Error: " to line feed.
RefString inspectionErrorMessage(const PackageArchive& archive);
