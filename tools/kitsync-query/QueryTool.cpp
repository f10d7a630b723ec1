// kitsync-query: asks a catalogue server what it serves, fetches and
// checks its catalogue, prints it and compares it with a game folder.

#include "client/FolderCheck.h"
#include "query/CatalogueReport.h"
#include "query/CatalogueRetrieval.h"
#include "query/QueryOptions.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ProgramVersion.h"

namespace {

int fail(int status, const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "kitsync-query: %s\n", message.c_str());
    return status;
}

bool saveBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

int print(const QueryOptions& options, const CatalogueRetrieval& retrieval, const FolderCheck& check)
{
    bool checked = !options.checkFolder.empty();
    if (options.json) {
        std::fputs(reportJson(retrieval.summary, retrieval.catalogue, checked ? &check : nullptr).c_str(), stdout);
    } else {
        std::fputs(("\n" + catalogueText(retrieval.catalogue)).c_str(), stdout);
        if (checked)
            std::fputs(("\n" + checkText(check)).c_str(), stdout);
    }
    std::fflush(stdout);
    return checked && !check.requiredComplete() ? kExitCheckFailed : kExitOk;
}

// Saving comes before decoding so that an image this client cannot read
// is still there to look at.
int run(const QueryOptions& options)
{
    CatalogueRetrieval retrieval(options);
    std::string message;
    int status = retrieval.open(message);
    if (status == kExitOk)
        status = retrieval.query(message);
    if (status != kExitOk)
        return fail(status, message);
    if (!options.json) {
        std::fputs(summaryText(retrieval.summary).c_str(), stdout);
        std::fflush(stdout);
    }
    status = retrieval.fetch(message);
    if (status != kExitOk)
        return fail(status, message);
    if (!options.saveFile.empty() && !saveBytes(options.saveFile, retrieval.image))
        return fail(kExitLocalFailure, "cannot write " + options.saveFile);
    status = retrieval.decode(message);
    if (status != kExitOk)
        return fail(status, message);
    FolderCheck check;
    std::string error;
    if (!options.checkFolder.empty() && !checkFolder(retrieval.catalogue, options.checkFolder, check, error))
        return fail(kExitLocalFailure, error);
    return print(options, retrieval, check);
}

}  // namespace

int main(int argc, char** argv)
{
    if (answerHelpOrVersion(argc, argv, "kitsync-query", kQueryUsage))
        return kExitOk;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    QueryOptions options;
    std::string error;
    if (!parseQueryOptions(arguments, options, error)) {
        std::fprintf(stderr, "kitsync-query: %s\n%s", error.c_str(), kQueryUsage);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kQueryUsage, stdout);
        return kExitOk;
    }
    return run(options);
}
