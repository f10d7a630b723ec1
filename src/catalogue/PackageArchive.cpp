#include "catalogue/PackageArchive.h"

#include "catalogue/ByteStream.h"
#include "foundation/AsciiText.h"
#include "foundation/StringArray.h"
#include "install/PathRules.h"
#include "wire/CatalogueLayout.h"

#include <zlib.h>

#include <cstring>

const char kBlockErrorMessage[] = "Error: Problems reading the Kitsync block\n";
const char kNoRequiredFilesMessage[] = "Error: No required files in package (no install/installpath command detected)\n";
const char kNoBlockWarning[] = "Warning: No Kitsync block found, using simple installation method\n";

namespace {

// Through the same functions the unzip layer reads with, so an archive
// held in memory is measured as a file is.
uint32_t measureArchive(const char* path, zlib_filefunc_def* given)
{
    zlib_filefunc_def functions;
    if (given != nullptr)
        functions = *given;
    else
        fill_fopen_filefunc(&functions);
    voidpf stream = functions.zopen_file(functions.opaque, path, ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
    if (stream == nullptr)
        return 0;
    uint32_t size = 0;
    if (functions.zseek_file(functions.opaque, stream, 0, ZLIB_FILEFUNC_SEEK_END) == 0) {
        long end = functions.ztell_file(functions.opaque, stream);
        if (end > 0)
            size = static_cast<uint32_t>(end);
    }
    functions.zclose_file(functions.opaque, stream);
    return size;
}

SharedRef<FileTreeNode> makeNode(FileTreeNode* parent, const RefString& name, uint16_t attributes)
{
    auto* node = new FileTreeNode;
    node->parent = parent;
    node->name = name;
    node->attributes = attributes;
    return SharedRef<FileTreeNode>(node);
}

// Bisects for the first child that the node comes before, so a node equal
// to existing ones goes after them.
void insertInOrder(FileTreeNode& folder, const SharedRef<FileTreeNode>& node)
{
    int32_t low = 0;
    int32_t high = folder.children.size;
    while (low < high) {
        int32_t middle = low + (high - low) / 2;
        if (nodeBefore(*node, *folder.children[middle]))
            high = middle;
        else
            low = middle + 1;
    }
    folder.children.insertAt(low, node);
}

// Folder names end with '\\' and file names never do, so a folder's name
// can only ever meet another folder.
FileTreeNode* childNamed(FileTreeNode& folder, const RefString& name)
{
    for (int32_t i = 0; i < folder.children.size; ++i) {
        FileTreeNode* child = folder.children[i].get();
        if (compareNamesIgnoringCase(child->name.c_str(), name.c_str()) == 0)
            return child;
    }
    return nullptr;
}

FileTreeNode* subfolder(FileTreeNode& folder, const RefString& component)
{
    RefString name = component;
    name += '\\';
    FileTreeNode* existing = childNamed(folder, name);
    if (existing != nullptr)
        return existing;
    SharedRef<FileTreeNode> created = makeNode(&folder, name, FileTreeNode::kDirectory);
    insertInOrder(folder, created);
    return created.get();
}

bool isExtractOnly(RuleKind kind)
{
    return kind == RuleKind::Extract || kind == RuleKind::ExtractPath;
}

RefString targetFor(const InstallRule& rule, const RefString& name)
{
    if (rule.kind == RuleKind::InstallPath || rule.kind == RuleKind::ExtractPath)
        return name;
    const RefString& destination = rule.destination;
    if (!destination.isEmpty() && destination.c_str()[destination.length() - 1] == '\\')
        return destination + fileNameOf(name);
    return destination;
}

bool isFolderEntry(const RefString& name)
{
    return !name.isEmpty() && name.c_str()[name.length() - 1] == '\\';
}

}  // namespace

PackageArchive::PackageArchive(const char* localPath, int8_t kind, zlib_filefunc_def* zipFunctions)
    : script(localPath), packageKind(static_cast<uint32_t>(static_cast<int32_t>(kind))), zipFunctions(zipFunctions)
{
    archiveSize = measureArchive(localPath, zipFunctions);
}

PackageArchive::~PackageArchive()
{
    if (zipHandle != nullptr)
        unzClose(zipHandle);
}

bool PackageArchive::readInstallScript()
{
    if (zipHandle != nullptr)
        unzClose(zipHandle);
    zipHandle = unzOpen2(script.archivePath.c_str(), zipFunctions);
    if (zipHandle == nullptr)
        return false;
    bool found = false;
    uint64_t size = 0;
    if (!findInstructionEntry(found, size))
        return false;
    if (found) {
        RefString text;
        if (!readCurrentEntryText(size, text) || !script.parseInstructionText(text.c_str()))
            return false;
    }
    script.completeDefaults();
    return true;
}

// Leaves the archive positioned on the instruction entry when found.
bool PackageArchive::findInstructionEntry(bool& found, uint64_t& size)
{
    found = false;
    unzGoToFirstFile(zipHandle);
    do {
        unz_file_info info;
        char name[kNameBufferSize];
        if (unzGetCurrentFileInfo(zipHandle, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        // A longer name is cut and unterminated in the buffer; it cannot
        // be "kitsync.txt" anyway.
        if (info.size_filename < kNameBufferSize &&
            equalsIgnoringCase(toBackslashes(name).c_str(), kInstructionFileName)) {
            found = true;
            size = info.uncompressed_size;
            return true;
        }
    } while (unzGoToNextFile(zipHandle) == UNZ_OK);
    return true;
}

bool PackageArchive::readCurrentEntryText(uint64_t size, RefString& text)
{
    if (size > kMaxInstructionSize)
        return false;
    if (unzOpenCurrentFile(zipHandle) != UNZ_OK)
        return false;
    auto n = static_cast<int32_t>(size);
    text = RefString::adopt(RefString::allocData(n));
    int got = unzReadCurrentFile(zipHandle, text.chars(), static_cast<unsigned>(n));
    // The entry's integrity is judged by the inspection, which reads every
    // entry again; the close result adds nothing here.
    unzCloseCurrentFile(zipHandle);
    if (got < 0)
        return false;
    text.chars()[got] = '\0';
    text.setLength(got);
    return true;
}

namespace {

struct Inflated {
    int lastRead = 0;  // below 0: the unzip layer failed
    bool sinkRefused = false;
    uint64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
};

// Reads the open entry to its end, handing each block to the sink (when
// given) and, when summing, to crc32.
Inflated inflateCurrent(unzFile zip, unsigned char* block, unsigned blockSize, EntrySink* sink, bool summing)
{
    Inflated out;
    while ((out.lastRead = unzReadCurrentFile(zip, block, blockSize)) > 0) {
        auto got = static_cast<unsigned>(out.lastRead);
        if (summing)
            out.crc = crc32(out.crc, block, got);
        out.total += got;
        if (sink != nullptr && !sink->take(block, got)) {
            out.sinkRefused = true;
            break;
        }
    }
    return out;
}

}  // namespace

bool PackageArchive::inspectEntries()
{
    return walkEntries(true);
}

bool PackageArchive::placeEntries()
{
    return walkEntries(false);
}

bool PackageArchive::walkEntries(bool inflate)
{
    placedEntries.clear();
    failure = InspectFailure::None;
    crcMismatch = false;
    checksum = 0;
    if (zipHandle == nullptr)
        return fail(InspectFailure::Unreadable);
    root = makeNode(nullptr, "", FileTreeNode::kDirectory);
    unz_global_info global;
    if (unzGetGlobalInfo(zipHandle, &global) != UNZ_OK)
        return fail(InspectFailure::Unreadable);
    unzGoToFirstFile(zipHandle);
    for (uLong visited = 1;; ++visited) {
        unz_file_info info;
        char name[kNameBufferSize];
        if (unzGetCurrentFileInfo(zipHandle, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            return fail(InspectFailure::Unreadable);
        // A longer name would be cut and unterminated in the buffer.
        if (info.size_filename >= kNameBufferSize)
            return fail(InspectFailure::Unreadable);
        if (!placeCurrentEntry(info, name, inflate))
            return false;
        int step = unzGoToNextFile(zipHandle);
        // Only the end of the list ends the walk well: a central directory
        // damaged further on would otherwise drop files without a word.
        // The unzip layer walks on past a 16-bit count of 0xFFFF and then
        // fails at the end, so having seen every counted entry is the end too.
        if (step == UNZ_END_OF_LIST_OF_FILE || (step != UNZ_OK && visited >= global.number_entry))
            return true;
        if (step != UNZ_OK)
            return fail(InspectFailure::Unreadable);
    }
}

// Without inflating, the recorded CRC-32 stands in for the data's.
bool PackageArchive::placeCurrentEntry(const unz_file_info& info, const char* storedName, bool inflate)
{
    RefString name = toBackslashes(storedName);
    if (isFolderEntry(name))
        return true;  // folders arise only from target paths
    auto crc = static_cast<uint32_t>(info.crc);
    if (inflate && !verifyCurrentEntry(info, crc))
        return false;
    if (!inflate && info.uncompressed_size > UINT32_MAX)
        return fail(InspectFailure::Unreadable);
    checksum ^= crc;
    const InstallRule* rule = firstRuleFor(name);
    if (rule == nullptr || rule->kind == RuleKind::Ignore)
        return true;
    auto size = static_cast<uint32_t>(info.uncompressed_size);
    RefString target = targetFor(*rule, name);
    if (!placeFile(target, isExtractOnly(rule->kind), size, crc)) {
        failedEntry = storedName;
        return fail(InspectFailure::UnsafePath);
    }
    recordPlaced(storedName, target, isExtractOnly(rule->kind), size, crc);
    return true;
}

void PackageArchive::recordPlaced(const char* storedName, const RefString& target, bool extractOnly, uint32_t size,
                                  uint32_t crc)
{
    PlacedEntry entry;
    entry.storedName = storedName;
    entry.target = target;
    entry.extractOnly = extractOnly;
    entry.size = size;
    entry.crc = crc;
    unzGetFilePos64(zipHandle, &entry.position);
    placedEntries.push_back(entry);
}

// Streams the entry through crc32. The unzip layer checks the CRC itself
// when an entry is read to its recorded size and reports a mismatch on
// closing; the comparison here catches data that ends before that size.
bool PackageArchive::verifyCurrentEntry(const unz_file_info& info, uint32_t& crc)
{
    if (info.uncompressed_size > UINT32_MAX)
        return fail(InspectFailure::Unreadable);  // the record's size field is 32 bits
    if (unzOpenCurrentFile(zipHandle) != UNZ_OK)
        return fail(InspectFailure::Unreadable);
    unsigned char block[kReadBlockSize];
    Inflated read = inflateCurrent(zipHandle, block, sizeof block, nullptr, true);
    int closed = unzCloseCurrentFile(zipHandle);
    if (read.lastRead < 0 || closed != UNZ_OK)
        return fail(InspectFailure::Unreadable);
    crc = static_cast<uint32_t>(read.crc);
    if (crc != info.crc) {
        crcMismatch = true;
        return fail(InspectFailure::CrcMismatch);
    }
    // Data whose CRC fits but that ends early would be listed with a size
    // the client can never match.
    if (read.total != info.uncompressed_size)
        return fail(InspectFailure::Unreadable);
    return true;
}

// The unzip layer checks the CRC-32 on closing an entry read to its
// recorded size, so summing here again would only cost time; data that
// ends early escapes that check and is caught by the count.
ExtractResult PackageArchive::extract(const PlacedEntry& entry, EntrySink& sink)
{
    if (zipHandle == nullptr || unzGoToFilePos64(zipHandle, &entry.position) != UNZ_OK ||
        unzOpenCurrentFile(zipHandle) != UNZ_OK)
        return ExtractResult::Unreadable;
    extractBlock.resize(kExtractBlockSize);
    Inflated read = inflateCurrent(zipHandle, extractBlock.data(), kExtractBlockSize, &sink, false);
    int closed = unzCloseCurrentFile(zipHandle);
    if (read.sinkRefused)
        return ExtractResult::SinkRefused;
    if (closed == UNZ_CRCERROR)
        return ExtractResult::CrcMismatch;
    if (read.lastRead < 0 || closed != UNZ_OK || read.total != entry.size)
        return ExtractResult::Unreadable;
    return ExtractResult::Extracted;
}

const InstallRule* PackageArchive::firstRuleFor(const RefString& name) const
{
    const SharedRefArray<InstallRule>& rules = script.rules;
    for (int32_t i = 0; i < rules.size; ++i) {
        if (wildcardMatch(name.c_str(), rules[i]->pattern.c_str()))
            return rules[i].get();
    }
    return nullptr;
}

// False when the target cannot be placed inside the game folder: a
// component that climbs out or names a drive or stream, or no name at all.
bool PackageArchive::placeFile(const RefString& target, bool extractOnly, uint32_t size, uint32_t crc)
{
    StringArray parts;
    splitPath(target, parts);
    if (parts.size == 0 || !isSafeInstallPath(target))
        return false;
    FileTreeNode* folder = root.get();
    for (int32_t i = 0; i + 1 < parts.size; ++i)
        folder = subfolder(*folder, parts[i]);
    const RefString& fileName = parts[parts.size - 1];
    for (int32_t i = 0; i < folder->children.size; ++i) {
        FileTreeNode* child = folder->children[i].get();
        if (compareNamesIgnoringCase(child->name.c_str(), fileName.c_str()) == 0 && child->uncompressedSize == size &&
            child->crc == crc)
            return true;  // the same file placed twice adds nothing
    }
    SharedRef<FileTreeNode> file = makeNode(folder, fileName, extractOnly ? FileTreeNode::kExtractOnly : 0);
    file->uncompressedSize = size;
    file->crc = crc;
    insertInOrder(*folder, file);
    return true;
}

bool PackageArchive::fail(InspectFailure why)
{
    failure = why;
    return false;
}

uint32_t PackageArchive::serializeRecord(ByteStream& stream) const
{
    RecordWriter writer(stream);
    const RefString reserved[wire::kPackageReservedTexts];
    wire::packageHead(writer, packageUrl, archiveSize, script.packageName, script.infoUrl, reserved, packageKind);
    if (!root) {
        uint8_t emptyTree = 0;  // only reachable without a successful inspection
        stream.write(&emptyTree, 1);
        return 0;
    }
    return root->serialize(stream);
}

namespace {

// Entry names come from the package author; control bytes could rewrite
// the operator's console line.
RefString printableName(const RefString& name)
{
    RefString shown = name;
    shown.unshare();
    for (char* p = shown.chars(); *p != '\0'; ++p) {
        if (static_cast<unsigned char>(*p) < 32 || *p == 127)
            *p = '?';
    }
    return shown;
}

}  // namespace

RefString inspectionErrorMessage(const PackageArchive& archive)
{
    if (archive.crcMismatch)
        return "Error: CRC32 error verifying archive\n";
    if (archive.failure == InspectFailure::UnsafePath)
        return RefString("Error: Unsafe install path for archive entry ") + printableName(archive.failedEntry) + "\n";
    return "Error: Problems reading the archive\n";
}
