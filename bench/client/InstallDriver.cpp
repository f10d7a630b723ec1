// Installs one package archive into a folder with installPackage, as the
// sync tool will. The package's catalogue entry is taken from the archive's
// central directory, which inflates nothing, so the time measured is the
// installer's: its own check of the archive, inflating, writing, renaming.
//
// usage: kitsync-install-bench <archive> <folder>

#include "catalogue/PackageArchive.h"
#include "client/FolderCheck.h"
#include "client/PackageInstaller.h"

#include <cstdio>

namespace {

void convert(const FileTreeNode& from, CatalogueNode& to)
{
    RefString lowered = from.name;
    lowered.makeLower();
    to.name = lowered.c_str();
    to.isFolder = from.isDirectory();
    to.size = from.uncompressedSize;
    to.crc = from.crc;
    for (int32_t i = 0; i < from.children.size; ++i) {
        const FileTreeNode& child = *from.children[i];
        if (child.isDirectory() || (child.attributes & FileTreeNode::kExtractOnly) == 0) {
            to.children.emplace_back();
            convert(child, to.children.back());
        }
    }
}

bool catalogued(const char* archivePath, CataloguePackage& package)
{
    PackageArchive archive(archivePath, 10);
    if (!archive.readInstallScript() || !archive.placeEntries())
        return false;
    package.archiveSize = archive.archiveSize;
    package.name = archive.script.packageName.c_str();
    convert(*archive.root, package.root);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <archive> <folder>\n", argv[0]);
        return 2;
    }
    CataloguePackage package;
    if (!catalogued(argv[1], package)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    Catalogue catalogue;
    catalogue.packages.push_back(package);
    FolderCheck check;
    std::string error;
    if (!checkFolder(catalogue, argv[2], check, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    InstallReport report = installPackage(package, argv[1], argv[2], check.packages[0]);
    if (report.status != InstallStatus::installed) {
        std::fprintf(stderr, "%s: %s\n", installStatusText(report.status), report.message.c_str());
        return 1;
    }
    std::printf("%zu written, %zu extracted\n", report.written.size(), report.extracted.size());
    return 0;
}
