// Bytes as a catalogue into the client: the strict decoder, the reports it
// prints, and the way from a compressed block to the image.
#include "client/CatalogueDecoder.h"
#include "client/ChunkCollector.h"
#include "query/CatalogueReport.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void decodeAndReport(const uint8_t* bytes, size_t size)
{
    Catalogue catalogue;
    std::string error;
    if (!decodeCatalogue(bytes, size, catalogue, error)) {
        if (error.rfind("at offset ", 0) != 0)
            std::abort();
        return;
    }
    std::string text = catalogueText(catalogue);
    ServerSummary summary;
    summary.endpoint = "127.0.0.1:2322";
    std::string json = reportJson(summary, catalogue, nullptr);
    // Server texts never reach the terminal with their control bytes.
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 32 && c != '\n') || byte == 127)
            std::abort();
    }
    for (char c : json) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte < 32 && c != '\n') || byte >= 127)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    decodeAndReport(data, size);

    // The same bytes as a compressed block, as chunks would deliver it.
    std::vector<uint8_t> block(data, data + size);
    std::vector<uint8_t> image;
    std::string error;
    if (inflateCompressedBlock(block, image, error))
        decodeAndReport(image.data(), image.size());
    return 0;
}
