#include "client/FolderCheck.h"

#include "CatalogueBytes.h"
#include "client/CatalogueDecoder.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace {

const std::string kCore = "core contents", kDeep = "deep", kMap = "a map";

Catalogue decoded(const CatalogueBytes& out)
{
    Catalogue catalogue;
    std::string error;
    EXPECT_TRUE(decodeCatalogue(out.bytes.data(), out.bytes.size(), catalogue, error)) << error;
    return catalogue;
}

// A required package with a nested tree and an optional one, described
// with the sizes and CRCs of the contents above.
FolderCheck checked(const TempFolder& folder)
{
    CatalogueBytes out;
    out.head("S", 2).package("http://x/core.zip", 1, "Core", 10);
    out.text("addons\\").text("sub\\").file("deep.pbo", 4, crcOf(kDeep)).end();
    out.file("core.pbo", 13, crcOf(kCore)).end().end();
    out.package("http://x/maps.zip", 1, "Maps", 3).text("maps\\").file("map.pbo", 5, crcOf(kMap)).end().end();
    FolderCheck check;
    std::string error;
    EXPECT_TRUE(checkFolder(decoded(out), folder.folder(), check, error)) << error;
    return check;
}

// The disk spells names in capitals where the catalogue has lower case, and
// holds "Addons" and "addons" side by side, as a careless copy onto a
// case-sensitive disk can leave them.
void writeMatchingFolder(const TempFolder& folder)
{
    folder.write("Addons/Sub/Deep.PBO", kDeep);
    folder.write("addons/CORE.pbo", kCore);
    folder.write("Maps/map.pbo", kMap);
}

// Only the required package's faults make the folder incomplete.
TEST(FolderCheck, IgnoresCaseAndReportsMissingResizedAndChangedFiles)
{
    TempFolder folder;
    writeMatchingFolder(folder);
    FolderCheck check = checked(folder);
    EXPECT_TRUE(check.requiredComplete());
    EXPECT_EQ(check.filesChecked(), 3u);
    EXPECT_EQ(check.faultyFiles(), 0u);

    folder.write("Maps/map.pbo", "a longer map");
    check = checked(folder);
    EXPECT_TRUE(check.requiredComplete());
    ASSERT_EQ(check.packages[1].findings.size(), 1u);
    const FileFinding& map = check.packages[1].findings[0];
    EXPECT_EQ(map.fault, FileFault::sizeDiffers);
    EXPECT_EQ(map.actualSize, 12u);
    EXPECT_EQ(map.expectedSize, 5u);

    std::filesystem::remove(folder.path("Addons/Sub/Deep.PBO"));
    folder.write("addons/CORE.pbo", "core Contents");  // same size, other bytes
    check = checked(folder);
    EXPECT_FALSE(check.requiredComplete());
    const std::vector<FileFinding>& core = check.packages[0].findings;
    ASSERT_EQ(core.size(), 2u);
    EXPECT_EQ(core[0].path, "addons\\sub\\deep.pbo");
    EXPECT_EQ(core[0].fault, FileFault::missing);
    EXPECT_EQ(core[1].path, "addons\\core.pbo");
    EXPECT_EQ(core[1].fault, FileFault::crcDiffers);
    EXPECT_EQ(core[1].actualCrc, crcOf("core Contents"));
}

// A folder where a file should be is not the file, nor the other way round;
// names that leave the folder are not followed.
TEST(FolderCheck, KindOfEntryMustMatchAndNamesStayInside)
{
    TempFolder fileAsFolder, folderAsFile;
    writeMatchingFolder(fileAsFolder);
    std::filesystem::remove(fileAsFolder.path("addons/CORE.pbo"));
    fileAsFolder.write("addons/core.pbo/inner", kCore);
    EXPECT_EQ(checked(fileAsFolder).packages[0].findings.size(), 1u);
    folderAsFile.write("addons", "not a folder");
    folderAsFile.write("maps/map.pbo", kMap);
    FolderCheck check = checked(folderAsFile);
    EXPECT_EQ(check.count(FileFault::missing), 2u);
    EXPECT_EQ(check.packages[0].findings.size(), 2u);

    folderAsFile.write("inside/secret.txt", "top secret");
    CatalogueBytes out;
    out.head("S", 1).package("u", 1, "Evil", 10).text("..\\").file("secret.txt", 10, crcOf("top secret")).end().end();
    FolderCheck unsafe;
    std::string error;
    ASSERT_TRUE(checkFolder(decoded(out), folderAsFile.path("inside"), unsafe, error));
    EXPECT_EQ(unsafe.count(FileFault::unsafeName), 1u);
    EXPECT_FALSE(unsafe.requiredComplete());
}

}  // namespace
