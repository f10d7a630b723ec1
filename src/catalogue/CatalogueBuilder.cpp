#include "catalogue/CatalogueBuilder.h"

#include "catalogue/ByteStream.h"
#include "catalogue/Download.h"
#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "catalogue/PackageArchive.h"
#include "foundation/AsciiText.h"
#include "foundation/ByteArray.h"
#include "foundation/ConsoleOutput.h"
#include "platform/FileSystem.h"
#include "platform/UrlReader.h"
#include "wire/LittleEndian.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr uint32_t kStreamCapacity = 4096;

bool endsWithIgnoringCase(const char* text, const char* suffix)
{
    size_t textLength = std::strlen(text);
    size_t suffixLength = std::strlen(suffix);
    return textLength >= suffixLength && equalsIgnoringCase(text + textLength - suffixLength, suffix);
}

// Control bytes would reach the operator's terminal in the prompt, a
// separator leads out of the working folder, and a ':' makes a Windows
// name drive-relative or a stream of another file. A name that the file
// system refuses for other reasons fails later, when the download cannot
// create it.
bool isNameCharacter(char c)
{
    auto byte = static_cast<unsigned char>(c);
    return byte >= 32 && byte != 127 && c != ':' && c != '/' && c != '\\';
}

// A download is written to its local name and deleted afterwards, so a
// name that is one of the server's own files would destroy that file.
// Windows drops trailing dots and blanks from a name, so "kitsync.ini."
// opens kitsync.ini there.
bool isServerFileName(const RefString& name)
{
    std::string trimmed(name.c_str());
    while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' '))
        trimmed.pop_back();
    return equalsIgnoringCase(trimmed.c_str(), kSettingsFileName) ||
           equalsIgnoringCase(trimmed.c_str(), kInfoBlockFileName) ||
           endsWithIgnoringCase(trimmed.c_str(), kRecordCacheSuffix);
}

// A file: URL that names the very file it would be downloaded to: the
// download would truncate the package before reading it, and the clean-up
// after indexing would delete it.
bool isOwnDownloadFile(const RefString& url, const RefString& localName)
{
    std::string source;
    std::error_code ignored;
    return platform::localPathOfUrl(url.c_str(), &source) &&
           std::filesystem::equivalent(source, localName.c_str(), ignored);
}

// Package names and info URLs come from archives of unknown origin; control
// bytes in them must not reach the operator's terminal.
RefString printable(const RefString& text)
{
    RefString shown;
    for (const char* p = text.c_str(); *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        shown += (c < 32 || c == 127) ? '?' : *p;
    }
    return shown;
}

// Closes the download session however the build ends.
struct DownloadSessionGuard {
    DownloadSession& session;
    ~DownloadSessionGuard() { session.close(); }
};

// The operator's answers, one per package, asked for before any work.
class OperatorPrompt {
public:
    explicit OperatorPrompt(std::FILE* answers) : answers(answers) {}

    // True: download and index the package; false: use its cache file.
    bool ask(const RefString& localName)
    {
        say("Download and index %s - Yes,No,yesAll,nOall (Y/N/A/O) ? ", localName.c_str());
        if (answerAll) {
            say(rememberedYes ? "Y\n" : "N\n");
            return rememberedYes;
        }
        return readAnswer();
    }

private:
    bool readAnswer()
    {
        for (;;) {
            switch (std::fgetc(answers)) {
            case EOF:
                // Nobody is there to answer: keep what is cached, and let
                // the later prompts say so instead of waiting forever.
                say("N\n");
                return answerAllWith(false);
            case 'y':
            case 'Y':
                return true;
            case 'n':
            case 'N':
                return false;
            case 'a':
            case 'A':
                return answerAllWith(true);
            case 'o':
            case 'O':
                return answerAllWith(false);
            default:
                break;  // the line feed of an earlier answer, or a typo
            }
        }
    }

    bool answerAllWith(bool yes)
    {
        answerAll = true;
        rememberedYes = yes;
        return yes;
    }

    std::FILE* answers;
    bool answerAll = false;
    bool rememberedYes = false;
};

// The stored checksum and record of a cache file. False when the file is
// missing, unreadable or too short to hold the checksum.
bool readRecordCache(const RefString& cacheName, uint32_t& checksum, std::vector<uint8_t>& record)
{
    std::FILE* file = std::fopen(cacheName.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::vector<uint8_t> bytes;
    uint8_t block[kStreamCapacity];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    bool readWhole = std::ferror(file) == 0;
    std::fclose(file);
    if (!readWhole || bytes.size() < 4)
        return false;
    checksum = wire::readU32(bytes.data());
    record.assign(bytes.begin() + 4, bytes.end());
    return true;
}

// Written whole or not at all, so that a build that dies half-way never
// leaves a cache file that a later build would trust.
void storeRecordCache(const RefString& cacheName, uint32_t checksum, const MemoryStream& record)
{
    MemoryStream file(record.length + 4);
    writeU32(file, checksum);
    file.write(record.buffer, record.length);
    if (!platform::writeFileAtomically(cacheName.c_str(), file.buffer, file.length))
        say("Warning: Could not save %s, the next build will have to download the package again\n",
            cacheName.c_str());
}

// Reads the downloaded archive's block and entries into its record.
bool inspectPackage(PackageArchive& archive, MemoryStream& record)
{
    say("Scanning %s...\n", archive.script.archivePath.c_str());
    if (!archive.readInstallScript()) {
        say("%s", kBlockErrorMessage);
        return false;
    }
    if (!archive.script.blockFound)
        say("%s", kNoBlockWarning);
    say("Package name: %s\nInfo URL    : %s\n", printable(archive.script.packageName).c_str(),
        printable(archive.script.infoUrl).c_str());
    if (!archive.inspectEntries()) {
        say("%s", inspectionErrorMessage(archive).c_str());
        return false;
    }
    if (archive.serializeRecord(record) == 0) {
        say("%s", kNoRequiredFilesMessage);
        return false;
    }
    return true;
}

class CatalogueBuild {
public:
    CatalogueBuild(const Settings& source, DownloadSession& downloads) : source(source), downloads(downloads) {}

    bool run(InfoBlock& target, std::FILE* answers)
    {
        if (!checkPackageUrls())
            return false;
        writeCatalogueHead(catalogue, source);
        if (!downloads.open()) {
            say("Error: Unable to initialize Wininet.dll\n");
            return false;
        }
        DownloadSessionGuard session{downloads};
        askAboutPackages(answers);
        for (int32_t i = 0; i < packageCount(); ++i) {
            if (!addPackage(i))
                return false;
        }
        downloads.close();
        bool built = sealCatalogue(catalogue, blockChecksum, target) && saveInfoBlock(target);
        std::fflush(stdout);
        return built;
    }

private:
    int32_t packageCount() const { return source.packageUrls.size; }

    const RefString& urlOf(int32_t i) const { return source.packageUrls[i]; }

    int8_t kindOf(int32_t i) const
    {
        const ByteArray& kinds = source.packageKinds;
        return static_cast<int8_t>(i < kinds.size ? kinds[i] : Settings::kRequiredPackage);
    }

    // Done before the prompts, so the operator is not asked about a
    // configuration that cannot be built.
    bool checkPackageUrls() const
    {
        for (int32_t i = 0; i < packageCount(); ++i) {
            RefString localName = urlFileName(urlOf(i));
            if (!isUsableLocalName(localName)) {
                say("Error: Package URL %s has no usable file name\n", urlOf(i).c_str());
                return false;
            }
            if (isServerFileName(localName)) {
                say("Error: Package URL %s would be downloaded over the server's own file %s\n", urlOf(i).c_str(),
                    localName.c_str());
                return false;
            }
            if (isOwnDownloadFile(urlOf(i), localName)) {
                say("Error: Package URL %s names %s in the working folder, which the download would overwrite\n",
                    urlOf(i).c_str(), localName.c_str());
                return false;
            }
        }
        return true;
    }

    void askAboutPackages(std::FILE* answers)
    {
        OperatorPrompt prompt(answers);
        for (int32_t i = 0; i < packageCount(); ++i)
            rebuildFlags.add(prompt.ask(urlFileName(urlOf(i))) ? 1 : 0);
    }

    bool addPackage(int32_t i)
    {
        RefString localName = urlFileName(urlOf(i));
        if (rebuildFlags[i] == 0) {
            if (addCachedRecord(localName))
                return true;
            say("No information block for %s found, forced to download\n", localName.c_str());
        }
        return indexPackage(urlOf(i), localName, kindOf(i));
    }

    bool addCachedRecord(const RefString& localName)
    {
        RefString cacheName = recordCacheFileName(localName);
        uint32_t checksum = 0;
        std::vector<uint8_t> record;
        if (!readRecordCache(cacheName, checksum, record))
            return false;
        say("%s read..\n", cacheName.c_str());
        blockChecksum ^= checksum;
        catalogue.write(record.data(), static_cast<uint32_t>(record.size()));
        return true;
    }

    bool indexPackage(const RefString& url, const RefString& localName, int8_t kind)
    {
        if (!downloads.downloadPackage(url.c_str(), localName.c_str()))
            return false;
        MemoryStream record(kStreamCapacity);
        uint32_t checksum = 0;
        {
            // Closed at the end of this scope, so the file can be deleted.
            PackageArchive archive(localName.c_str(), kind);
            archive.packageUrl = url;
            if (!inspectPackage(archive, record))
                return false;
            checksum = archive.checksum;
        }
        blockChecksum ^= checksum;
        storeRecordCache(recordCacheFileName(localName), checksum, record);
        catalogue.write(record.buffer, record.length);
        say("Deleting local copy of %s\n", localName.c_str());
        platform::deleteFile(localName.c_str());  // a copy left behind harms nothing
        return true;
    }

    const Settings& source;
    DownloadSession& downloads;
    MemoryStream catalogue{kStreamCapacity};
    uint32_t blockChecksum = 0;  // XOR of the packages' checksums: the high half of the identifier
    ByteArray rebuildFlags;  // 1: download and index; 0: use the cache file
};

}  // namespace

RefString urlFileName(const RefString& url)
{
    const char* text = url.c_str();
    const char* slash = std::strrchr(text, '/');
    const char* backslash = std::strrchr(text, '\\');
    const char* last = (backslash != nullptr && (slash == nullptr || backslash > slash)) ? backslash : slash;
    return last == nullptr ? url : RefString(last + 1);
}

bool isUsableLocalName(const RefString& name)
{
    if (name.isEmpty() || std::strcmp(name.c_str(), ".") == 0 || std::strcmp(name.c_str(), "..") == 0)
        return false;
    for (int32_t i = 0; i < name.length(); ++i) {
        if (!isNameCharacter(name.c_str()[i]))
            return false;
    }
    return true;
}

RefString recordCacheFileName(const RefString& localName)
{
    return localName + RefString(kRecordCacheSuffix);
}

bool buildCatalogue(InfoBlock& target, DownloadSession& downloads, const Settings& source, std::FILE* answers)
{
    CatalogueBuild build(source, downloads);
    return build.run(target, answers);
}
