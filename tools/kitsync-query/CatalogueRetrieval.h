#pragma once

#include "client/Catalogue.h"
#include "client/CatalogueFetcher.h"
#include "client/ServerLink.h"
#include "query/CatalogueReport.h"
#include "query/QueryOptions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The steps every player tool takes to learn a server's catalogue, in this
// order: open (resolve the host, open a socket), query (with the fallback
// port), fetch (the chunks, with a progress line when standard error is a
// terminal) and decode. Each returns a QueryExitStatus; on failure the
// message says what went wrong, ready to print after the tool's name.
class CatalogueRetrieval {
public:
    explicit CatalogueRetrieval(const QueryOptions& options);
    ~CatalogueRetrieval();
    CatalogueRetrieval(const CatalogueRetrieval&) = delete;
    CatalogueRetrieval& operator=(const CatalogueRetrieval&) = delete;

    int open(std::string& message);
    int query(std::string& message);
    int fetch(std::string& message);
    int decode(std::string& message);

    ServerSummary summary;       // after query
    std::vector<uint8_t> image;  // after fetch: the catalogue unpacked
    Catalogue catalogue;         // after decode

private:
    std::string noAnswerEndpoints() const;

    const QueryOptions& options;
    std::unique_ptr<ServerLink> link;
    std::unique_ptr<CatalogueFetcher> fetcher;
};
