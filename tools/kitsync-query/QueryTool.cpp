// kitsync-query: asks a catalogue server what it serves, fetches and
// checks its catalogue, prints it and compares it with a game folder.

#include "client/CatalogueDecoder.h"
#include "client/CatalogueFetcher.h"
#include "client/FolderCheck.h"
#include "client/ServerLink.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/Terminal.h"
#include "query/CatalogueReport.h"
#include "query/ProgressLine.h"
#include "query/QueryOptions.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ProgramVersion.h"

namespace {

// Redraws one status line on standard error, a few times a second at
// most, and wipes it before anything else is printed.
class TerminalProgress : public FetchObserver {
public:
    void progressed(const FetchProgress& progress) override
    {
        uint32_t now = platform::tickCount();
        bool last = progress.received == progress.total;
        if (drawn && !last && now - lastDraw < 100)
            return;
        std::string line = progressLine(progress, 30);
        width = line.size() > width ? line.size() : width;
        std::fprintf(stderr, "\r%-*s", static_cast<int>(width), line.c_str());
        std::fflush(stderr);
        lastDraw = now;
        drawn = true;
    }

    ~TerminalProgress() override
    {
        if (drawn)
            std::fprintf(stderr, "\r%*s\r", static_cast<int>(width), "");
    }

private:
    uint32_t lastDraw = 0;
    size_t width = 0;
    bool drawn = false;
};

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

struct QueryRun {
    explicit QueryRun(const QueryOptions& options) : options(options) {}

    const QueryOptions& options;
    ServerSummary summary;
    std::vector<uint8_t> image;
    Catalogue catalogue;
    FolderCheck check;

    // A server whose first port was taken listens at the second one, so a
    // port derived from the game's is tried at both before giving up.
    int queryServer(ServerLink& link, CatalogueFetcher& fetcher)
    {
        summary.endpoint = options.endpoint();
        QueryStatus status = fetcher.query(options.password, summary.answer);
        if (status == QueryStatus::noAnswer && options.fallbackPort != 0) {
            link.retarget(options.fallbackPort);
            summary.endpoint = options.fallbackEndpoint();
            status = fetcher.query(options.password, summary.answer);
        }
        if (status == QueryStatus::refused)
            return fail(kExitRefused, "the server at " + summary.endpoint + " refused the password" +
                                          (options.password.empty() ? "; it needs one (--password)" : ""));
        if (status == QueryStatus::noAnswer)
            return fail(kExitNoAnswer, "no answer from " + noAnswerEndpoints() +
                                           " (the catalogue server listens at the game port + 20 or + 40)");
        if (!options.json) {
            std::fputs(summaryText(summary).c_str(), stdout);
            std::fflush(stdout);
        }
        return kExitOk;
    }

    std::string noAnswerEndpoints() const
    {
        if (options.fallbackPort == 0)
            return options.endpoint();
        return options.endpoint() + " or " + options.fallbackEndpoint();
    }

    int fetchCatalogue(CatalogueFetcher& fetcher)
    {
        ChunkCollector collector(summary.answer.chunkCount);
        std::string error;
        bool fetched;
        if (platform::standardErrorIsTerminal()) {
            TerminalProgress progress;
            fetched = fetcher.fetchChunks(collector, &progress, error);
        } else {
            fetched = fetcher.fetchChunks(collector, nullptr, error);
        }
        if (!fetched)
            return fail(kExitTransferFailed, "catalogue transfer failed: " + error);
        if (!inflateCompressedBlock(collector.compressedBlock(), image, error))
            return fail(kExitTransferFailed, "the catalogue does not unpack: " + error);
        return kExitOk;
    }

    // Saving comes before decoding so that an image this client cannot
    // read is still there to look at.
    int saveAndDecode()
    {
        if (!options.saveFile.empty() && !saveBytes(options.saveFile, image))
            return fail(kExitLocalFailure, "cannot write " + options.saveFile);
        std::string error;
        if (!decodeCatalogue(image.data(), image.size(), catalogue, error))
            return fail(kExitTransferFailed, "the catalogue is malformed " + error);
        return kExitOk;
    }

    int compare()
    {
        std::string error;
        if (!options.checkFolder.empty() && !checkFolder(catalogue, options.checkFolder, check, error))
            return fail(kExitLocalFailure, error);
        return kExitOk;
    }

    int print()
    {
        bool checked = !options.checkFolder.empty();
        if (options.json) {
            std::fputs(reportJson(summary, catalogue, checked ? &check : nullptr).c_str(), stdout);
        } else {
            std::fputs(("\n" + catalogueText(catalogue)).c_str(), stdout);
            if (checked)
                std::fputs(("\n" + checkText(check)).c_str(), stdout);
        }
        std::fflush(stdout);
        return checked && !check.requiredComplete() ? kExitCheckFailed : kExitOk;
    }

    int run(ServerLink& link)
    {
        FetchSettings settings;
        settings.answerTimeoutMs = options.timeoutMs;
        settings.quietTimeoutMs = options.timeoutMs;
        CatalogueFetcher fetcher(link, settings);
        int status = queryServer(link, fetcher);
        if (status == kExitOk)
            status = fetchCatalogue(fetcher);
        if (status == kExitOk)
            status = saveAndDecode();
        if (status == kExitOk)
            status = compare();
        return status == kExitOk ? print() : status;
    }
};

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
    uint32_t address = platform::resolveHost(options.host.c_str());
    if (address == platform::noAddress)
        return fail(kExitUsage, "cannot resolve the host " + options.host);
    ServerLink link(address, options.port);
    if (!link.open())
        return fail(kExitLocalFailure, "cannot open a UDP socket");
    return QueryRun(options).run(link);
}
