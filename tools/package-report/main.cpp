// kitsync-inspect: reads a package archive exactly as the catalogue build
// does and shows what the catalogue would say about it, so that package
// authors can check an archive before publishing it.

#include "PackageReport.h"
#include "catalogue/MemoryStream.h"
#include "catalogue/PackageArchive.h"

#include <cstdio>
#include <cstring>

#include "ProgramVersion.h"

namespace {

const char kUsage[] = "Usage: kitsync-inspect [--json] ARCHIVE.zip\n"
                      "Reads the archive's instruction block and entries as the server's catalogue\n"
                      "build does; prints the rules, the install tree, the listed files and the\n"
                      "package checksum, or the build's error message (exit status 1).\n"
                      "  --json      print the report as JSON\n"
                      "  --help      print this text and exit\n"
                      "  --version   print the version and exit\n";

// The build's steps in its order; each failure stops with its message.
void inspect(PackageArchive& archive, PackageReport& report)
{
    report.blockRead = archive.readInstallScript();
    if (!report.blockRead) {
        report.error = kBlockErrorMessage;
        return;
    }
    report.entriesRead = archive.inspectEntries();
    if (!report.entriesRead) {
        report.error = inspectionErrorMessage(archive);
        return;
    }
    MemoryStream record(4096);
    report.listedFiles = archive.serializeRecord(record);
    if (report.listedFiles == 0)
        report.error = kNoRequiredFilesMessage;
}

}  // namespace

int main(int argc, char** argv)
{
    if (answerHelpOrVersion(argc, argv, "kitsync-inspect", kUsage))
        return 0;
    bool json = false;
    bool wrongUse = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (path == nullptr && argv[i][0] != '-')
            path = argv[i];
        else
            wrongUse = true;
    }
    if (path == nullptr || wrongUse) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    PackageArchive archive(path, 10);
    PackageReport report(archive);
    inspect(archive, report);
    std::string out = json ? reportJson(report) : reportText(report);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return report.error.isEmpty() ? 0 : 1;
}
