#include "query/CatalogueRetrieval.h"

#include "client/CatalogueDecoder.h"
#include "client/ChunkCollector.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/Terminal.h"
#include "query/ProgressLine.h"

#include <cstdio>

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

}  // namespace

CatalogueRetrieval::CatalogueRetrieval(const QueryOptions& options) : options(options) {}

CatalogueRetrieval::~CatalogueRetrieval() = default;

int CatalogueRetrieval::open(std::string& message)
{
    uint32_t address = platform::resolveHost(options.host.c_str());
    if (address == platform::noAddress) {
        message = "cannot resolve the host " + options.host;
        return kExitUsage;
    }
    link.reset(new ServerLink(address, options.port));
    if (!link->open()) {
        message = "cannot open a UDP socket";
        return kExitLocalFailure;
    }
    FetchSettings settings;
    settings.answerTimeoutMs = options.timeoutMs;
    settings.quietTimeoutMs = options.timeoutMs;
    fetcher.reset(new CatalogueFetcher(*link, settings));
    return kExitOk;
}

// A server whose first port was taken listens at the second one, so a
// port derived from the game's is tried at both before giving up.
int CatalogueRetrieval::query(std::string& message)
{
    summary.endpoint = options.endpoint();
    QueryStatus status = fetcher->query(options.password, summary.answer);
    if (status == QueryStatus::noAnswer && options.fallbackPort != 0) {
        link->retarget(options.fallbackPort);
        summary.endpoint = options.fallbackEndpoint();
        status = fetcher->query(options.password, summary.answer);
    }
    if (status == QueryStatus::refused) {
        message = "the server at " + summary.endpoint + " refused the password" +
                  (options.password.empty() ? "; it needs one (--password)" : "");
        return kExitRefused;
    }
    if (status == QueryStatus::noAnswer) {
        message = "no answer from " + noAnswerEndpoints() + " (the catalogue server listens at the game port + 20 or + 40)";
        return kExitNoAnswer;
    }
    return kExitOk;
}

std::string CatalogueRetrieval::noAnswerEndpoints() const
{
    if (options.fallbackPort == 0)
        return options.endpoint();
    return options.endpoint() + " or " + options.fallbackEndpoint();
}

int CatalogueRetrieval::fetch(std::string& message)
{
    ChunkCollector collector(summary.answer.chunkCount);
    std::string error;
    bool fetched;
    if (platform::standardErrorIsTerminal()) {
        TerminalProgress progress;
        fetched = fetcher->fetchChunks(collector, &progress, error);
    } else {
        fetched = fetcher->fetchChunks(collector, nullptr, error);
    }
    if (!fetched) {
        message = "catalogue transfer failed: " + error;
        return kExitTransferFailed;
    }
    if (!inflateCompressedBlock(collector.compressedBlock(), image, error)) {
        message = "the catalogue does not unpack: " + error;
        return kExitTransferFailed;
    }
    return kExitOk;
}

int CatalogueRetrieval::decode(std::string& message)
{
    std::string error;
    if (!decodeCatalogue(image.data(), image.size(), catalogue, error)) {
        message = "the catalogue is malformed " + error;
        return kExitTransferFailed;
    }
    return kExitOk;
}
