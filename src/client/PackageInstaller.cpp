#include "client/PackageInstaller.h"

#include "catalogue/PackageArchive.h"
#include "client/CataloguePath.h"
#include "client/GameFolder.h"
#include "foundation/AsciiText.h"
#include "install/InstallScript.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

namespace {

const char kTemporaryPrefix[] = ".kitsync-";
const char kTemporarySuffix[] = ".tmp";

std::string hex8(uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// A name of the pattern the installer's own temporary files have: a package
// holding one could have it taken for a leftover and removed.
bool isTemporaryName(const std::string& name)
{
    std::string lower = lowerCased(name);
    size_t prefix = sizeof kTemporaryPrefix - 1, suffix = sizeof kTemporarySuffix - 1;
    return lower.size() >= prefix + suffix && lower.compare(0, prefix, kTemporaryPrefix) == 0 &&
           lower.compare(lower.size() - suffix, suffix, kTemporarySuffix) == 0;
}

// A listed file as both sides describe it, for comparing them as multisets.
struct ListedFile {
    std::string path;  // lower case
    uint32_t size = 0;
    uint32_t crc = 0;

    bool operator<(const ListedFile& other) const
    {
        return std::tie(path, size, crc) < std::tie(other.path, other.size, other.crc);
    }
    bool operator==(const ListedFile& other) const
    {
        return path == other.path && size == other.size && crc == other.crc;
    }
    std::string text() const
    {
        return path + " (" + std::to_string(size) + " bytes, CRC-32 " + hex8(crc) + ")";
    }
};

void listCatalogue(const CatalogueNode& folder, const std::string& prefix, std::vector<ListedFile>& out)
{
    for (const CatalogueNode& child : folder.children) {
        if (child.isFolder)
            listCatalogue(child, prefix + child.name, out);
        else
            out.push_back(ListedFile{lowerCased(prefix + child.name), child.size, child.crc});
    }
}

void listArchive(const FileTreeNode& folder, const std::string& prefix, std::vector<ListedFile>& out)
{
    for (int32_t i = 0; i < folder.children.size; ++i) {
        const FileTreeNode& child = *folder.children[i];
        std::string path = prefix + child.name.c_str();
        if (child.isDirectory())
            listArchive(child, path, out);
        else if ((child.attributes & FileTreeNode::kExtractOnly) == 0)
            out.push_back(ListedFile{lowerCased(path), child.uncompressedSize, child.crc});
    }
}

// The first catalogue name, folder or file, that fails the client's screen.
bool findUnsafeName(const CatalogueNode& folder, const std::string& prefix, std::string& unsafe)
{
    for (const CatalogueNode& child : folder.children) {
        std::string path = prefix + child.name;
        std::string bare = child.isFolder && !path.empty() && path.back() == '\\' ? path.substr(0, path.size() - 1)
                                                                                   : path;
        if (!isSafeClientPath(bare)) {
            unsafe = path;
            return true;
        }
        if (child.isFolder && findUnsafeName(child, path, unsafe))
            return true;
    }
    return false;
}

// Feeds an entry's data into its temporary file and tells the observer once
// the first of several blocks is on the disk.
class TemporaryFileSink : public EntrySink {
public:
    TemporaryFileSink(platform::NewFile& file, InstallObserver* observer, const std::string& shown, uint32_t size)
        : file(file), observer(observer), shown(shown), size(size)
    {
    }

    bool take(const unsigned char* bytes, size_t count) override
    {
        if (!file.write(bytes, count)) {
            writeFailed = true;
            return false;
        }
        bool first = written == 0;
        written += count;
        if (first && written < size && observer != nullptr)
            observer->partlyWritten(shown);
        return true;
    }

    bool writeFailed = false;

private:
    platform::NewFile& file;
    InstallObserver* observer;
    const std::string& shown;
    uint64_t size;
    uint64_t written = 0;
};

// One file to write: the archive entry that an extraction in archive order
// leaves at its path, and where it goes.
struct Job {
    const PlacedEntry* entry = nullptr;
    size_t order = 0;  // the entry's index in the archive's placed entries
    bool listed = true;
    std::string duplicate;  // for the report, when other entries fill the path too
    GameFolder::Place place;
    std::string temporary;  // disk path, once created
};

class Installation {
public:
    Installation(const CataloguePackage& package, const std::string& archivePath, const std::string& folder,
                 const PackageFindings& findings, InstallObserver* observer)
        : package(package), archivePath(archivePath), findings(findings), observer(observer),
          archive(archivePath.c_str(), 10), disk(folder)
    {
    }

    InstallReport run()
    {
        if (verify() && choose() && write() && commit())
            report.status = InstallStatus::installed;
        return report;
    }

private:
    bool verify();
    bool screenTargets();
    bool compareTrees();
    bool choose();
    void chooseAt(const std::vector<size_t>& group, const std::set<std::string>& faulty);
    bool plan(Job& job);
    bool write();
    bool writeOne(Job& job);
    bool commit();
    void cleanUp();
    bool fail(InstallStatus status, const std::string& what);
    bool writeFailure(const std::string& what);

    const CataloguePackage& package;
    const std::string& archivePath;
    const PackageFindings& findings;
    InstallObserver* observer;
    PackageArchive archive;
    GameFolder disk;
    std::vector<Job> jobs;
    InstallReport report;
};

bool Installation::fail(InstallStatus status, const std::string& what)
{
    report.status = status;
    report.message = "Package " + printableAscii(package.name) + ": " + what;
    return false;
}

bool Installation::writeFailure(const std::string& what)
{
    cleanUp();
    return fail(InstallStatus::writeFailed, what);
}

// Everything here reads; nothing below the folder is touched until the
// archive has proved to be the one the catalogue describes.
bool Installation::verify()
{
    if (observer != nullptr)
        observer->verifying(archivePath);
    std::string unsafe;
    if (findUnsafeName(package.root, "", unsafe))
        return fail(InstallStatus::unsafeName, "the catalogue names an unsafe path " + printableAscii(unsafe));
    bool scriptRead = archive.readInstallScript();
    if (!archive.isOpen())
        return fail(InstallStatus::unreadable, "cannot open the archive " + printableAscii(archivePath));
    if (archive.archiveSize != package.archiveSize)
        return fail(InstallStatus::differs, "the archive has " + std::to_string(archive.archiveSize) +
                                                " bytes, the catalogue says " + std::to_string(package.archiveSize));
    if (!scriptRead)
        return fail(InstallStatus::differs, "the archive's instruction block is not accepted");
    if (!archive.placeEntries()) {
        if (archive.failure == InspectFailure::UnsafePath)
            return fail(InstallStatus::unsafeName,
                        "unsafe install path for archive entry " + printableAscii(archive.failedEntry.c_str()));
        return fail(InstallStatus::unreadable, "the archive's directory cannot be read");
    }
    return screenTargets() && compareTrees();
}

bool Installation::screenTargets()
{
    for (const PlacedEntry& entry : archive.placedEntries) {
        std::string target = entry.target.c_str();
        if (!isSafeClientPath(target) || isTemporaryName(splitCataloguePath(target).back()))
            return fail(InstallStatus::unsafeName, "unsafe install path " + printableAscii(target) + " for archive entry " +
                                                       printableAscii(entry.storedName.c_str()));
    }
    return true;
}

bool Installation::compareTrees()
{
    std::vector<ListedFile> listed, held;
    listCatalogue(package.root, "", listed);
    listArchive(*archive.root, "", held);
    std::sort(listed.begin(), listed.end());
    std::sort(held.begin(), held.end());
    auto difference = std::mismatch(listed.begin(), listed.end(), held.begin(), held.end());
    if (difference.first == listed.end() && difference.second == held.end())
        return true;
    if (difference.second == held.end() || (difference.first != listed.end() && *difference.first < *difference.second))
        return fail(InstallStatus::differs,
                    "the catalogue lists " + printableAscii(difference.first->text()) + ", the archive does not hold it");
    return fail(InstallStatus::differs,
                "the archive holds " + printableAscii(difference.second->text()) + ", the catalogue does not list it");
}

// Entries are grouped by the path they fill; the last of a group is what an
// extraction in archive order leaves there.
bool Installation::choose()
{
    std::set<std::string> faulty;
    for (const FileFinding& finding : findings.findings) {
        if (finding.fault != FileFault::unsafeName)
            faulty.insert(lowerCased(finding.path));
    }
    std::map<std::string, std::vector<size_t>> groups;
    for (size_t i = 0; i < archive.placedEntries.size(); ++i)
        groups[lowerCased(archive.placedEntries[i].target.c_str())].push_back(i);
    for (const auto& group : groups)
        chooseAt(group.second, faulty);
    std::sort(jobs.begin(), jobs.end(), [](const Job& a, const Job& b) { return a.order < b.order; });
    for (Job& job : jobs) {
        if (!plan(job))
            return false;
    }
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(), [](const Job& job) { return job.entry == nullptr; }),
               jobs.end());
    return true;
}

// A listed entry outranks an extract-only one at the same path: the listed
// file is what the catalogue and the folder check judge.
void Installation::chooseAt(const std::vector<size_t>& group, const std::set<std::string>& faulty)
{
    size_t winner = group.back();
    bool listed = false;
    for (size_t index : group) {
        if (!archive.placedEntries[index].extractOnly) {
            winner = index;
            listed = true;
        }
    }
    const PlacedEntry& entry = archive.placedEntries[winner];
    if (listed && faulty.count(lowerCased(entry.target.c_str())) == 0)
        return;
    Job job;
    std::set<std::pair<uint32_t, uint32_t>> contents;
    for (size_t index : group)
        contents.insert({archive.placedEntries[index].size, archive.placedEntries[index].crc});
    if (contents.size() > 1)
        job.duplicate = "the archive fills it " + std::to_string(group.size()) + " times; wrote the " +
                        (listed ? "last listed" : "last") + " entry, " + printableAscii(entry.storedName.c_str());
    job.entry = &entry;
    job.order = winner;
    job.listed = listed;
    jobs.push_back(job);
}

// Extract-only files already present, in any case, are left alone; such a
// job is dropped (its entry cleared).
bool Installation::plan(Job& job)
{
    GameFolder::Found found = disk.locate(splitCataloguePath(job.entry->target.c_str()), job.place);
    if (found == GameFolder::Found::throughLink)
        return fail(InstallStatus::unsafeName,
                    "not following the link " + printableAscii(job.place.shown) + " on the way to " +
                        printableAscii(job.entry->target.c_str()));
    if (!job.listed && found == GameFolder::Found::existing)
        job.entry = nullptr;
    return true;
}

bool Installation::write()
{
    for (Job& job : jobs) {
        if (!writeOne(job))
            return false;
    }
    return true;
}

// A leftover of a run that was stopped is removed first, so no more than
// one temporary file per target can ever exist.
bool Installation::writeOne(Job& job)
{
    std::string failedFolder;
    if (!disk.makeFoldersFor(job.place, failedFolder))
        return writeFailure("cannot make the folder " + printableAscii(failedFolder));
    std::string temporaryName = kTemporaryPrefix + job.place.name + kTemporarySuffix;
    for (const std::string& stale : disk.namesLike(job.place.folder, temporaryName))
        platform::deleteFile((job.place.folder + "/" + stale).c_str());
    std::string temporary = job.place.folder + "/" + temporaryName;
    if (observer != nullptr)
        observer->writing(job.place.shown);
    platform::NewFile file;
    if (!file.create(temporary.c_str()))
        return writeFailure("cannot create " + printableAscii(temporary));
    job.temporary = temporary;
    TemporaryFileSink sink(file, observer, job.place.shown, job.entry->size);
    ExtractResult result = archive.extract(*job.entry, sink);
    bool closed = file.close();
    if (result == ExtractResult::Unreadable || result == ExtractResult::CrcMismatch) {
        cleanUp();
        std::string why = result == ExtractResult::CrcMismatch ? " fails its CRC-32" : " cannot be read";
        return fail(InstallStatus::unreadable, "the archive entry " + printableAscii(job.entry->storedName.c_str()) + why);
    }
    if (result != ExtractResult::Extracted || !closed)
        return writeFailure("cannot write " + printableAscii(job.place.shown));
    return true;
}

// Every file has checked out; each rename replaces one target whole.
// Extract-only files go first: as long as a listed file is not in place
// the package counts as incomplete, so a run stopped in between is taken
// up again by the next one, which also clears the leftovers.
bool Installation::commit()
{
    std::stable_partition(jobs.begin(), jobs.end(), [](const Job& job) { return !job.listed; });
    for (Job& job : jobs) {
        if (observer != nullptr)
            observer->renaming(job.place.shown);
        std::string target = job.place.folder + "/" + job.place.name;
        if (!platform::renameReplacing(job.temporary.c_str(), target.c_str()))
            return writeFailure("cannot put " + printableAscii(job.place.shown) + " in place");
        job.temporary.clear();
        (job.listed ? report.written : report.extracted).push_back(job.place.shown);
        if (!job.duplicate.empty())
            report.duplicates.push_back(job.place.shown + ": " + job.duplicate);
    }
    return true;
}

// Files already renamed stay: each is whole and what the catalogue lists.
void Installation::cleanUp()
{
    for (Job& job : jobs) {
        if (!job.temporary.empty())
            platform::deleteFile(job.temporary.c_str());
        job.temporary.clear();
    }
    disk.removeMadeFolders();
}

}  // namespace

InstallReport installPackage(const CataloguePackage& package, const std::string& archivePath,
                             const std::string& folder, const PackageFindings& findings, InstallObserver* observer)
{
    return Installation(package, archivePath, folder, findings, observer).run();
}

