#include "catalogue/CatalogueSettingsCheck.h"

#include "support/TreeNodes.h"
#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "catalogue/PackageArchive.h"
#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace {

void addPackage(Settings& settings, const char* url, uint8_t kind)
{
    settings.packageUrls.add(RefString(url));
    settings.packageKinds.add(kind);
}

// What kitsync.ini said when the stored catalogue was built.
void builtFrom(Settings& settings)
{
    settings.serverName = "Alpha";
    settings.serverInfo = "Weekend campaign";
    addPackage(settings, "file:///srv/units.zip", Settings::kRequiredPackage);
    addPackage(settings, "file:///srv/maps.zip", Settings::kOptionalPackage);
}

// A record whose tree has a folder, a listed file in it and one at the
// root, so that reading past it walks every kind of entry.
void writeRecord(MemoryStream& catalogue, const RefString& url, uint8_t kind)
{
    PackageArchive archive("no-such-file.zip", static_cast<int8_t>(kind));
    archive.packageUrl = url;
    archive.script.packageName = "Units";
    archive.root = SharedRef<FileTreeNode>(new FileTreeNode);
    archive.root->attributes = FileTreeNode::kDirectory;
    addNode(*addNode(*archive.root, "addons\\", FileTreeNode::kDirectory), "x.pbo", 0, 10);
    addNode(*archive.root, "mod.cpp", 0);
    archive.serializeRecord(catalogue);
}

void sealBuiltCatalogue(InfoBlock& block)
{
    Settings settings;
    builtFrom(settings);
    MemoryStream catalogue(4096);
    writeCatalogueHead(catalogue, settings);
    for (int32_t i = 0; i < settings.packageUrls.size; ++i)
        writeRecord(catalogue, settings.packageUrls[i], settings.packageKinds[i]);
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(sealCatalogue(catalogue, 0, block));
    ::testing::internal::GetCapturedStdout();
}

struct SettingsCase {
    const char* what;
    std::function<void(Settings&)> edit;
    bool matches;
};

}  // namespace

TEST(CatalogueSettingsCheck, OnlyTheSettingsTheCatalogueWasBuiltFromMatch)
{
    InfoBlock block;
    sealBuiltCatalogue(block);
    const SettingsCase cases[] = {
        {"the same settings", [](Settings&) {}, true},
        {"a port change, which the catalogue does not carry", [](Settings& s) { s.gamePort = "2400"; }, true},
        {"another server name", [](Settings& s) { s.serverName = "Beta"; }, false},
        {"a package added", [](Settings& s) { addPackage(s, "file:///srv/new.zip", Settings::kRequiredPackage); }, false},
        {"a package left out", [](Settings& s) { s.packageUrls.setSize(1); s.packageKinds.setSize(1); }, false},
        {"the optional mark changed", [](Settings& s) { s.packageKinds[1] = Settings::kRequiredPackage; }, false},
        {"another URL", [](Settings& s) { s.packageUrls[0] = "file:///srv/units2.zip"; }, false},
        {"the packages reordered",
         [](Settings& s) {
             std::swap(s.packageUrls[0], s.packageUrls[1]);
             std::swap(s.packageKinds[0], s.packageKinds[1]);
         },
         false},
    };
    for (const SettingsCase& c : cases) {
        Settings now;
        builtFrom(now);
        c.edit(now);
        EXPECT_EQ(catalogueMatchesSettings(block, now), c.matches) << c.what;
    }
    Settings now;
    builtFrom(now);
    block.chunks[0]->data[2] ^= 0xFF;  // the length word no longer fits: unreadable counts as different
    EXPECT_FALSE(catalogueMatchesSettings(block, now));
}
