#include "client/FolderCheck.h"

#include "client/CataloguePath.h"

#include "foundation/AsciiText.h"
#include "install/InstallScript.h"
#include "platform/FolderListing.h"

#include <cstdio>
#include <map>
#include <zlib.h>

namespace {

// The CRC-32 of a file's contents, read in blocks; false on a read failure.
bool fileCrc(const std::string& path, uint32_t& crc)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::vector<unsigned char> block(1 << 16);
    uLong sum = crc32(0L, Z_NULL, 0);
    size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0)
        sum = crc32(sum, block.data(), static_cast<uInt>(got));
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    crc = static_cast<uint32_t>(sum);
    return !failed;
}

// Finds catalogue paths on the disk, listing each folder once however
// many files of the catalogue it holds.
class FolderMatcher {
public:
    explicit FolderMatcher(const std::string& root) : root(root) {}

    bool rootReadable() { return listing(root) != nullptr; }

    // The disk path of the entry, or false when some part is not there.
    bool find(const std::vector<std::string>& parts, std::string& path, uint64_t& size)
    {
        return findFrom(root, parts, 0, path, size);
    }

private:
    // Each spelling that matches is tried, the exact one first, since a
    // case-sensitive disk may hold "Addons" and "addons" side by side.
    bool findFrom(const std::string& folder, const std::vector<std::string>& parts, size_t next, std::string& path,
                  uint64_t& size)
    {
        bool last = next + 1 == parts.size();
        for (const platform::FolderEntry* entry : matches(folder, parts[next], !last)) {
            std::string candidate = folder + "/" + entry->name;
            if (last) {
                path = candidate;
                size = entry->size;
                return true;
            }
            if (findFrom(candidate, parts, next + 1, path, size))
                return true;
        }
        return false;
    }

    const std::vector<platform::FolderEntry>* listing(const std::string& folder)
    {
        auto known = listings.find(folder);
        if (known == listings.end()) {
            Listing fresh;
            fresh.readable = platform::listFolder(folder, fresh.entries);
            known = listings.emplace(folder, std::move(fresh)).first;
        }
        return known->second.readable ? &known->second.entries : nullptr;
    }

    std::vector<const platform::FolderEntry*> matches(const std::string& folder, const std::string& part,
                                                      bool wantFolder)
    {
        std::vector<const platform::FolderEntry*> found;
        const std::vector<platform::FolderEntry>* entries = listing(folder);
        if (entries == nullptr)
            return found;
        std::string wanted = lowerCased(part);
        for (const platform::FolderEntry& entry : *entries) {
            if (entry.isFolder != wantFolder || lowerCased(entry.name) != wanted)
                continue;
            if (entry.name == part)
                found.insert(found.begin(), &entry);
            else
                found.push_back(&entry);
        }
        return found;
    }

    struct Listing {
        bool readable = false;
        std::vector<platform::FolderEntry> entries;
    };

    std::string root;
    std::map<std::string, Listing> listings;
};

// Calls visit(node, path) for every listed file below folder, in the
// catalogue's order.
template <typename Visit>
void forEachFile(const CatalogueNode& folder, const std::string& prefix, Visit&& visit)
{
    for (const CatalogueNode& child : folder.children) {
        if (child.isFolder)
            forEachFile(child, prefix + child.name, visit);
        else
            visit(child, prefix + child.name);
    }
}

class PackageChecker {
public:
    PackageChecker(FolderMatcher& matcher, PackageFindings& out) : matcher(matcher), out(out) {}

    // Where two listed files share a path, an extraction in archive order
    // leaves the later one, so that is the one judged; a file equal to an
    // earlier one passes too, since the archive may hold that one again
    // further on (the build lists equal files at one path once).
    void check(const CatalogueNode& root)
    {
        std::map<std::string, std::vector<const CatalogueNode*>> listed;
        forEachFile(root, "", [&](const CatalogueNode& file, const std::string& path) {
            listed[lowerCased(path)].push_back(&file);
        });
        forEachFile(root, "", [&](const CatalogueNode& file, const std::string& path) {
            const std::vector<const CatalogueNode*>& atPath = listed[lowerCased(path)];
            if (atPath.back() == &file)
                checkFile(file, path, atPath);
            else
                out.shadowed.push_back(path);
        });
    }

private:
    void checkFile(const CatalogueNode& file, const std::string& catalogPath,
                   const std::vector<const CatalogueNode*>& atPath)
    {
        ++out.filesChecked;
        FileFinding finding;
        finding.path = catalogPath;
        finding.expectedSize = file.size;
        finding.expectedCrc = file.crc;
        if (judge(finding) && !equalsEarlier(finding, atPath))
            out.findings.push_back(finding);
    }

    bool equalsEarlier(const FileFinding& finding, const std::vector<const CatalogueNode*>& atPath)
    {
        if (finding.fault != FileFault::sizeDiffers && finding.fault != FileFault::crcDiffers)
            return false;
        uint32_t crc = finding.actualCrc;
        bool crcKnown = finding.fault == FileFault::crcDiffers;
        for (size_t i = 0; i + 1 < atPath.size(); ++i) {
            if (atPath[i]->size != finding.actualSize)
                continue;
            if (!crcKnown && !fileCrc(foundPath, crc))
                return false;
            crcKnown = true;
            if (atPath[i]->crc == crc)
                return true;
        }
        return false;
    }

    // True when the file is at fault; the finding then says how.
    bool judge(FileFinding& finding)
    {
        if (!isSafeClientPath(finding.path)) {
            finding.fault = FileFault::unsafeName;
            return true;
        }
        std::vector<std::string> parts = splitCataloguePath(finding.path);
        if (!matcher.find(parts, foundPath, finding.actualSize)) {
            finding.fault = FileFault::missing;
            return true;
        }
        if (finding.actualSize != finding.expectedSize) {
            finding.fault = FileFault::sizeDiffers;
            return true;
        }
        if (!fileCrc(foundPath, finding.actualCrc)) {
            finding.fault = FileFault::unreadable;
            return true;
        }
        finding.fault = FileFault::crcDiffers;
        return finding.actualCrc != finding.expectedCrc;
    }

    std::string foundPath;  // of the file judged last
    FolderMatcher& matcher;
    PackageFindings& out;
};

}  // namespace

uint32_t FolderCheck::filesChecked() const
{
    uint32_t total = 0;
    for (const PackageFindings& package : packages)
        total += package.filesChecked;
    return total;
}

uint32_t FolderCheck::count(FileFault fault) const
{
    uint32_t total = 0;
    for (const PackageFindings& package : packages) {
        for (const FileFinding& finding : package.findings)
            total += finding.fault == fault ? 1 : 0;
    }
    return total;
}

uint32_t FolderCheck::faultyFiles() const
{
    uint32_t total = 0;
    for (const PackageFindings& package : packages)
        total += static_cast<uint32_t>(package.findings.size());
    return total;
}

bool FolderCheck::requiredComplete() const
{
    for (const PackageFindings& package : packages) {
        if (!package.optional && !package.findings.empty())
            return false;
    }
    return true;
}

bool checkFolder(const Catalogue& catalogue, const std::string& folder, FolderCheck& out, std::string& error)
{
    out = FolderCheck();
    FolderMatcher matcher(folder);
    if (!matcher.rootReadable()) {
        error = "cannot read the folder " + folder;
        return false;
    }
    for (const CataloguePackage& package : catalogue.packages) {
        out.packages.emplace_back();
        PackageFindings& findings = out.packages.back();
        findings.name = package.name;
        findings.optional = package.isOptional();
        PackageChecker(matcher, findings).check(package.root);
    }
    return true;
}

const char* fileFaultText(FileFault fault)
{
    switch (fault) {
    case FileFault::missing:
        return "missing";
    case FileFault::sizeDiffers:
        return "size differs";
    case FileFault::crcDiffers:
        return "CRC-32 differs";
    case FileFault::unreadable:
        return "unreadable";
    case FileFault::unsafeName:
        return "unsafe name";
    }
    return "?";
}
